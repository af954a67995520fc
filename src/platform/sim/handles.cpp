#include "platform/sim/handles.h"

#include <mutex>
#include <unordered_map>

namespace sim {

namespace {

struct HandleTable {
  std::mutex lock;
  std::unordered_map<win::ULONG_PTR, std::shared_ptr<KernelObject>> objects;
  win::ULONG_PTR next = 0x100;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // lives to the very end of the process
  return *table;
}

}  // namespace

win::HANDLE HandleInsert(std::shared_ptr<KernelObject> aObject) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  win::ULONG_PTR value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(aObject));
  return reinterpret_cast<win::HANDLE>(value);
}

std::shared_ptr<KernelObject> HandleGet(win::HANDLE aHandle) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.objects.find(reinterpret_cast<win::ULONG_PTR>(aHandle));
  return it == t.objects.end() ? nullptr : it->second;
}

bool HandleClose(win::HANDLE aHandle) {
  std::shared_ptr<KernelObject> victim;  // released outside the table's lock
  HandleTable& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.objects.find(reinterpret_cast<win::ULONG_PTR>(aHandle));
  if (it == t.objects.end()) return false;
  victim = std::move(it->second);
  t.objects.erase(it);
  return true;
}

}  // namespace sim
