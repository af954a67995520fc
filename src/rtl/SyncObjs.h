// The runtime's synchronisation objects: a re-entrant critical section whose owner can be
// read, and a kernel event. The framework's TLock and TEvent derive from them.
#pragma once

#include "platform/win32api.h"
#include "rtl/Exception.h"

enum class TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

class TSynchroObject {
 public:
  TSynchroObject() = default;
  TSynchroObject(const TSynchroObject&) = delete;
  TSynchroObject& operator=(const TSynchroObject&) = delete;
  virtual ~TSynchroObject() = default;
  virtual void Acquire() {}
  virtual void Release() {}
  virtual TWaitResult WaitFor(win::DWORD aTimeout) { return TWaitResult::wrError; }
};

class TCriticalSection : public TSynchroObject {
 public:
  TCriticalSection() { win::InitializeCriticalSection(&FSection); }
  ~TCriticalSection() override { win::DeleteCriticalSection(&FSection); }
  void Acquire() override { win::EnterCriticalSection(&FSection); }
  void Release() override { win::LeaveCriticalSection(&FSection); }
  bool TryEnter() { return win::TryEnterCriticalSection(&FSection) != win::FALSE; }
  void Enter() { Acquire(); }
  void Leave() { Release(); }
  // The owning thread's id, 0 when free.
  win::DWORD OwnerGet() { return win::CriticalSectionOwnerGet(&FSection); }

 protected:
  win::CRITICAL_SECTION FSection;
};

// A kernel event; a name shares it between processes. Raises Exception when the system
// cannot create it.
class TEventObject : public TSynchroObject {
 public:
  TEventObject(bool bManualReset, bool bInitialState, const Text& aName);
  ~TEventObject() override;
  TWaitResult WaitFor(win::DWORD aTimeout) override;
  void SetEvent() { win::SetEvent(FHandle); }
  void ResetEvent() { win::ResetEvent(FHandle); }
  win::HANDLE Handle() const { return FHandle; }

 protected:
  win::HANDLE FHandle = nullptr;
};
