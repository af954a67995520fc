#include "diag/uUnits.h"

#include "platform/win32api.h"

TUnits* Units = nullptr;

void TUnit::Destroy(TUnit* aUnit) {
  if (!aUnit) return;
  struct TRelease {
    TUnit* FUnit;
    ~TRelease() { delete FUnit; }
  } release{aUnit};  // released even when OnDestroy raises
  aUnit->OnDestroy();
}

TUnit* TUnitToInitialize::InstanceGet() const {
  return GlobalVariable && GlobalGet ? GlobalGet(GlobalVariable) : nullptr;
}

void TUnitToInitialize::InstanceSet(TUnit* aInstance) const {
  if (GlobalVariable && GlobalSet) GlobalSet(GlobalVariable, aInstance);
}

TUnitToInitialize::~TUnitToInitialize() {
  TUnit* instance = InstanceGet();
  if (!instance) return;
  // The global stays valid while OnDestroy runs, and is cleared once the instance is gone.
  try {
    TUnit::Destroy(instance);
  } catch (const std::exception& e) {
    // At process end there is nobody left to catch it; say so and go on with the others.
    Text message = u"Error: " + DebugName + u" OnDestroy raised: " + Utf8ToText(e.what());
    win::OutputDebugStringW(message.c_str());
  } catch (...) {
    Text message = u"Error: " + DebugName + u" OnDestroy raised";
    win::OutputDebugStringW(message.c_str());
  }
  InstanceSet(nullptr);
}

TUnits::~TUnits() { Shutdown(); }

void TUnits::AddRaw(const Text& aModuleName, TUnitFactory aFactory, void* aGlobal, TUnitGlobalSet aSet,
                    TUnitGlobalGet aGet, std::vector<Text> aUnitsNeeded) {
  auto unit = std::make_unique<TUnitToInitialize>();
  unit->DebugName = aModuleName;
  unit->UnitClass = aFactory;
  unit->GlobalVariable = aGlobal;
  unit->GlobalSet = aSet;
  unit->GlobalGet = aGet;
  unit->UnitsNeeded = std::move(aUnitsNeeded);
  UnitsToInitialize.push_back(std::move(unit));
}

bool TUnits::SortUnitsByDependencies() {
  std::vector<std::unique_ptr<TUnitToInitialize>> remaining = std::move(UnitsToInitialize);
  std::vector<std::unique_ptr<TUnitToInitialize>> result;
  auto isInResult = [&result](const Text& aModule) {
    for (const auto& r : result)
      if (r->DebugName == aModule) return true;
    return false;
  };
  while (!remaining.empty()) {
    bool moved = false;
    for (std::size_t i = 0; i < remaining.size(); ++i) {
      bool ready = true;
      for (const Text& need : remaining[i]->UnitsNeeded)
        if (!isInResult(need)) {
          ready = false;
          break;
        }
      if (ready) {
        result.push_back(std::move(remaining[i]));
        remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(i));
        moved = true;
        break;  // scan again from the start: earlier registrations go first
      }
    }
    if (!moved) {
      // Leave the registrations as they were: the sorted ones first, then the rest.
      for (auto& r : remaining) result.push_back(std::move(r));
      UnitsToInitialize = std::move(result);
      throw Exception(u"Circular dependency");
    }
  }
  UnitsToInitialize = std::move(result);
  return true;
}

void TUnits::Run() {
  if (FRun) throw Exception(u"Units already run");
  SortUnitsByDependencies();
  FRun = true;
  for (const auto& unit : UnitsToInitialize) {
    TUnit* instance = unit->UnitClass();
    // Set before OnCreate, so that what OnCreate calls already reaches the service.
    unit->InstanceSet(instance);
    instance->OnCreate();
  }
}

void TUnits::Shutdown() {
  while (!UnitsToInitialize.empty()) {
    std::unique_ptr<TUnitToInitialize> last = std::move(UnitsToInitialize.back());
    UnitsToInitialize.pop_back();
    last.reset();
  }
}

namespace {

// A plain global: constructed after every prioritised start-up, so destroyed before them
// at process end; the services go down while the units they rely on still exist.
struct TUnitsShutdown {
  ~TUnitsShutdown() {
    TUnits* units = Units;
    Units = nullptr;
    delete units;
  }
};
TUnitsShutdown UnitsShutdown;

}  // namespace
