#include "diag/uMisc.h"

#include <algorithm>

#include "crashreport/CrashReport.h"
#include "diag/uDebug.h"
#include "diag/uThreadSync.h"
#include "params/uMiscLean.h"
#include "platform/win32api.h"
#include "rtl/ModuleInit.h"
#include "winsys/uWindowsFlags.h"

std::atomic<bool> AlertsOff{false};
std::atomic<bool> AlertsNoBreak{false};
std::atomic<bool> AlertsStop{false};

namespace {

constinit std::atomic<win::DWORD> gMainThreadId{0};

// Recorded before main, on the thread that starts the process.
struct TMiscStartUp {
  TMiscStartUp() { gMainThreadId.store(win::GetCurrentThreadId()); }
};
TMiscStartUp MiscStartUp ORV_UNIT_INIT(unitorder::kMiscLean);

void DebugOutput(const Text& aText) { win::OutputDebugStringW(aText.c_str()); }

// Plain character arrays: constant-initialised, usable from any start-up.
const char16_t* const kDeveloperMachines[] = {
    u"DEV-HALDOR", u"DEV-MIRELA", u"DEV-OSKAR", u"DEV-TIANA", u"DEV-BRENNA", u"DEV-KASIMIR", u"ORV-BUILD01",
};
const char16_t* const kExtraDeveloperMachine = u"ORV-LAB-X";

}  // namespace

// ---- Stops -----------------------------------------------------------------------------

void StopIf(bool aCondition, const Text& aText) {
  if (!aCondition) return;
  Text message = u"Error: " + aText;
  DebugOutput(message);
  DebuggerBreak();
  throw EDebugStop(message);
}

bool StopIfNot(bool aCondition, const Text& aText) {
  StopIf(!aCondition, aText);
  return aCondition;
}

void Stop(const Text& aText) {
  StopIf(true, aText);
  // StopIf(true, ...) always raises; this keeps the no-return promise visible.
  throw EDebugStop(u"Error: " + aText);
}

// ---- Alerts ----------------------------------------------------------------------------

void AlertIf(bool aCondition, const Text& aText) {
  if (!aCondition || AlertsOff.load()) return;
  ProblemNotify(u"Alert", aText, CallstackOfCurrentThread(), win::GetCurrentThreadId(), Text());
  if (DebuggerIsPresent()) {
    DebugOutput(u"Warning: " + aText);
    if (!AlertsNoBreak.load()) DebuggerBreak();
  } else if (AlertsStop.load()) {
    Stop(u"Alert " + aText);
  }
}

void Alert(const Text& aText) { AlertIf(true, aText); }
void AlertIfUsed() { AlertIf(true, u"Should not be used"); }

bool Verify(bool aCondition) {
  AlertIf(!aCondition, Text());
  return aCondition;
}

void VerifyLockTaken(TLock& aLock) { Verify(aLock.IsTakenByCurrentThread()); }

// ---- Debugger, threads, machines -------------------------------------------------------

bool DebuggerIsPresent() { return win::IsDebuggerPresent() != win::FALSE; }

void DebuggerBreak() {
  if (!DebuggerIsPresent()) return;
#if defined(__i386__) || defined(__x86_64__)
  __asm__ volatile("int3");
#endif
}

bool IsMainThread() { return win::GetCurrentThreadId() == gMainThreadId.load(); }

win::DWORD MainThreadIdGet() { return gMainThreadId.load(); }

Text ComputerNameGet() {
  // NetBIOS names are short, but the system may report up to MAX_PATH characters.
  std::vector<char16_t> buffer(win::MAX_PATH + 1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    win::DWORD size = static_cast<win::DWORD>(buffer.size());
    if (win::GetComputerNameW(buffer.data(), &size)) return Text(buffer.data(), size);
    if (win::GetLastError() != win::ERROR_BUFFER_OVERFLOW || size <= buffer.size()) break;
    buffer.resize(size);
  }
  return Text();
}

Text NtSymbolicLinkTargetGet(const Text& aLinkName) {
  // The counted name holds at most 32767 characters; a longer one names no object.
  if (aLinkName.size() > 0x7FFF) return Text();
  Text name = aLinkName;
  win::UNICODE_STRING objectName;
  objectName.Length = objectName.MaximumLength = static_cast<win::WORD>(name.size() * 2);
  objectName.Buffer = name.data();
  win::OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof(attributes);
  attributes.ObjectName = &objectName;
  win::HANDLE link = nullptr;
  if (!win::NT_SUCCESS(win::NtOpenSymbolicLinkObject(&link, win::GENERIC_READ, &attributes))) return Text();

  constexpr int kTargetChars = 128;
  char16_t buffer[kTargetChars] = {};
  win::UNICODE_STRING target;
  target.Length = 0;
  target.MaximumLength = kTargetChars * 2;
  target.Buffer = buffer;
  win::ULONG returned = 0;
  Text result;
  if (Verify(win::NtQuerySymbolicLinkObject(link, &target, &returned) == win::STATUS_SUCCESS)) {
    // The length the system returns counts the terminating zero it stores when there is
    // room; the target is the counted text, without it.
    size_t chars = std::min<size_t>({returned / 2, target.Length / 2u, kTargetChars});
    result.assign(buffer, chars);
    while (!result.empty() && result.back() == 0) result.pop_back();
  }
  win::NtClose(link);
  return result;
}

bool ComputerIsDeveloperMachine(const Text& aComputerName) {
  Text name = aComputerName.empty() ? ComputerNameGet() : aComputerName;
  if (!name.empty())
    for (const char16_t* m : kDeveloperMachines)
      if (TextSameIgnoreCase(name, m)) return true;
  return ComputerIsExtraDeveloperMachine();
}

bool ComputerIsExtraDeveloperMachine() {
  Text name = ComputerNameGet();
  return !name.empty() && TextSameIgnoreCase(name, kExtraDeveloperMachine);
}

// ---- Values and texts ------------------------------------------------------------------

std::int64_t VariantToInt64(const Variant& aValue) {
  if (aValue.IsNull()) return 0;
  if (aValue.IsText() && aValue.TextRef().empty()) return 0;
  return aValue.ToInt64();
}

bool TextHasChar(TextView aText, char16_t aChar) { return aText.find(aChar) != TextView::npos; }

// ---- Result texts ----------------------------------------------------------------------

Text ResultText(bool bResult) {
  if (bResult) return u"OK";
  // Read first: nothing may change the last error before it is taken.
  win::DWORD code = win::GetLastError();
  return WindowsErrorText(code);
}

Text WindowsErrorText(std::int64_t aCode) {
  if (aCode == 0) return u"OK";
  return u"ERROR: " + Describe(Variant(aCode), u"WindowsError");
}

// ---- Flag sets -------------------------------------------------------------------------

int FlagsCount(std::uint64_t aValue) {
  int count = 0;
  for (; aValue != 0; aValue &= aValue - 1) ++count;
  return count;
}

bool FlagsHasAny(std::uint64_t aFlags, std::uint64_t aMask) {
  Verify(aMask != 0);
  return (aFlags & aMask) != 0;
}

bool FlagsHas(std::uint64_t aFlags, std::uint64_t aFlag) {
  Verify(FlagsCount(aFlag) <= 1);
  return FlagsHasAny(aFlags, aFlag);
}

std::uint64_t FlagsAdd(std::uint64_t aFlags, std::uint64_t aFlag) { return aFlags | aFlag; }

std::uint64_t FlagsRemove(std::uint64_t aFlags, std::uint64_t aFlag) {
  return FlagsHas(aFlags, aFlag) ? (aFlags & ~aFlag) : aFlags;
}

void FlagsInclude(std::uint64_t& aFlags, std::uint64_t aFlag) { aFlags = FlagsAdd(aFlags, aFlag); }

void FlagsExclude(std::uint64_t& aFlags, std::uint64_t aFlag) { aFlags = FlagsRemove(aFlags, aFlag); }

void FlagsExclude(win::DWORD& aFlags, win::DWORD aFlag) {
  aFlags = static_cast<win::DWORD>(FlagsRemove(aFlags, aFlag));
}

// ---- Architecture ----------------------------------------------------------------------

int ProcessPointerBits() { return win::ProgramPointerBits(); }

Text ProcessArchitectureName() { return ProcessPointerBits() == 64 ? u"x64" : u"x86"; }

bool WindowsIs64Bit() {
  if (ProcessArchitectureName() == u"x64") return true;
  // Looked up at run time: Windows versions before XP SP2 do not have it.
  using TIsWow64Process = win::BOOL(ORV_WINAPI*)(win::HANDLE, win::BOOL*);
  win::HMODULE kernel = win::LoadLibraryW(u"kernel32.dll");
  if (!kernel) return false;
  bool result = false;
  if (win::FARPROC proc = win::GetProcAddress(kernel, "IsWow64Process")) {
    auto isWow64Process = reinterpret_cast<TIsWow64Process>(proc);
    win::BOOL wow64 = win::FALSE;
    result = isWow64Process(win::GetCurrentProcess(), &wow64) != win::FALSE && wow64 != win::FALSE;
  }
  win::FreeLibrary(kernel);
  return result;
}

Text ArchitectureName() { return WindowsIs64Bit() ? u"x64" : u"x86"; }
