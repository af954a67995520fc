#include "crashreport/CrashReport.h"

#include <cxxabi.h>

#include <mutex>
#include <string>

#include "crashreport/SymbolNames.h"
#include "crashreport/ThreadNames.h"
#include "platform/utf.h"
#include "platform/win32api.h"
#include "rtl/Exception.h"

namespace {

struct TReporter {
  std::mutex Lock;
  TCrashReportSettings Settings;
  TCrashReportHandler QuickFilter;
  TCrashReportHandler Complete;
};

// Never destroyed: an exception may be reported while the process ends.
TReporter& Reporter() {
  static TReporter* r = new TReporter;
  return *r;
}

// Set while this thread builds a report, so that a failure inside does not report itself.
thread_local bool tReporting = false;

void DebugOutput(const Text& aText) { win::OutputDebugStringW((aText + u"\r\n").c_str()); }

Text ThreadLabel(win::DWORD aThreadId) {
  Text name = ThreadNameGet(aThreadId);
  return (name.empty() ? Text(u"Thread") : name) + u" (" + T(std::to_string(aThreadId)) + u")";
}

// Runs one handler; whatever it throws stays here.
void HandlerRun(const TCrashReportHandler& aHandler, TCrashReport& aReport, const char16_t* aPhase) {
  if (!aHandler) return;
  try {
    aHandler(aReport);
  } catch (const std::exception& e) {
    DebugOutput(Text(u"Crash report: the ") + aPhase + u" handler raised " + ClassNameOfType(typeid(e)) + u": " +
                Utf8ToText(e.what()));
  } catch (...) {
    DebugOutput(Text(u"Crash report: the ") + aPhase + u" handler raised an exception");
  }
}

// The report of one exception. iSkip: frames of ours between the capture and the point the
// report is about. Called directly (no lambda around the capture), so that the count holds.
__attribute__((noinline)) void ReportRun(const std::exception* aObject, Text aClassName, Text aMessage,
                                         int iSkip) noexcept {
  if (tReporting) {
    DebugOutput(u"Crash report: " + aClassName + u" raised while reporting an exception: " + aMessage);
    return;
  }
  tReporting = true;
  try {
    TCrashReport report;
    report.ExceptionObject = aObject;
    report.ExceptionClassName = std::move(aClassName);
    report.ExceptionMessage = std::move(aMessage);
    report.CrashedThreadId = win::GetCurrentThreadId();
    report.CallstackAdd(report.CrashedThreadId, CallstackOfCurrentThread(1 + iSkip));

    TCrashReportHandler quickFilter, complete;
    {
      TReporter& r = Reporter();
      std::lock_guard<std::mutex> g(r.Lock);
      quickFilter = r.QuickFilter;
      complete = r.Complete;
    }
    HandlerRun(quickFilter, report, u"quick filter");
    if (report.CallstacksAllThreads)
      for (win::DWORD id : ProcessThreadIdsGet()) {
        if (id == report.CrashedThreadId) continue;
        // A thread that ended meanwhile has no stack to show.
        TCallstack stack = CallstackOfThread(id);
        if (!stack.empty()) report.CallstackAdd(id, std::move(stack));
      }
    HandlerRun(complete, report, u"complete");
    if (!quickFilter && !complete) DebugOutput(CrashReportText(report));
  } catch (...) {
    // Out of memory while building the report: nothing more can be said.
    DebugOutput(u"Crash report: the report could not be built");
  }
  tReporting = false;
}

Text MessageOf(const std::exception& e) {
  if (auto* own = dynamic_cast<const Exception*>(&e)) return own->Message();
  return Utf8ToText(e.what());
}

}  // namespace

void CrashReportSettingsSet(const TCrashReportSettings& aSettings) {
  TReporter& r = Reporter();
  std::lock_guard<std::mutex> g(r.Lock);
  r.Settings = aSettings;
}

TCrashReportSettings CrashReportSettingsGet() {
  TReporter& r = Reporter();
  std::lock_guard<std::mutex> g(r.Lock);
  return r.Settings;
}

void CrashReportHandlersRegister(TCrashReportHandler aQuickFilter, TCrashReportHandler aComplete) {
  TReporter& r = Reporter();
  std::lock_guard<std::mutex> g(r.Lock);
  r.QuickFilter = std::move(aQuickFilter);
  r.Complete = std::move(aComplete);
}

Text CrashReportText(const TCrashReport& aReport) {
  Text out = u"Exception " + aReport.ExceptionClassName + u": " + aReport.ExceptionMessage + u"\r\nThread: " +
             ThreadLabel(aReport.CrashedThreadId);
  for (std::size_t i = 0; i < aReport.CallstackCount(); ++i) {
    out += u"\r\n\r\nCall stack of " + ThreadLabel(aReport.CallstackThreadIdAt(i)) + u":\r\n";
    out += CallstackToPlainText(aReport.CallstackAt(i));
  }
  return out;
}

__attribute__((noinline)) void HandleException(const std::exception& aException) noexcept {
  Text className, message;
  try {
    className = ClassNameOfType(typeid(aException));
    message = MessageOf(aException);
  } catch (...) {
  }
  ReportRun(&aException, std::move(className), std::move(message), 1);
  asm volatile("" ::: "memory");  // no tail call: this frame is counted as one
}

__attribute__((noinline)) void HandleCurrentException() noexcept {
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  const std::exception* object = nullptr;
  Text className, message;
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    object = &e;
    className = ClassNameOfType(typeid(e));
    message = MessageOf(e);
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    className = type ? ClassNameOfType(*type) : Text(u"unknown exception");
  }
  // The exception object lives on in `current` while the report is built.
  ReportRun(object, std::move(className), std::move(message), 1);
  asm volatile("" ::: "memory");
}
