// Process basics of the simulated machine.
#include <sys/syscall.h>
#include <unistd.h>

#include <malloc.h>

#include <chrono>
#include <ctime>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "platform/sim/clock.h"
#include "platform/sim/machine.h"
#include "platform/utf.h"
#include "platform/win32api.h"
#include "platform/sim/threadcycles.h"

namespace win {

namespace {

thread_local DWORD tLastError = 0;

// What the process is: its image and command line as Windows paths and text.
struct Identity {
  Text Image;
  Text CommandLine;
  Text Computer = u"ORVANTA-TEST";
};

Identity* IdentityRead() {
  auto* self = new Identity;
  if (const sim::ProcessRecord* p = sim::CurrentProcess()) {
    self->Image = Utf8ToText(p->Image);
    self->CommandLine = Utf8ToText(p->CommandLine);
    try {
      self->Computer = Utf8ToText(sim::MachineConfigRead(sim::MachineFolderHost()).ComputerName);
    } catch (const sim::MachineError&) {
    }
    return self;
  }
  // A program on no machine: its host image and host arguments, quoted as Windows does.
  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  self->Image = n > 0 ? Utf8ToText(std::string(exe, static_cast<size_t>(n))) : Text();
  std::ifstream cmd("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(cmd)), std::istreambuf_iterator<char>());
  std::string line;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    if (!line.empty()) line += ' ';
    line += sim::CommandLineQuote(all.substr(start, end - start));
    start = end + 1;
  }
  self->CommandLine = Utf8ToText(line);
  return self;
}

// Read once the process belongs to a machine; before that (start-up code of a test program
// that attaches in main) read afresh, earlier answers kept alive for their callers.
const Identity& Self() {
  static std::mutex lock;
  static Identity* attached = nullptr;
  static Identity* unattached = nullptr;
  std::lock_guard<std::mutex> g(lock);
  if (attached) return *attached;
  if (sim::CurrentProcess()) {
    attached = IdentityRead();
    return *attached;
  }
  if (!unattached) unattached = IdentityRead();
  return *unattached;
}

}  // namespace

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD dwErrCode) { tLastError = dwErrCode; }

void Sleep(DWORD dwMilliseconds) {
  sim::TThreadBlocked blocked;
  std::this_thread::sleep_for(std::chrono::milliseconds(sim::ClockRealMs(dwMilliseconds)));
}
// The process's clock (sim/clock.h): the host's, plus what a virtual clock has skipped.
ULONGLONG GetTickCount64() { return sim::ClockTickMs(); }

ULONGLONG HeapBytesInUseGet() {
  struct mallinfo2 m = ::mallinfo2();
  return static_cast<ULONGLONG>(m.uordblks) + static_cast<ULONGLONG>(m.hblkhd);
}
DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }
void GetSystemTimeAsFileTime(FILETIME* lpSystemTimeAsFileTime) {
  // The process's clock (the host's, plus what a virtual clock has skipped); 100-ns
  // intervals from 1601-01-01 to 1970-01-01 added.
  using namespace std::chrono;
  auto since1970 = duration_cast<nanoseconds>(sim::ClockSystemNow().time_since_epoch()).count();
  ULONGLONG t = static_cast<ULONGLONG>(since1970) / 100ULL + 116444736000000000ULL;
  lpSystemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFF);
  lpSystemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

void GetLocalTime(SYSTEMTIME* lpSystemTime) {
  // The simulated machine's time zone is the host's.
  using namespace std::chrono;
  auto now = sim::ClockSystemNow();
  std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  ::localtime_r(&t, &local);
  lpSystemTime->wYear = static_cast<WORD>(local.tm_year + 1900);
  lpSystemTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
  lpSystemTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  lpSystemTime->wDay = static_cast<WORD>(local.tm_mday);
  lpSystemTime->wHour = static_cast<WORD>(local.tm_hour);
  lpSystemTime->wMinute = static_cast<WORD>(local.tm_min);
  lpSystemTime->wSecond = static_cast<WORD>(local.tm_sec % 60);
  lpSystemTime->wMilliseconds =
      static_cast<WORD>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  if (hModule != nullptr && hModule != GetModuleHandleW(nullptr)) {
    SetLastError(126);  // ERROR_MOD_NOT_FOUND: the process's own image is its only module
    return 0;
  }
  const Text& image = Self().Image;
  if (nSize == 0 || !lpFilename) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (image.size() + 1 > nSize) {
    // Truncated and terminated, as Windows does from Vista on.
    std::memcpy(lpFilename, image.data(), (nSize - 1) * sizeof(WCHAR));
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, image.c_str(), (image.size() + 1) * sizeof(WCHAR));
  return static_cast<DWORD>(image.size());
}

LPWSTR GetCommandLineW() { return const_cast<LPWSTR>(Self().CommandLine.c_str()); }

DWORD GetCurrentProcessId() {
  if (const sim::ProcessRecord* p = sim::CurrentProcess()) return p->Pid;
  return static_cast<DWORD>(::getpid());
}
DWORD GetCurrentThreadId() {
  // Asked on every lock operation: one system call per thread, not per call.
  thread_local DWORD id = static_cast<DWORD>(::syscall(SYS_gettid));
  return id;
}
HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }
HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)); }

void OutputDebugStringW(LPCWSTR lpOutputString) {
  // No debugger is attached to a simulated process; the text goes nowhere, as on Windows.
  (void)lpOutputString;
}

BOOL IsDebuggerPresent() { return FALSE; }

BOOL GetComputerNameW(LPWSTR lpBuffer, DWORD* nSize) {
  const Text& name = Self().Computer;
  if (!nSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (*nSize < name.size() + 1 || !lpBuffer) {
    *nSize = static_cast<DWORD>(name.size() + 1);
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(lpBuffer, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *nSize = static_cast<DWORD>(name.size());
  return TRUE;
}

}  // namespace win
