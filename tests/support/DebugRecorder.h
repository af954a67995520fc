// The debug facility as a test program has it: the TestMain brings it up before the tests
// (logging on, no outputs) and records every log line and problem report it sees, so that a
// test can check what the code under test logged and reported.
#pragma once

#include <functional>
#include <vector>

#include "params/uFlexArray.h"
#include "platform/win32api_types.h"

struct TRecordedProblem {
  Text Type;
  Text Message;  // "Duration" for a hang
  Text Thread;
  TFlexArray Report;  // the whole report
};

std::vector<TRecordedProblem> ProblemsRecordedGet();
void ProblemsRecordedClear();
// The text of every entry logged through the debug facility, oldest first.
std::vector<Text> LogLinesRecordedGet();
void LogLinesRecordedClear();

// The recorded log lines that pass a filter, as a container a test reads like a vector.
// Making one (and clear) forgets what was recorded before.
class TRecordedLines {
 public:
  explicit TRecordedLines(std::function<bool(const Text&)> aFilter = nullptr);
  std::vector<Text> Get() const;
  std::size_t size() const { return Get().size(); }
  bool empty() const { return Get().empty(); }
  Text operator[](std::size_t aIndex) const;
  void clear() { LogLinesRecordedClear(); }

 private:
  std::function<bool(const Text&)> FFilter;
};

// The recorded problem reports, likewise.
class TRecordedProblems {
 public:
  TRecordedProblems() { ProblemsRecordedClear(); }
  std::size_t size() const { return ProblemsRecordedGet().size(); }
  bool empty() const { return ProblemsRecordedGet().empty(); }
  TRecordedProblem operator[](std::size_t aIndex) const;
  void clear() { ProblemsRecordedClear(); }
};

namespace testsupport {
// Creates the debug facility for the test program when none exists; called once by main.
void DebugForTestsStart();
void DebugForTestsStop();
}  // namespace testsupport
