// The crash reporter: turns an exception that nobody handled (or that is handed in as such)
// into a report with the call stacks of the crashing thread and, on request, of every other
// thread, and runs the program's two handlers on it.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <utility>
#include <vector>

#include "crashreport/Callstack.h"
#include "platform/win32api_types.h"

// What reports contain and what the reporter does besides running the handlers. All off
// means: nothing shown, nothing saved.
struct TCrashReportSettings {
  bool Registers = false, StackDump = false, Disassembly = false, AutoSave = false,
       PleaseWaitBox = false, ShowDialog = false;
};
void CrashReportSettingsSet(const TCrashReportSettings&);
TCrashReportSettings CrashReportSettingsGet();

// One report, handed to the handlers.
class TCrashReport {
 public:
  const std::exception* ExceptionObject = nullptr;  // null for an exception of no std::exception class
  Text ExceptionClassName;                          // without namespaces: "EDebugStop"
  Text ExceptionMessage;                            // Exception::Message() or what()
  win::DWORD CrashedThreadId = 0;
  bool CallstacksAllThreads = false;  // readable and settable by the quick filter
  bool ProcessesPart = true;          // the "processes" report part; the filter switches it off
  bool Handled = false;               // the complete handler marks it

  // The stack at index i (0 = the crashing thread) and its thread id.
  std::size_t CallstackCount() const { return FCallstacks.size(); }
  const TCallstack& CallstackAt(std::size_t i) const { return FCallstacks.at(i).second; }
  win::DWORD CallstackThreadIdAt(std::size_t i) const { return FCallstacks.at(i).first; }
  // Appends a thread's stack at the next index.
  void CallstackAdd(win::DWORD aThreadId, TCallstack aStack) {
    FCallstacks.emplace_back(aThreadId, std::move(aStack));
  }

 private:
  std::vector<std::pair<win::DWORD, TCallstack>> FCallstacks;
};

// The report as plain text: exception, thread, then every stack with its thread id.
Text CrashReportText(const TCrashReport& aReport);

using TCrashReportHandler = std::function<void(TCrashReport&)>;
// Registers the two handlers (either may be empty), replacing earlier ones: the quick filter
// runs first and may set CallstacksAllThreads / ProcessesPart; then, if all threads are
// wanted, the stacks of every other thread are added at index 1..; then the complete handler
// runs.
void CrashReportHandlersRegister(TCrashReportHandler aQuickFilter, TCrashReportHandler aComplete);

// Hands an exception to the reporter as if it were unhandled: builds the report (the calling
// thread's stack at index 0, from the caller of this routine: in a catch block, the catching
// point) and runs the handlers. Never throws: an exception from a handler is swallowed and
// written to the debugger output. Without handlers the report's text goes to the debugger
// output. An exception raised while the same thread is reporting one is only written there.
void HandleException(const std::exception& aException) noexcept;

// The unhandled-exception path of a program (std::set_terminate, thread entry wrappers):
// HandleException on the current exception (std::current_exception), if there is one; an
// exception of no std::exception class is reported with its type's name.
void HandleCurrentException() noexcept;
