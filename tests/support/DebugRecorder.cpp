#include "DebugRecorder.h"

#include <mutex>

#include "diag/uDebug.h"
#include "logtransport/LogTransport.h"

namespace {

struct TRecorder {
  std::mutex Lock;
  std::vector<TRecordedProblem> Problems;
  std::vector<Text> Lines;
  bool Owned = false;  // the debug facility was made here
};

TRecorder& Recorder() {
  static TRecorder* r = new TRecorder;
  return *r;
}

}  // namespace

std::vector<TRecordedProblem> ProblemsRecordedGet() {
  std::lock_guard<std::mutex> g(Recorder().Lock);
  return Recorder().Problems;
}

void ProblemsRecordedClear() {
  std::lock_guard<std::mutex> g(Recorder().Lock);
  Recorder().Problems.clear();
}

std::vector<Text> LogLinesRecordedGet() {
  std::lock_guard<std::mutex> g(Recorder().Lock);
  return Recorder().Lines;
}

void LogLinesRecordedClear() {
  std::lock_guard<std::mutex> g(Recorder().Lock);
  Recorder().Lines.clear();
}

TRecordedLines::TRecordedLines(std::function<bool(const Text&)> aFilter) : FFilter(std::move(aFilter)) {
  LogLinesRecordedClear();
}

std::vector<Text> TRecordedLines::Get() const {
  std::vector<Text> lines;
  for (Text& l : LogLinesRecordedGet())
    if (!FFilter || FFilter(l)) lines.push_back(std::move(l));
  return lines;
}

Text TRecordedLines::operator[](std::size_t aIndex) const {
  auto lines = Get();
  return aIndex < lines.size() ? lines[aIndex] : Text(u"(no such line)");
}

TRecordedProblem TRecordedProblems::operator[](std::size_t aIndex) const {
  auto problems = ProblemsRecordedGet();
  return aIndex < problems.size() ? problems[aIndex] : TRecordedProblem{u"(no such problem)", {}, {}, {}};
}

namespace testsupport {

void DebugForTestsStart() {
  if (!Debug) {
    // Alone, without the lock controller and the job pool: tests of those bring up their own.
    Debug = new TDebug();
    Debug->OnCreate();
    Recorder().Owned = true;
  }
  Debug->OnProblemNotify = [](TFlexArray& aReport) {
    TRecordedProblem p;
    p.Type = aReport.GetValueByKey(Variant(Text(u"Type"))).ToText();
    p.Message = aReport.HasKey(u"Message") ? aReport.GetValueByKey(Variant(Text(u"Message"))).ToText()
                                           : aReport.GetValueByKey(Variant(Text(u"Duration"))).ToText();
    p.Thread = aReport.GetValueByKey(Variant(Text(u"Thread"))).ToText();
    p.Report = aReport;
    std::lock_guard<std::mutex> g(Recorder().Lock);
    Recorder().Problems.push_back(std::move(p));
  };
  LogTransportGet()->ObserverSet([](const TLogEntry& aEntry) {
    if (aEntry.Kind != TLogEntryKind::Message) return;
    std::lock_guard<std::mutex> g(Recorder().Lock);
    Recorder().Lines.push_back(aEntry.Text);
  });
  Debug->EnableLogging(Text());
}

void DebugForTestsStop() {
  LogTransportGet()->ObserverSet(nullptr);
  if (!Debug) return;
  Debug->OnProblemNotify = nullptr;
  if (Recorder().Owned) {
    TUnit::Destroy(Debug);
    Debug = nullptr;
    Recorder().Owned = false;
  }
}

}  // namespace testsupport
