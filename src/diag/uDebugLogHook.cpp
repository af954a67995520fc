#include "diag/uDebugLogHook.h"

#include <mutex>

#include "platform/win32api.h"

namespace {

// Made on first use and never destroyed: lines may come from start-ups and shut-downs of
// other units, before this file's globals exist or after they would be gone.
std::mutex& HookLock() {
  static std::mutex* lock = new std::mutex();
  return *lock;
}
TDebugLogHook& HookRef() {
  static TDebugLogHook* hook = new TDebugLogHook();
  return *hook;
}

}  // namespace

TDebugLogHook DebugLogHookSet(TDebugLogHook aHook) {
  std::lock_guard<std::mutex> guard(HookLock());
  TDebugLogHook previous = std::move(HookRef());
  HookRef() = std::move(aHook);
  return previous;
}

void DebugLogWrite(const Text& aText) {
  const win::DWORD lastError = win::GetLastError();
  TDebugLogHook hook;
  {
    std::lock_guard<std::mutex> guard(HookLock());
    hook = HookRef();
  }
  // Called outside the lock: the hook may itself write a line.
  if (hook)
    hook(aText);
  else
    win::OutputDebugStringW(aText.c_str());
  win::SetLastError(lastError);
}
