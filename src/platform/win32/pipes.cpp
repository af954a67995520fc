// Named pipes: the real API.
// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/win32api.h"

#include <windows.h>

#include "platform/win32/convert.h"

namespace win {

HANDLE CreateNamedPipeW(LPCWSTR lpName, DWORD dwOpenMode, DWORD dwPipeMode, DWORD nMaxInstances, DWORD nOutBufferSize,
                        DWORD nInBufferSize, DWORD nDefaultTimeOut, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  return ::CreateNamedPipeW(W(lpName), dwOpenMode, dwPipeMode, nMaxInstances, nOutBufferSize, nInBufferSize,
                            nDefaultTimeOut, Same<SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES>(lpSecurityAttributes));
}
BOOL ConnectNamedPipe(HANDLE hNamedPipe, OVERLAPPED* lpOverlapped) {
  return ::ConnectNamedPipe(hNamedPipe, reinterpret_cast<::OVERLAPPED*>(lpOverlapped));
}
BOOL DisconnectNamedPipe(HANDLE hNamedPipe) { return ::DisconnectNamedPipe(hNamedPipe); }
BOOL WaitNamedPipeW(LPCWSTR lpNamedPipeName, DWORD nTimeOut) { return ::WaitNamedPipeW(W(lpNamedPipeName), nTimeOut); }

}  // namespace win
