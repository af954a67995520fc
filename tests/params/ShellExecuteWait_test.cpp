// Starting programs through the shell: both backends for "open", the simulation alone for
// the UAC prompt (under Wine every process is elevated and "runas" never prompts).
#include <fstream>
#include <sstream>

#include "TestSupport.h"
#include "params/uAppStartParams.h"

#ifndef _WIN32
#include "platform/sim/machine.h"
#endif

using testsupport::HelperProgram;
using testsupport::ScratchFolder;

TEST(ShellExecuteWait, OpenWaitsAndReturnsTheExitCode) {
  Text program = HelperProgram("exitcode");
  struct Case {
    const char16_t* parameters;
    int code;
  };
  for (const Case& c : {Case{u"0", 0}, Case{u"7", 7}, Case{u"42", 42}}) {
    EXPECT_EQ(ShellExecuteWait(program, c.parameters, true, nullptr, u"", win::SW_HIDE), c.code) << c.code;
  }
  // Without waiting: 0 for "started".
  EXPECT_EQ(ShellExecuteWait(program, u"9", false, nullptr, u"open", win::SW_HIDE), 0);
}

#ifdef _WIN32
// 259 is STILL_ACTIVE: a wait that read the exit code would wait for ever. Host exit codes
// have 8 bits, so only Windows can make this child.
TEST(ShellExecuteWait, AChildThatExitsWith259IsNotWaitedForForever) {
  EXPECT_EQ(ShellExecuteWait(HelperProgram("exitcode"), u"259", true, nullptr, u"", win::SW_HIDE), 259);
}
#endif

TEST(ShellExecuteWait, AMissingFileReturnsError2) {
  EXPECT_EQ(ShellExecuteWait(ScratchFolder() + u"\\missing.exe", u"", true, nullptr, u"", win::SW_HIDE),
            static_cast<int>(win::ERROR_FILE_NOT_FOUND));
}

#ifndef _WIN32
namespace {

std::string Events() {
  std::ifstream in(sim::MachineFolderHost() + "/events.jsonl");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

size_t Count(const std::string& aText, const std::string& aPart) {
  size_t n = 0;
  for (size_t p = aText.find(aPart); p != std::string::npos; p = aText.find(aPart, p + 1)) ++n;
  return n;
}

}  // namespace

TEST(ShellExecuteWait, RunasPromptsAndTheAnswerDecides) {
  Text program = HelperProgram("exitcode");
  std::string machine = sim::MachineFolderHost();
  sim::AnswersSet(machine, {{"uac", "refuse"}, {"uac", "accept"}});
  size_t startsBefore = Count(Events(), "\"type\":\"process-start\"");

  EXPECT_EQ(ShellExecuteWait(program, u"-RequestedElevation True", true, nullptr, u"runas", win::SW_SHOWNORMAL),
            static_cast<int>(win::ERROR_CANCELLED));
  EXPECT_EQ(Count(Events(), "\"type\":\"process-start\""), startsBefore);  // nothing started

  EXPECT_EQ(ShellExecuteWait(program, u"5", true, nullptr, u"runas", win::SW_SHOWNORMAL), 5);
  std::string events = Events();
  EXPECT_NE(events.find("{\"type\":\"uac\",\"image\":\"C:\\\\Users\\\\User\\\\Downloads\\\\exitcode.exe\","
                        "\"parameters\":\"-RequestedElevation True\",\"answer\":\"refuse\"}"),
            std::string::npos)
      << events;
  EXPECT_NE(events.find("\"parameters\":\"5\",\"answer\":\"accept\""), std::string::npos) << events;
  // The elevated process: high integrity, its command line the quoted image and the parameters.
  EXPECT_NE(events.find("\"commandLine\":\"\\\"C:\\\\Users\\\\User\\\\Downloads\\\\exitcode.exe\\\" 5\","
                        "\"integrity\":\"high\""),
            std::string::npos)
      << events;

  // No answer left: the prompt is refused.
  EXPECT_EQ(ShellExecuteWait(program, u"1", true, nullptr, u"runas", win::SW_SHOWNORMAL),
            static_cast<int>(win::ERROR_CANCELLED));
}

TEST(ShellExecuteWait, RunasFromAnElevatedProcessDoesNotPrompt) {
  Text program = HelperProgram("exitcode");
  sim::AnswersSet(sim::MachineFolderHost(), {});
  testsupport::AsAdministrator admin;
  size_t prompts = Count(Events(), "\"type\":\"uac\"");
  EXPECT_EQ(ShellExecuteWait(program, u"3", true, nullptr, u"runas", win::SW_SHOWNORMAL), 3);
  EXPECT_EQ(Count(Events(), "\"type\":\"uac\""), prompts);
}

#endif
