#include "diag/uDebug.h"

#include <algorithm>
#include <cmath>

#include "crashreport/ThreadNames.h"
#include "diag/uMisc.h"
#include "logtransport/LogTransport.h"
#include "params/uMiscLean.h"
#include "platform/win32api.h"
#include "rtl/ModuleInit.h"
#include "ui/Application.h"
#include "ui/WindowClass.h"

TDebug* Debug = nullptr;

namespace {

struct TDebugStartUp {
  TDebugStartUp() { UnitsAdd<TDebug>(u"uDebug", &Debug, {u"uThreadSync", u"uJobPool"}); }
};
TDebugStartUp DebugStartUp ORV_UNIT_INIT(unitorder::kDebug);

const char16_t* const kLogFileExtension = u".log";
const char16_t* const kConsoleTitles[] = {u"Log Console Professional", u"Log Console Redistributable"};
const char16_t* const kMaxSizeDeveloperMachine = u"500 MB";
const char16_t* const kMaxSizeOtherMachine = u"50 MB";
constexpr std::int64_t kWipeOldLogFilesDelayMs = 300000;
constexpr std::int64_t kChecksIntervalMs = 1000;

constexpr int kHexBytesPerLine = 16;
constexpr int kHexLinesMax = 32;
constexpr std::size_t kHexColumnWidth = 48;

constexpr std::uint64_t kMemoryWatchedFromBytes = 11534335;
constexpr win::UINT kHangProbeTimeoutMs = 5000;
constexpr win::DWORD kHangExtraLongSeconds = 15;
const char16_t* const kHangWindowClass = u"TOrvantaHangDetection";
const char16_t* const kIdeWindowClass = u"TOrvantaIdeIntegration";

win::LRESULT ORV_WINAPI HangDetectionWindowProcOf(win::HWND hWnd, win::UINT aMsg, win::WPARAM wParam, win::LPARAM lParam) {
  if (TDebug* debug = Debug)
    if (debug->HangDetectionMessageWindowHandle == hWnd) return debug->HangDetectionWindowProc(hWnd, aMsg, wParam, lParam);
  return win::DefWindowProcW(hWnd, aMsg, wParam, lParam);
}

// Holds a framework lock for a scope.
class TLockGuard {
 public:
  explicit TLockGuard(TLock& aLock) : FLock(aLock) { FLock.Acquire(); }
  ~TLockGuard() { FLock.Release(); }
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

 private:
  TLock& FLock;
};

Text ReplaceAll(Text aText, TextView aWhat, TextView aWith) {
  for (std::size_t at = aText.find(aWhat); at != Text::npos; at = aText.find(aWhat, at + aWith.size()))
    aText.replace(at, aWhat.size(), aWith);
  return aText;
}

// Frames that are the reporting machinery itself, never the cause of a problem.
bool FrameIsNotReported(const TCallstackFrame& aFrame) {
  static const char16_t* const kMiscRoutines[] = {u"Alert",   u"AlertIf",    u"AlertIfUsed", u"Verify",
                                                  u"Avoid",   u"StopIf",     u"StopIfUsed",  u"VerifyLastError"};
  static const char16_t* const kDebugRoutines[] = {u"CallstackCreateForCurrentThread", u"CallstackCreateForThread"};
  if (aFrame.UnitName.empty() && aFrame.RoutineName.empty()) return true;
  if (aFrame.UnitName == u"uMisc")
    for (const char16_t* r : kMiscRoutines)
      if (TextSameIgnoreCase(aFrame.RoutineName, r)) return true;
  if (aFrame.UnitName == u"uDebug")
    for (const char16_t* r : kDebugRoutines)
      if (TextSameIgnoreCase(aFrame.RoutineName, r)) return true;
  return false;
}

Text PadRight(const Text& aText, std::size_t aWidth) {
  return aText.size() >= aWidth ? aText : aText + Text(aWidth - aText.size(), u' ');
}
Text PadLeft(const Text& aText, std::size_t aWidth) {
  return aText.size() >= aWidth ? aText : Text(aWidth - aText.size(), u' ') + aText;
}

}  // namespace

// ---- Free routines -----------------------------------------------------------------------

void DebugLog(const Text& aText) {
  if (TDebug* debug = Debug) debug->Log(aText);
}

Text BufferToHexDump(std::span<const std::uint8_t> aBuffer) {
  std::vector<Text> lines;
  lines.push_back(Text(70, u'-'));
  Text hex, chars;
  bool cut = false;
  for (std::size_t i = 0; i < aBuffer.size() && !cut; ++i) {
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    const std::uint8_t b = aBuffer[i];
    hex += u' ';
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
    chars += (b >= 32 && b <= 127) ? static_cast<char16_t>(b) : u'.';
    if ((i + 1) % kHexBytesPerLine == 0 || i + 1 == aBuffer.size()) {
      const std::size_t number = lines.size();
      if (number > static_cast<std::size_t>(kHexLinesMax)) {
        lines.push_back(Text(70, u'.'));
        cut = true;
        break;
      }
      Text numberText = UIntToText(number);
      if (numberText.size() == 1) numberText = u"0" + numberText;
      lines.push_back(numberText + u":" + PadRight(hex, kHexColumnWidth) + u" | " + chars);
      hex.clear();
      chars.clear();
    }
  }
  Text result;
  for (const Text& l : lines) result += l + u"\r\n";
  return result;
}

Text CallstackToText(const TCallstack& aCallstack) {
  constexpr int kColumns = 5;
  std::vector<std::array<Text, kColumns>> rows;
  rows.reserve(aCallstack.size());
  for (const TCallstackFrame& f : aCallstack) {
    std::array<Text, kColumns> row;
    const bool hasUnit = !f.UnitName.empty();
    row[0] = hasUnit ? f.UnitName : f.ModuleName;
    if (hasUnit) row[1] = IntToText(f.Line);
    Text routine = f.RoutineName;
    if (!routine.empty() && routine[0] == u'.') routine.erase(0, 1);
    const std::size_t dot = routine.find(u'.');
    if (dot == Text::npos) {
      row[3] = routine;
    } else {
      row[2] = routine.substr(0, dot);
      row[3] = routine.substr(dot + 1);
    }
    if (hasUnit) row[4] = u"+" + IntToText(f.LineOffset);
    rows.push_back(std::move(row));
  }
  std::array<std::size_t, kColumns> widths{};
  for (const auto& row : rows)
    for (int c = 0; c < kColumns; ++c) widths[c] = std::max(widths[c], row[c].size());
  Text result;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (r > 0) result += u"\r\n";
    for (int c = 0; c < kColumns; ++c) {
      if (c > 0) result += u" | ";
      const bool rightAligned = c == 1 || c == 4;
      result += rightAligned ? PadLeft(rows[r][c], widths[c]) : PadRight(rows[r][c], widths[c]);
    }
  }
  return result;
}

Text ThreadDisplayText(win::DWORD aThreadId) { return ThreadNameGet(aThreadId) + u" (" + UIntToText(aThreadId) + u")"; }

Text CallstacksOfThreadsToText(const std::vector<std::pair<win::DWORD, TCallstack>>& aStacks) {
  Text result;
  for (std::size_t i = 0; i < aStacks.size(); ++i) {
    if (i > 0) result += u"\r\n\r\n";
    const win::DWORD id = aStacks[i].first;
    result += u" ---------------------- Thread: " + UIntToText(id) + u" - " + ThreadNameGet(id) +
              u" ------------------------ \r\n\r\n" + CallstackToText(aStacks[i].second);
  }
  return result;
}

void ProblemNotify(const Text& aType, const Text& aMessage, const TCallstack& aCallstack, win::DWORD aThreadId,
                   const Text& aAllCallstacks) {
  TFlexArray report;
  report.SetKeyAndValue(u"Type", Variant(aType));
  report.SetKeyAndValue(u"Message", Variant(aMessage));
  report.SetKeyAndValue(u"Thread", Variant(ThreadDisplayText(aThreadId)));
  if (aType == u"Hang") {
    report.SetKeyAndValue(u"Duration", Variant(aMessage));
    report.Delete(Variant(Text(u"Message")));
  } else {
    for (const TCallstackFrame& f : aCallstack) {
      if (FrameIsNotReported(f)) continue;
      report.SetKeyAndValue(u"ProcedureName", Variant(f.RoutineName));
      report.SetKeyAndValue(u"SourceName", Variant(f.UnitName));
      report.SetKeyAndValue(u"ProcOffsetLine", Variant(static_cast<std::int32_t>(f.LineOffset)));
      break;
    }
  }
  if (!aCallstack.empty()) report.SetKeyAndValue(u"CallStack", Variant(CallstackToText(aCallstack)));
  if (!aAllCallstacks.empty()) report.SetKeyAndValue(u"AllCallStacks", Variant(aAllCallstacks));
  DebugLog(u"[Problem] " + report.AsStringForDisplay());
  if (TJobHandler* main = JobHandlerMain) main->Add(u"ProblemNotify", report);
  if (TDebug* debug = Debug)
    if (debug->OnProblemNotify) debug->OnProblemNotify(report);
}

void CrashReportQuickFilter(TCrashReport& aReport) {
  const auto* exception = dynamic_cast<const Exception*>(aReport.ExceptionObject);
  aReport.CallstacksAllThreads = exception && exception->HelpContext == 1;
  aReport.ProcessesPart = false;
}

void CrashReportComplete(TCrashReport& aReport) {
  Text all;
  if (aReport.CallstacksAllThreads)
    if (TDebug* debug = Debug) all = debug->CallstackCreateForAllThreads(aReport);
  static const TCallstack kNoStack;
  const TCallstack& stack = aReport.CallstackCount() > 0 ? aReport.CallstackAt(0) : kNoStack;
  ProblemNotify(u"Error", aReport.ExceptionClassName + u": " + aReport.ExceptionMessage, stack,
                aReport.CrashedThreadId, all);
  aReport.Handled = true;
}

// ---- TDebug: life cycle ------------------------------------------------------------------

void TDebug::OnCreate() {
  TCrashReportSettings settings;  // nothing shown, nothing saved, no registers or dumps
  CrashReportSettingsSet(settings);
  CrashReportHandlersRegister(CrashReportQuickFilter, CrashReportComplete);
  TUnit::OnCreate();

  MemoryConsumptionLevels.Clear();
  MemoryConsumptionLevels.SetKeyAndValue(u"High", Variant(std::int32_t(200)));
  MemoryConsumptionLevels.SetKeyAndValue(u"Very High", Variant(std::int32_t(500)));
  MemoryConsumptionLevels.SetKeyAndValue(u"Extreme", Variant(std::int32_t(1000)));
  MemoryConsumptionLevels.SetKeyAndValue(u"Critical", Variant(std::int32_t(1500)));
  HangDetectionLock = new TLock(u"ThreadAlive");

  if (JobPool) JobPool->HangDetectionIsAliveFn = [this] { HangDetectionIsAlive(); };
  // A job function that raises ends as an "Error" report, like any exception nobody caught.
  JobExceptionHandOff = [](const std::exception& aException) {
    if (TDebug* debug = Debug) debug->HandleException(aException);
  };

  if (TJobHandler* async = JobHandlerAsync) {
    const TJobFn hang = TJobFn::Of<&TDebug::HangDetectionCheck>(this);
    const TJobFn memory = TJobFn::Of<&TDebug::MemoryConsumptionCheck>(this);
    const TJobFn wipe = TJobFn::Of<&TDebug::WipeOldLogFiles>(this);
    async->AddFunctionHandler(u"jaHangDetection", hang);
    async->AddFunctionHandler(u"jaMemoryConsumptionCheck", memory);
    async->AddFunctionHandler(u"jaWipeOldLogFiles", wipe);
    TFlexArray repeated;
    repeated.SetKeyAndValue(kJobRepeat, Variant(kChecksIntervalMs));
    repeated.SetKeyAndValue(kJobNoLogging, Variant(true));
    async->Add(hang, repeated);
    async->Add(memory, repeated);
    TFlexArray delayed;
    delayed.SetKeyAndValue(kJobDelay, Variant(kWipeOldLogFilesDelayMs));
    async->Add(wipe, delayed);
  }

  LogToConsole = false;
  LogToFile = false;
  TPath exe = ExePathGet();
  if (exe.Count > 0) exe.LastSet(exe.LastGet() + kLogFileExtension);
  LogFile = exe;
  // A hidden top-level window (broadcasts reach no message-only window) on this, the main,
  // thread.
  if (WindowClassEnsure(kHangWindowClass, HangDetectionWindowProcOf))
    HangDetectionMessageWindowHandle = win::CreateWindowExW(0, kHangWindowClass, u"", win::WS_POPUP, 0, 0, 0, 0, nullptr,
                                                            nullptr, win::GetModuleHandleW(nullptr), nullptr);
}

void TDebug::OnDestroy() {
  if (JobPool) JobPool->HangDetectionIsAliveFn = nullptr;
  JobExceptionHandOff = nullptr;
  TUnit::OnDestroy();
  if (HangDetectionMessageWindowHandle) {
    win::DestroyWindow(HangDetectionMessageWindowHandle);
    HangDetectionMessageWindowHandle = nullptr;
  }
  delete HangDetectionLock;
  HangDetectionLock = nullptr;
}

// ---- TDebug: logging ---------------------------------------------------------------------

TLogChannel* TDebug::LogEngine() { return LogChannelMainGet(); }

void TDebug::Log(const Text& sInfo) {
  if (!LoggingEnabled.load(std::memory_order_acquire)) return;
  TLogChannel* channel = LogEngine();
  if (!channel) return;
  TLastErrorKeeper keep;
  channel->LogMessage(ReplaceAll(sInfo, u"~", u"\r\n"));
}

void TDebug::LogColored(std::uint32_t aColor, const Text& aText) {
  if (!LoggingEnabled.load(std::memory_order_acquire)) return;
  TLogChannel* channel = LogEngine();
  if (!channel) return;
  TLastErrorKeeper keep;
  channel->LogColored(aColor, aText);
}

void TDebug::LogBuffer(std::span<const std::uint8_t> aBuffer) { Log(BufferToHexDump(aBuffer)); }

void TDebug::LogException(const Text& aMsg) { Log(u"< Uncaught Exception >\r\n" + aMsg); }

Text DebugConnectionsBuild(bool bConsole, bool bFile, const TPath& aLogFile, const Text& aKey,
                           bool bDeveloperMachine) {
  Text connections;
  if (bConsole) connections += u"pipe(async.enabled=\"true\")";
  if (bFile) {
    if (!connections.empty()) connections += u", ";
    connections += u"file(filename=\"";
    connections += aLogFile.ToString();
    connections += u"\", ";
    connections += u"     async.enabled=\"true\", async.queue=\"10 MB\", ";
    connections += u"     maxparts=\"1\", maxsize=\"";
    connections += bDeveloperMachine ? kMaxSizeDeveloperMachine : kMaxSizeOtherMachine;
    connections += u"\", ";
    connections += u"     encrypt=\"true\", key=\"";
    connections += aKey;
    connections += u"\"";
    connections += u")";
  }
  return connections;
}

void TDebug::EnableLogging(const Text& aLogFileEncryptionKey) {
  const Text connections = DebugConnectionsBuild(LogToConsole, LogToFile, LogFile, aLogFileEncryptionKey,
                                                 LogToFile && ComputerIsDeveloperMachine());
  TLogTransport* transport = LogTransportGet();
  transport->ConnectionsSet(connections);
  transport->EnabledSet(true);
  LoggingEnabled.store(true, std::memory_order_release);
  if (TLogChannel* channel = LogEngine()) channel->EnterProcess();
}

void TDebug::DisableLogging() {
  if (TLogChannel* channel = LogEngine()) {
    channel->LogSeparator();
    channel->LeaveProcess();
  }
  LogTransportGet()->EnabledSet(false);
  LoggingEnabled.store(false, std::memory_order_release);
}

void TDebug::LogToConsoleActivateIfConsoleRunning() {
  for (const char16_t* title : kConsoleTitles)
    if (win::FindWindowW(nullptr, title)) {
      LogToConsole = true;
      return;
    }
}

void TDebug::FileLoggingActivateDefault(const TPath& aFolder) {
  const Text name = ExePathGet().LastGet();
  const Text stamp = DateTimeToFileNameText(Now());
  LogFile = aFolder + TPath(name + u" " + stamp + u" " + UIntToText(win::GetCurrentProcessId()) + kLogFileExtension);
  FolderOfFileCreate(LogFile);
  LogToFile = true;
}

void TDebug::WipeOldLogFiles(TJob& aJob) {
  if (ComputerIsDeveloperMachine() && !ComputerIsExtraDeveloperMachine()) return;
  const TPath folder = LogFile.WithoutLast();
  TFlexArray entries;
  FolderList(folder, false, u"*", 511, entries);
  for (int i = 0; i < entries.Count(); ++i) {
    TPath path = folder + TPath(entries.GetKeyByIndex(i));
    if (path.HasExtension(Text(kLogFileExtension)) && FileIsAvailable(path)) FileDelete(path);
  }
}

// ---- TDebug: hang detection and memory watch ---------------------------------------------

void TDebug::HangDetectionDeactivate() {
  TLockGuard g(*HangDetectionLock);
  ++HangDetectionDeactivateCount;
  HangDetectionDeactivateChanged = true;
}

void TDebug::HangDetectionReActivate() {
  TLockGuard g(*HangDetectionLock);
  --HangDetectionDeactivateCount;
  HangDetectionDeactivateChanged = true;
}

void TDebug::HangDetectionHandlerRegister(TJobFn aJobFn) {
  TLockGuard g(*HangDetectionLock);
  if (!JobHandlerAsync) return;
  if (TJobHandler* handler = JobHandlerAsync->HandlerFind(aJobFn))
    HangExtraInfoJobs.SetKeyAndValue(Variant(handler->Name), Variant());
}

void TDebug::HangDetectionHandlerUnRegister(TJobFn aJobFn) {
  TLockGuard g(*HangDetectionLock);
  if (!JobHandlerAsync) return;
  if (TJobHandler* handler = JobHandlerAsync->HandlerFind(aJobFn)) HangExtraInfoJobs.Delete(Variant(handler->Name));
}

void TDebug::HangDetectionIsAlive() {
  TLockGuard g(*HangDetectionLock);
  HangDetectionIsAliveLast = win::GetTickCount();
}

win::HWND TDebug::HangDetectionProbeWindow() {
  if (win::HWND h = Application->HandleGet()) return h;
  return HangDetectionMessageWindowHandle;
}

bool TDebug::HangDetectionProbeTimesOut() {
  win::ULONG_PTR result = 0;
  win::SetLastError(0);
  if (win::SendMessageTimeoutW(HangDetectionProbeWindow(), win::WM_TIMER, 0, 0, win::SMTO_NORMAL, kHangProbeTimeoutMs,
                               &result))
    return false;
  // Any other failure (no main window, for one) counts as an answer.
  return win::GetLastError() == win::ERROR_TIMEOUT;
}

void TDebug::HangDetectionCheck(TJob& aJob) {
  std::uint32_t last;
  {
    TLockGuard g(*HangDetectionLock);
    last = HangDetectionIsAliveLast;
  }
  if (static_cast<std::uint32_t>(win::GetTickCount() - last) <= kChecksIntervalMs) return;

  const TDateTime start = Now();
  const win::DWORD startTick = win::GetTickCount();
  bool known;
  {
    TLockGuard g(*HangDetectionLock);
    known = HangDetectionDeactivateCount > 0;
    HangDetectionDeactivateChanged = false;
    HangDetectionIgnoreThisOne = false;
  }
  if (!HangDetectionProbeTimesOut()) return;
  auto ignored = [this] {
    TLockGuard g(*HangDetectionLock);
    return HangDetectionIgnoreThisOne;
  };
  if (ignored()) return;
  if (!known) {
    TLockGuard g(*HangDetectionLock);
    known = HangDetectionDeactivateChanged;
  }
  Log(Text(u"[Hang] Hang detected") + (known ? u" (known issue)" : u"") + u". Hang start: " + DateTimeToText(start) + u".");
  Text jobName = u"IDLE";
  if (TJobPool* pool = JobPool) {
    pool->Lock();
    if (pool->JobInMainThread) jobName = pool->JobInMainThread->Name;
    pool->UnLock();
  }
  Log(u"[Hang] Main Thread Job: " + jobName);
  const win::DWORD mainThread = MainThreadIdGet();
  const TCallstack stack = CallstackOfThread(mainThread);
  Log(u"[Hang] Main Thread Callstack:\r\n\r\n" + CallstackToText(stack));

  Text all;
  for (;;) {
    const bool hungAgain = HangDetectionProbeTimesOut();
    if (hungAgain && all.empty() && !known &&
        static_cast<win::DWORD>(win::GetTickCount() - startTick) / 1000 > kHangExtraLongSeconds) {
      Log(u"[Hang] Hang is extra long, building callstacks for ALL threads");
      all = CallstackCreateForAllThreads();
      Log(u"[Hang] ALL Callstacks:\r\n\r\n" + all);
      TLockGuard g(*HangDetectionLock);
      if (TJobHandler* async = JobHandlerAsync)
        for (int i = 0; i < HangExtraInfoJobs.Count(); ++i) async->Add(VariantToText(HangExtraInfoJobs.GetKeyByIndex(i)));
    }
    if (!hungAgain) break;
    // The pool shuts down: the main thread may be the one waiting for this thread to end, and
    // would never answer. The check ends without a verdict.
    if (aJob.IsSetAndAborted()) return;
  }
  const auto duration = static_cast<win::DWORD>(win::GetTickCount() - startTick);
  Log(u"[Hang] No longer stuck. Hang duration: " + UIntToText(duration));
  // A power or time-change broadcast that the main thread could only take once it answered
  // again makes this no hang either.
  if (!known && !ignored()) ProblemNotify(u"Hang", UIntToText(duration), stack, mainThread, all);
}

win::LRESULT TDebug::HangDetectionWindowProc(win::HWND aWindow, win::UINT aMessage, win::WPARAM aWParam,
                                             win::LPARAM aLParam) {
  if (aMessage == win::WM_POWERBROADCAST) {
    {
      TLockGuard g(*HangDetectionLock);
      HangDetectionIgnoreThisOne = true;
    }
    Text label;
    switch (aWParam) {
      case win::PBT_APMSUSPEND: label = u"Suspend"; break;
      case win::PBT_APMRESUMESUSPEND: label = u"Resume (key/mouse input)"; break;
      case win::PBT_APMRESUMEAUTOMATIC: label = u"Resume (any kind)"; break;
      default: label = u"Other (" + UIntToText(static_cast<std::uint64_t>(aWParam)) + u")"; break;
    }
    Log(u"[Hang] Hang timer reset due to WM_POWERBROADCAST. Subtype: " + label + u".");
    return win::TRUE;
  }
  if (aMessage == win::WM_TIMECHANGE) {
    {
      TLockGuard g(*HangDetectionLock);
      HangDetectionIgnoreThisOne = true;
    }
    Log(u"[Hang] Hang timer reset due to WM_TIMECHANGE");
    return 0;
  }
  return win::DefWindowProcW(aWindow, aMessage, aWParam, aLParam);
}

int TDebug::MemoryConsumptionLevelOf(std::int32_t aMb) const {
  int level = -1;
  for (int i = 0; i < MemoryConsumptionLevels.Count(); ++i) {
    if (MemoryConsumptionLevels.GetValueByIndex(i).ToInt64() >= aMb) break;
    level = i;
  }
  return level;
}

void TDebug::MemoryConsumptionCheck(TJob& aJob) {
  const std::uint64_t bytes = MemoryAllocatedFn ? MemoryAllocatedFn() : MemoryAllocatedGet();
  const auto mb = static_cast<std::int32_t>(bytes / 1048576);
  std::int32_t last = MemoryConsumptionLastMb;
  if (last == 0) {
    last = mb;
    MemoryConsumptionLastMb = mb;
  }
  if (bytes > kMemoryWatchedFromBytes && last > 0) {
    const double change = std::fabs(double(mb) - double(last)) / double(last) * 100.0;
    const auto pct = static_cast<std::int64_t>(std::nearbyint(change));  // halves to even
    const Text line = u"[Performance] Memory changed from " + IntToText(last) + u" MB to " + IntToText(mb) + u" MB (" +
                      IntToText(pct) + u"%)";
    const int levelBefore = MemoryConsumptionLevelOf(last);
    const int levelNow = MemoryConsumptionLevelOf(mb);
    if (levelBefore != levelNow) {
      Log(line);
      if (levelNow > levelBefore) Alert(u"Memory usage increased to  " + IntToText(mb) + u" MB");
    } else if (pct > 10) {
      Log(line);
    }
  }
  MemoryConsumptionLastMb = mb;
}

// ---- TDebug: call stacks and exceptions --------------------------------------------------

Text TDebug::CallstackCreateForCurrentThread() { return CallstackToText(CallstackOfCurrentThread()); }

Text TDebug::CallstackCreateForThread(win::DWORD aThreadId) { return CallstackToText(CallstackOfThread(aThreadId)); }

Text TDebug::CallstackCreateForAllThreads() {
  std::vector<std::pair<win::DWORD, TCallstack>> stacks;
  for (win::DWORD id : ProcessThreadIdsGet()) stacks.emplace_back(id, CallstackOfThread(id));
  return CallstacksOfThreadsToText(stacks);
}

Text TDebug::CallstackCreateForAllThreads(const TCrashReport& aReport) {
  std::vector<std::pair<win::DWORD, TCallstack>> stacks;
  for (std::size_t i = 0; i < aReport.CallstackCount(); ++i)
    stacks.emplace_back(aReport.CallstackThreadIdAt(i), aReport.CallstackAt(i));
  return CallstacksOfThreadsToText(stacks);
}

void TDebug::HandleException(const std::exception& aException) { ::HandleException(aException); }

void TDebug::HandleNonOleException(const std::exception& aException) {
  // COM errors, failed interface casts and stack overflows are left alone.
  if (dynamic_cast<const EOleSysError*>(&aException) || dynamic_cast<const EOleException*>(&aException) ||
      dynamic_cast<const EIntfCastError*>(&aException) || dynamic_cast<const EStackOverflow*>(&aException))
    return;
  HandleException(aException);
}

Text SourceCodeGoToText(const Text& aCallStackLine) {
  auto trim = [](const Text& t) {
    const std::size_t a = t.find_first_not_of(u" \t");
    if (a == Text::npos) return Text();
    return t.substr(a, t.find_last_not_of(u" \t") - a + 1);
  };
  std::vector<Text> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t bar = aCallStackLine.find(u'|', from);
    parts.push_back(trim(aCallStackLine.substr(from, bar == Text::npos ? Text::npos : bar - from)));
    if (bar == Text::npos) break;
    from = bar + 1;
  }
  parts.resize(std::max<std::size_t>(parts.size(), 5));
  return u"00000001  +ffffffff  Vexlon.exe  " + parts[0] + u" 1 " + parts[4] + u"  " + parts[2] + u"." + parts[3];
}

void TDebug::SourceCodeGoTo(const Text& aCallStackLine) {
  const Text request = SourceCodeGoToText(aCallStackLine);
  // The development environment announces itself with a window of this class; without one
  // there is no one to ask, and nothing happens.
  win::HWND ide = win::FindWindowW(kIdeWindowClass, nullptr);
  if (!ide) return;
  Log(u"[Debug] Source code request: " + request);
}

void TDebug::ExceptionLogCallstacksForAllThreadsWhenProcessing(Exception& aException) { aException.HelpContext = 1; }
