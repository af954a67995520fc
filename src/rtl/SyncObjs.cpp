#include "rtl/SyncObjs.h"

#include <string>

TEventObject::TEventObject(bool bManualReset, bool bInitialState, const Text& aName) {
  FHandle = win::CreateEventW(nullptr, bManualReset ? win::TRUE : win::FALSE, bInitialState ? win::TRUE : win::FALSE,
                              aName.empty() ? nullptr : aName.c_str());
  if (!FHandle)
    throw Exception(u"Event could not be created, error " + T(std::to_string(win::GetLastError())) +
                    (aName.empty() ? Text() : u": " + aName));
}

TEventObject::~TEventObject() {
  if (FHandle) win::CloseHandle(FHandle);
}

TWaitResult TEventObject::WaitFor(win::DWORD aTimeout) {
  switch (win::WaitForSingleObject(FHandle, aTimeout)) {
    case win::WAIT_OBJECT_0:
      return TWaitResult::wrSignaled;
    case win::WAIT_TIMEOUT:
      return TWaitResult::wrTimeout;
    case win::WAIT_ABANDONED:
      return TWaitResult::wrAbandoned;
    default:
      return TWaitResult::wrError;
  }
}
