#include "installer/uInstallScript.h"

#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

struct E {
  Text entry;
  int line;
  bool operator==(const TInstallScriptEntry& o) const { return entry == o.Entry && line == o.Line; }
};

std::string Describe(const std::vector<TInstallScriptEntry>& aEntries) {
  std::string s;
  for (const auto& e : aEntries) s += std::to_string(e.Line) + ":[" + TextToUtf8(e.Entry) + "] ";
  return s;
}

TEST(uInstallScript, LineRules) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<E> entries;
  } cases[] = {
      {"empty script", "", {}},
      {"CR LF", "a\r\nb\r\n", {{u"a", 1}, {u"b", 2}}},
      {"lone LF and lone CR", "a\nb\rc", {{u"a", 1}, {u"b", 2}, {u"c", 3}}},
      {"LF CR is two line ends", "a\n\rb", {{u"a", 1}, {u"b", 3}}},
      {"last line without line end", "a\r\nVexlon.exe", {{u"a", 1}, {u"Vexlon.exe", 2}}},
      {"empty lines are skipped but counted", "\r\n\r\na\r\n\r\n", {{u"a", 3}}},
      {"comments", "// head\r\n//Old.dll\r\nx\r\n/ y\r\n", {{u"x", 3}, {u"/ y", 4}}},
      {"indented comment is an entry", "  // x\r\n", {{u"  // x", 1}}},
      {"a lone slash is an entry", "/\r\n", {{u"/", 1}}},
      {"spaces only is an entry", "   \r\n", {{u"   ", 1}}},
      {"entries are not trimmed", " a b \t\r\n", {{u" a b \t", 1}}},
      {"folder parts", "Drivers\\Vexlon\\x64\\Vexlon.sys", {{u"Drivers\\Vexlon\\x64\\Vexlon.sys", 1}}},
      {"ANSI is code page 1252", "Caf\xE9\x80.txt", {{u"Caf\u00E9\u20AC.txt", 1}}},
      {"UTF-8 mark", "\xEF\xBB\xBF" "Caf\xC3\xA9\r\n//c\r\n", {{u"Caf\u00E9", 1}}},
      {"UTF-8 mark, bad bytes", "\xEF\xBB\xBF" "a\xFF\xC3", {{u"a\uFFFD\uFFFD", 1}}},
      {"UTF-8 mark, 4-byte form", "\xEF\xBB\xBF\xF0\x9F\x98\x80", {{u"\U0001F600", 1}}},
      {"UTF-8 without mark is ANSI", "Caf\xC3\xA9", {{u"Caf\u00C3\u00A9", 1}}},
      {"UTF-16 LE mark", std::string("\xFF\xFE" "a\0\r\0\n\0/\0/\0x\0\n\0b\0", 18), {{u"a", 1}, {u"b", 3}}},
      {"UTF-16 BE mark", std::string("\xFE\xFF\0a\0\n\0\xE9", 8), {{u"a", 1}, {u"\u00E9", 2}}},
      {"UTF-16 odd last byte", std::string("\xFF\xFE" "a\0b", 5), {{u"a\uFFFD", 1}}},
      {"mark only", "\xEF\xBB\xBF", {}},
  };
  for (const Case& c : cases) {
    std::vector<TInstallScriptEntry> got = InstallScriptParse(c.bytes);
    bool same = got.size() == c.entries.size();
    for (std::size_t i = 0; same && i < got.size(); ++i) same = c.entries[i] == got[i];
    EXPECT_TRUE(same) << c.what << ": got " << Describe(got);
  }
}

// The shape of the shipped script: numbering counts entries only.
TEST(uInstallScript, NumberingSkipsCommentsAndBlankLines) {
  std::string script = "// Minimal files\r\nVexlon.exe\r\n\r\n// Other files\r\n//Old.dll\r\nA.dll\r\n\r\nB.dll";
  std::vector<TInstallScriptEntry> e = InstallScriptParse(script);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[2].Entry, u"B.dll") << "the third entry is F2 whatever precedes it";
  EXPECT_EQ(e[2].Line, 8);
  std::vector<Text> lines = InstallScriptLinesSplit(u"a\r\n\r\n");
  EXPECT_EQ(lines, (std::vector<Text>{u"a", u""}));
}

TEST(uInstallScript, EntryCheck) {
  struct Case {
    const char16_t* entry;
    bool safe;
  } cases[] = {
      {u"Vexlon.exe", true},
      {u"Drivers\\Vexlon\\x64\\Vexlon.sys", true},
      {u"My Files\\Read me.txt", true},
      {u".hidden", true},
      {u"a..b", true},
      {u"", false},
      {u"..\\evil.dll", false},
      {u"a\\..\\..\\evil.dll", false},
      {u"a/../evil.dll", false},
      {u"a\\..", false},
      {u"\\Windows\\evil.dll", false},
      {u"/etc/passwd", false},
      {u"\\\\server\\share\\x", false},
      {u"C:\\Windows\\evil.dll", false},
      {u"C:evil.dll", false},
      {u"file.txt:stream", false},
      {u"a\\\\b", false},
      {u"a\\", false},
      {u".\\a", false},
      {u"   ", false},
      {u"name.", false},
      {u"...", false},
      {u"NUL", false},
      {u"x\\com1.txt", false},
      {u"COM\u00B9", false},
      {u"lpt\u00B2.txt", false},
      {u"Com\u00B3 .log", false},
      {u"COM0", true},
      {u"COM\u2074", true},
      {u"Console.exe", true},
      {u"a?b", false},
      {u"a\tb", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(InstallScriptEntryCheck(c.entry).empty(), c.safe) << TextToUtf8(c.entry) << ": "
                                                                 << TextToUtf8(InstallScriptEntryCheck(c.entry));
  EXPECT_EQ(InstallScriptEntryCheck(u"a\\..\\b"), u"the name has a '..' part, which leaves the install folder");
}

}  // namespace
