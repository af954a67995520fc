// The machine's registry file reader: any bytes give a whole store or a clear error, never a
// crash and never an empty store; a store written out reads back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/registry.h"

namespace {

[[noreturn]] void Broken(const char* aWhat, const std::string& aInput) {
  std::fprintf(stderr, "%s\n%s\n", aWhat, aInput.c_str());
  std::abort();
}

bool SameStore(const sim::RegStore& a, const sim::RegStore& b) {
  if (a.FKeys.size() != b.FKeys.size()) return false;
  for (size_t i = 0; i < a.FKeys.size(); ++i) {
    const auto& x = a.FKeys[i];
    const auto& y = b.FKeys[i];
    if (x.Path != y.Path || x.Values.size() != y.Values.size()) return false;
    for (size_t j = 0; j < x.Values.size(); ++j)
      if (x.Values[j].Name != y.Values[j].Name || x.Values[j].Type != y.Values[j].Type || x.Values[j].Data != y.Values[j].Data)
        return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  std::string text(reinterpret_cast<const char*>(aData), aSize);
  sim::RegStore store;
  try {
    store = sim::RegistryParse(text, "registry.txt");
  } catch (const sim::MachineError& e) {
    if (std::string(e.what()).find("registry.txt") == std::string::npos) Broken("an error that names no file", text);
    return 0;
  }
  if (store.FKeys.empty() || !store.Find(u"HKLM")) Broken("read as an empty store", text);
  sim::RegStore again;
  try {
    again = sim::RegistryParse(sim::RegistryFormat(store), "registry.txt");
  } catch (const sim::MachineError& e) {
    Broken(e.what(), text);
  }
  if (!SameStore(store, again)) Broken("written out, it reads back otherwise", text);
  return 0;
}
