// How a simulated call fails: the calling thread's last error is set and the call's failure
// value returned, as the system does.
#pragma once

#include "platform/win32api_base.h"

namespace sim {

template <class R>
R Fail(win::DWORD aError, R aResult) {
  win::SetLastError(aError);
  return aResult;
}

// ERROR_NOT_READY: the program runs on no machine.
constexpr win::DWORD kErrorNotReady = 21;

}  // namespace sim
