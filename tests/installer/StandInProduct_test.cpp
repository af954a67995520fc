// The sample product's Vexlon.exe, the program the installer starts at the end: each start
// adds its command line to a record that demos and tests read.
#include <string>
#include <vector>

#include "TestSupport.h"
#include "params/uAppStartParams.h"
#include "platform/utf.h"

using testsupport::FileRead;
using testsupport::HelperProgram;

namespace {

std::vector<std::string> RecordLines() {
  win::WCHAR buf[win::MAX_PATH + 1];
  EXPECT_TRUE(win::SHGetSpecialFolderPathW(nullptr, buf, win::CSIDL_COMMON_APPDATA, win::FALSE));
  std::vector<std::string> lines;
  const std::string record = FileRead(Text(buf) + u"\\Orvanta\\Vexlon-starts.txt").value_or("");
  for (size_t at = 0; at < record.size();) {
    size_t end = record.find("\r\n", at);
    EXPECT_NE(end, std::string::npos) << "a line without its end";
    if (end == std::string::npos) break;
    lines.push_back(record.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

bool EndsWith(const std::string& aText, const std::string& aEnd) {
  return aText.size() >= aEnd.size() && aText.compare(aText.size() - aEnd.size(), aEnd.size(), aEnd) == 0;
}

}  // namespace

TEST(StandInProduct, RecordsTheCommandLineOfEachStart) {
  const Text program = HelperProgram("vexlon");
  const size_t before = RecordLines().size();
  EXPECT_EQ(ShellExecuteWait(program, u"/startup \"two words\"", true, nullptr, u"", win::SW_HIDE), 0);
  EXPECT_EQ(ShellExecuteWait(program, u"", true, nullptr, u"", win::SW_HIDE), 0);
  EXPECT_EQ(ShellExecuteWait(program, u"--tray \u00c9t\u00e9", true, nullptr, u"", win::SW_HIDE), 0);
  const std::vector<std::string> lines = RecordLines();
  ASSERT_EQ(lines.size(), before + 3);
  const std::string name = TextToUtf8(program.substr(program.find_last_of(u'\\') + 1));
  EXPECT_TRUE(EndsWith(lines[before], name + "\" /startup \"two words\"")) << lines[before];
  EXPECT_NE(lines[before + 1].find(name), std::string::npos) << lines[before + 1];
  EXPECT_EQ(lines[before + 1].find("/startup"), std::string::npos) << lines[before + 1];
  EXPECT_TRUE(EndsWith(lines[before + 2], " --tray \xc3\x89t\xc3\xa9")) << lines[before + 2];
}
