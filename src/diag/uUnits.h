// The start-up registry of the framework's service singletons.
//
// Each service module registers its service while the process starts up, from its start-up
// object (rtl/ModuleInit.h):
//
//   UnitsAdd<TLockController>(u"uThreadSync", &LockController, {});
//   UnitsAdd<TDebug>(u"uDebug", &Debug, {u"uThreadSync", u"uJobPool"});
//
// The program's entry point calls Units->Run() once: the services are created in the order
// of their needs, each allocated blank (new T(): members zero or empty, constructor doing
// nothing), stored in its global and then given OnCreate. At process end the registry
// destroys them in reverse order (OnDestroy, release, global set to null).
//
// A service class derives from TUnit and declares no constructor of its own, so that new T()
// gives a blank instance with every field zero or empty; its set-up is OnCreate, its
// tear-down OnDestroy. It is released only through TUnit::Destroy, which calls OnDestroy
// on the complete object first.
#pragma once

#include <memory>
#include <type_traits>
#include <vector>

#include "platform/win32api_types.h"
#include "rtl/Exception.h"

class TUnit {
 public:
  TUnit() = default;
  TUnit(const TUnit&) = delete;
  TUnit& operator=(const TUnit&) = delete;
  virtual ~TUnit() = default;

  virtual void OnCreate() {}
  virtual void OnDestroy() {}

  // OnDestroy, then releases the instance. A C++ destructor cannot reach the derived
  // OnDestroy, so the tear-down runs here, while the object is still whole.
  static void Destroy(TUnit* aUnit);
};

using TUnitFactory = TUnit* (*)();
using TUnitGlobalSet = void (*)(void* aGlobal, TUnit* aInstance);
using TUnitGlobalGet = TUnit* (*)(void* aGlobal);

// One registration.
class TUnitToInitialize {
 public:
  std::vector<Text> UnitsNeeded;
  TUnitFactory UnitClass = nullptr;
  // The address of the global reference (a T**), read and written through the two typed
  // accessors made by TUnits::Add.
  void* GlobalVariable = nullptr;
  TUnitGlobalSet GlobalSet = nullptr;
  TUnitGlobalGet GlobalGet = nullptr;
  Text DebugName;

  TUnitToInitialize() = default;
  TUnitToInitialize(const TUnitToInitialize&) = delete;
  TUnitToInitialize& operator=(const TUnitToInitialize&) = delete;
  // Destroys the instance held in the global reference (if any) and clears the reference.
  ~TUnitToInitialize();

  TUnit* InstanceGet() const;
  void InstanceSet(TUnit* aInstance) const;
};

class TUnits {
 public:
  // Registration order until SortUnitsByDependencies; creation order afterwards.
  std::vector<std::unique_ptr<TUnitToInitialize>> UnitsToInitialize;

  TUnits() = default;
  TUnits(const TUnits&) = delete;
  TUnits& operator=(const TUnits&) = delete;
  // Shutdown: the registrations are destroyed from the last to the first.
  ~TUnits();

  // Registers T under its module name aModuleName; the instance will go to *aGlobal.
  template <class T>
  void Add(const Text& aModuleName, T** aGlobal, std::vector<Text> aUnitsNeeded) {
    static_assert(std::is_base_of_v<TUnit, T>, "a service derives from TUnit");
    AddRaw(aModuleName, []() -> TUnit* { return new T(); }, static_cast<void*>(aGlobal),
           [](void* g, TUnit* u) { *static_cast<T**>(g) = static_cast<T*>(u); },
           [](void* g) -> TUnit* { return *static_cast<T**>(g); }, std::move(aUnitsNeeded));
  }
  void AddRaw(const Text& aModuleName, TUnitFactory aFactory, void* aGlobal, TUnitGlobalSet aSet,
              TUnitGlobalGet aGet, std::vector<Text> aUnitsNeeded);

  // Orders the registrations so that each comes after all the modules it needs, keeping
  // registration order among the ready ones. Raises Exception "Circular dependency" for a
  // cycle, a service that needs itself or a need no registration meets; nothing changes then.
  bool SortUnitsByDependencies();
  // Sorts, then creates every service in that order. Nothing is created when the sort
  // raises. A second call raises Exception "Units already run".
  void Run();
  // Destroys the registrations from the last to the first (as the destructor does).
  void Shutdown();

 private:
  bool FRun = false;
};

// The process-wide registry; created by the first UnitsAdd, destroyed at process end.
extern TUnits* Units;

// Creates Units when needed, then Units->Add<T>(...).
template <class T>
void UnitsAdd(const Text& aModuleName, T** aGlobal, std::vector<Text> aUnitsNeeded) {
  if (!Units) Units = new TUnits();
  Units->Add<T>(aModuleName, aGlobal, std::move(aUnitsNeeded));
}
