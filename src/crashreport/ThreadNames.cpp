#include "crashreport/ThreadNames.h"

#include <map>
#include <mutex>

#include "rtl/ModuleInit.h"

namespace {

struct TThreadNames {
  std::mutex Lock;
  std::map<win::DWORD, Text> Names;
};

// Never destroyed: threads may still be named or looked up while the process ends.
TThreadNames& Register() {
  static TThreadNames* r = new TThreadNames;
  return *r;
}

// Made at start-up, before the services that name their threads.
struct TThreadNamesStartUp {
  TThreadNamesStartUp() { Register(); }
};
TThreadNamesStartUp ThreadNamesStartUp ORV_UNIT_INIT(unitorder::kThreadNames);

}  // namespace

void ThreadNameSet(win::DWORD aThreadId, const Text& aName) {
  TThreadNames& r = Register();
  std::lock_guard<std::mutex> g(r.Lock);
  if (aName.empty())
    r.Names.erase(aThreadId);
  else
    r.Names[aThreadId] = aName;
}

Text ThreadNameGet(win::DWORD aThreadId) {
  TThreadNames& r = Register();
  std::lock_guard<std::mutex> g(r.Lock);
  auto it = r.Names.find(aThreadId);
  return it == r.Names.end() ? Text() : it->second;
}

void ThreadNameRemove(win::DWORD aThreadId) { ThreadNameSet(aThreadId, Text()); }

std::vector<std::pair<win::DWORD, Text>> ThreadNamesGet() {
  TThreadNames& r = Register();
  std::lock_guard<std::mutex> g(r.Lock);
  return {r.Names.begin(), r.Names.end()};
}
