// Exceptions raised for a debugger (Linux build).
//
// No debugger attaches to a simulated process. The thread-naming exception names the host
// thread instead (15 characters, as Linux keeps them), so that host tools show the name.
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/win32api.h"
#include "platform/sim/threadcycles.h"

namespace win {

void RaiseException(DWORD dwExceptionCode, DWORD dwExceptionFlags, DWORD nNumberOfArguments,
                    const ULONG_PTR* lpArguments) {
  (void)dwExceptionFlags;
  if (dwExceptionCode == MS_VC_EXCEPTION) {
    if (nNumberOfArguments < 3 || !lpArguments || lpArguments[0] != MS_VC_EXCEPTION_TYPE_THREADNAME) return;
    const char* name = reinterpret_cast<const char*>(lpArguments[1]);
    if (!name) return;
    DWORD tid = static_cast<DWORD>(lpArguments[2]);
    std::string shortName = std::string(name).substr(0, 15);
    if (tid == 0xFFFFFFFF || tid == static_cast<DWORD>(::syscall(SYS_gettid))) {
      ::pthread_setname_np(::pthread_self(), shortName.c_str());
    } else if (FILE* f = std::fopen(("/proc/self/task/" + std::to_string(tid) + "/comm").c_str(), "w")) {
      std::fputs(shortName.c_str(), f);
      std::fclose(f);
    }
    return;
  }
  // Nothing handles structured exceptions here: the process ends with the code, as an
  // unhandled exception ends a Windows process.
  std::fprintf(stderr, "unhandled exception 0x%08X\n", static_cast<unsigned>(dwExceptionCode));
  std::fflush(stderr);
  std::_Exit(static_cast<int>(dwExceptionCode));
}

namespace {

FILETIME FileTimeOf(std::uint64_t a100ns) {
  return FILETIME{static_cast<DWORD>(a100ns & 0xFFFFFFFF), static_cast<DWORD>(a100ns >> 32)};
}

bool IsCurrentThreadHandle(HANDLE h) { return h == GetCurrentThread(); }

}  // namespace

// Only the calling thread's own times are kept by the host at hand (the pseudo handle).
BOOL GetThreadTimes(HANDLE hThread, FILETIME* lpCreationTime, FILETIME* lpExitTime, FILETIME* lpKernelTime,
                    FILETIME* lpUserTime) {
  if (!IsCurrentThreadHandle(hThread)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!lpCreationTime || !lpExitTime || !lpKernelTime || !lpUserTime) {
    SetLastError(998);  // ERROR_NOACCESS
    return FALSE;
  }
  // Windows accounts a thread's kernel and user times at the clock interrupt, so they move in
  // steps of a tick; the host's figures are read again only when its coarse clock has ticked.
  // A reading per tick instead of per call keeps this cheap for a caller that measures many
  // short pieces of work (the job pool measures every job).
  struct TTimes {
    timespec Tick{-1, 0};
    std::uint64_t Kernel = 0, User = 0;
  };
  static thread_local TTimes tTimes;
  timespec tick{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &tick);
  if (tick.tv_sec != tTimes.Tick.tv_sec || tick.tv_nsec != tTimes.Tick.tv_nsec) {
    struct rusage u {};
    ::getrusage(RUSAGE_THREAD, &u);
    auto to100ns = [](const timeval& t) {
      return static_cast<std::uint64_t>(t.tv_sec) * 10000000ULL + static_cast<std::uint64_t>(t.tv_usec) * 10ULL;
    };
    tTimes = TTimes{tick, to100ns(u.ru_stime), to100ns(u.ru_utime)};
  }
  *lpCreationTime = FileTimeOf(0);
  *lpExitTime = FileTimeOf(0);
  *lpKernelTime = FileTimeOf(tTimes.Kernel);
  *lpUserTime = FileTimeOf(tTimes.User);
  return TRUE;
}

BOOL QueryThreadCycleTime(HANDLE ThreadHandle, ULONGLONG* CycleTime) {
  if (!IsCurrentThreadHandle(ThreadHandle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!CycleTime) {
    SetLastError(998);  // ERROR_NOACCESS
    return FALSE;
  }
  *CycleTime = sim::ThreadCyclesGet();
  return TRUE;
}

}  // namespace win
