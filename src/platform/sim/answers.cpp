// The user's queued answers to UAC prompts and dialogs (state/answers), consumed in order.
#include "platform/sim/machine.h"
#include "platform/sim/tables.h"

namespace sim {

void AnswersSet(const std::string& aMachine, const std::vector<std::pair<std::string, std::string>>& aAnswers) {
  MachineLock lock(aMachine);
  std::string data;
  for (const auto& [kind, answer] : aAnswers) data += TableFieldEscape(kind) + "\t" + TableFieldEscape(answer) + "\n";
  FileReplaceAtomically(StatePath(aMachine, "answers"), data);
}

std::optional<std::string> AnswerTake(const std::string& aMachine, const std::string& aKind) {
  MachineLock lock(aMachine);
  std::string path = StatePath(aMachine, "answers");
  std::vector<std::string> lines = TableLinesRead(path);
  std::optional<std::string> answer;
  std::string kept;
  for (const auto& l : lines) {
    auto f = TableFieldsSplit(l);
    if (!answer && f.size() == 2 && f[0] == aKind) {
      answer = f[1];
      continue;
    }
    kept += l + "\n";
  }
  if (answer) FileWriteAll(path, kept);
  return answer;
}

}  // namespace sim
