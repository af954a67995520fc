#include "params/uAppStartParams.h"

#include <string>

#include "ParamsTestSupport.h"
#include "TestSupport.h"
#include "params/uMiscLean.h"

using paramstest::StopMessage;

namespace {

std::string Describe(const TFlexArray& a) {
  std::string r;
  for (int i = 0; i < a.Count(); ++i) {
    if (i) r += " ";
    Variant v = a.GetValueByIndex(i);
    r += "(" + TextToUtf8(a.GetKeyByIndex(i)) + "," + TextToUtf8(VarKindName(v.Kind())) + ":" +
         TextToUtf8(FlexValueToText(v)) + ")";
  }
  return r;
}

std::string Join(const TArrayOfStrings& a) {
  std::string r;
  for (const Text& t : a) r += "[" + TextToUtf8(t) + "]";
  return r;
}

TEST(uAppStartParams, CommandLineSplit) {
  struct Case {
    const char16_t* commandLine;
    const char* arguments;
  } cases[] = {
      {u"", ""},
      {u"   ", ""},
      {u"setup.exe", "[setup.exe]"},
      {u"\"C:\\Program Files\\setup.exe\" -Hidden", "[C:\\Program Files\\setup.exe][-Hidden]"},
      {u"x -Path C:\\My Folder\\x", "[x][-Path][C:\\My][Folder\\x]"},
      {u"x \"-A\" 1 2 -B", "[x][-A][1][2][-B]"},
      {u"x\t-a\r\n\x01" u"b", "[x][-a][b]"},                  // codes 1..32 are blanks
      {u"x a\"b c\"d", "[x][ab cd]"},                        // quotes toggle inside an argument
      {u"x \"\" a", "[x][a]"},                               // a pair of quotes before an argument is skipped
      {u"x \"\"\"\"a", "[x][a]"},
      {u"x \"\"\"a b", "[x][a b]"},                          // an unclosed quote runs to the end
      {u"x \"", "[x]"},                                      // an empty argument ends the list
      {u"x a\"\" b", "[x][a][b]"},
      {u"x é ü\u3000z", "[x][é][ü\u3000z]"},                 // non-ASCII characters are never blanks
  };
  for (const Case& c : cases) EXPECT_EQ(Join(CommandLineSplit(c.commandLine)), c.arguments) << TextToUtf8(c.commandLine);
  EXPECT_EQ(Join(CommandLineSplit(Text(u"x a\0b", 5))), "[x][a]");  // a zero ends the text
}

TEST(uAppStartParams, FromCommandLineDropsTheProgram) {
  EXPECT_EQ(Describe(StartParamsFromCommandLine(u"setup.exe")), "");
  EXPECT_EQ(Describe(StartParamsFromCommandLine(u"setup.exe -Hidden -DebugRun")), "(,Text:-Hidden) (,Text:-DebugRun)");
}

TEST(uAppStartParams, Grouping) {
  struct Case {
    const char16_t* commandLine;
    const char* grouped;
  } cases[] = {
      {u"x", ""},
      {u"x -Hidden -DebugRun", "(Hidden,Text:) (DebugRun,Text:)"},
      {u"x -Installer \"C:\\a b\\setup.exe\" -FirstRunAfterInstall True",
       "(Installer,Text:C:\\a b\\setup.exe) (FirstRunAfterInstall,Text:True)"},
      {u"x -Path C:\\My Folder\\x", "(Path,Text:C:\\My Folder\\x)"},
      {u"x \"-A\" 1 2 -B", "(A,Text:1 2) (B,Text:)"},
      {u"x -a 1 -A 2", "(a,Text:2)"},              // a repeated name keeps its last value
      {u"x --x v", "(-x,Text:v)"},                 // only the first character is the prefix
      {u"x - -b", "(b,Text:)"},                    // a bare prefix with nothing after it is dropped
      {u"x -b -", "(b,Text:)"},
      {u"x \"-a b\" c", "(a b,Text:c)"},
      {u"x -a \" c \"", "(a,Text: c )"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Describe(StartParamsGrouped(StartParamsFromCommandLine(c.commandLine))), c.grouped) << TextToUtf8(c.commandLine);

  // Another prefix character.
  EXPECT_EQ(Describe(StartParamsGrouped(StartParamsFromCommandLine(u"x /a 1 -b"), u'/')), "(a,Text:1 -b)");

  for (const char16_t* lLine : {u"x foo", u"x foo -a 1", u"x - value", u"x -a 1 - value"})
    EXPECT_EQ(StopMessage([&] { StartParamsGrouped(StartParamsFromCommandLine(lLine)); }),
              "Error: Empty commands are not yet supported")
        << TextToUtf8(lLine);
}

TEST(uAppStartParams, GroupingTheGlobalKeepsTheRawFormAfterAStop) {
  TFlexArray lSaved = StartParams;
  StartParams = StartParamsFromCommandLine(u"x foo -a 1");
  EXPECT_THROW(StartParamsGroup(), EDebugStop);
  EXPECT_EQ(Describe(StartParams), "(,Text:foo) (,Text:-a) (,Text:1)");
  StartParams = StartParamsFromCommandLine(u"x -a 1 -b");
  StartParamsGroup();
  EXPECT_EQ(Describe(StartParams), "(a,Text:1) (b,Text:)");
  EXPECT_TRUE(StartParams.Has(Variant(u"B")));
  StartParams = lSaved;
}

TEST(uAppStartParams, ToCommandLine) {
  struct Case {
    const char* name;
    TFlexArray params;
    const char16_t* commandLine;
  } cases[] = {
      {"empty", TFlexArray(), u""},
      {"flags", FlexArrayFromPairs({u"Hidden", u"", u"DebugRun", Variant()}), u"-Hidden -DebugRun"},
      {"value with a space is quoted", FlexArrayFromPairs({u"Path", u"C:\\My Folder\\x"}), u"-Path \"C:\\My Folder\\x\""},
      {"Boolean", FlexArrayFromPairs({u"RequestedElevation", true}), u"-RequestedElevation True"},
      {"installer to product",
       FlexArrayFromPairs({u"Installer", u"C:\\Users\\a b\\Setup.exe", u"FirstRunAfterInstall", true}),
       u"-Installer \"C:\\Users\\a b\\Setup.exe\" -FirstRunAfterInstall True"},
      {"other blanks are quoted too", FlexArrayFromPairs({u"t", u"a\tb"}), u"-t \"a\tb\""},
      {"a name with a blank is quoted whole", FlexArrayFromPairs({u"a b", u"c"}), u"\"-a b\" c"},
      {"integer and bytes", FlexArrayFromPairs({u"n", 5, u"h", Variant::FromBytes({1})}), u"-n 5 -h 0x01"},
      {"a dash inside a value", FlexArrayFromPairs({u"v", u"a-b"}), u"-v a-b"},
  };
  for (const Case& c : cases) {
    Text lLine = StartParamsToCommandLine(c.params);
    EXPECT_EQ(TextToUtf8(lLine), TextToUtf8(c.commandLine)) << c.name;
    // And the receiver reads the same pairs back.
    TFlexArray lBack = StartParamsGrouped(StartParamsFromCommandLine(u"prog " + lLine));
    ASSERT_EQ(lBack.Count(), c.params.Count()) << c.name;
    for (int i = 0; i < lBack.Count(); ++i) {
      EXPECT_EQ(lBack.GetKeyByIndex(i), c.params.GetKeyByIndex(i)) << c.name;
      EXPECT_EQ(lBack.GetStringByIndex(i), c.params.GetStringByIndex(i)) << c.name;
    }
  }
  EXPECT_EQ(StartParamsToCommandLine(FlexArrayFromPairs({u"a", u"1"}), u'/'), u"/a 1");
}

TEST(uAppStartParams, ToCommandLineRefusesWhatCannotBeReadBack) {
  TFlexArray lKeyless;
  lKeyless.AddValueWithNoKey(Variant(u"foo"));
  TFlexArray lKeylessLater = FlexArrayFromPairs({u"a", 1});
  lKeylessLater.AddValueWithNoKey(Variant(u"foo"));
  struct Case {
    const char* name;
    TFlexArray params;
    const char* stop;
  } cases[] = {
      {"ungrouped", lKeyless, "Error: for now only parsed (command/value) params are supported"},
      {"keyless entry further on", lKeylessLater, "Error: for now only parsed (command/value) params are supported"},
      {"double quote in a value", FlexArrayFromPairs({u"a", u"say \"hi\""}),
       "Error: a command line cannot carry a double quote (it has no escape for it), in the value of parameter a"},
      {"double quote in a name", FlexArrayFromPairs({u"a\"b", u"1"}),
       "Error: a command line cannot carry a double quote (it has no escape for it), in the name of parameter a\"b"},
      {"zero character", FlexArrayFromPairs({u"a", Text(u"x\0y", 3)}),
       "Error: a zero character would end the command line, in the value of parameter a"},
      {"value that looks like a name", FlexArrayFromPairs({u"Offset", -5}),
       "Error: the value of parameter Offset begins with '-' and would be read as a parameter of its own"},
  };
  for (const Case& c : cases) EXPECT_EQ(StopMessage([&] { StartParamsToCommandLine(c.params); }), c.stop) << c.name;
}

TEST(uAppStartParams, CommandLinesSurviveGroupingAndWritingBack) {
  for (const char16_t* lLine : {
           u"x -Installer \"C:\\a b\\setup.exe\" -FirstRunAfterInstall True",
           u"x -Path C:\\My Folder\\x -Hidden",
           u"x \"-a b\"c \"d  e\" -f -g \"\"h",
           u"x -k \" lead\" -m é\u3000ü",
           u"x --twice -",
       }) {
    TFlexArray lParams = StartParamsGrouped(StartParamsFromCommandLine(lLine));
    Text lWritten = StartParamsToCommandLine(lParams);
    TFlexArray lBack = StartParamsGrouped(StartParamsFromCommandLine(u"x " + lWritten));
    EXPECT_EQ(Describe(lBack), Describe(lParams)) << TextToUtf8(lLine) << " -> " << TextToUtf8(lWritten);
  }
}

}  // namespace

// ---- Start-up (appended together with the loading in uAppStartParams.cpp) -----------------

#include "platform/win32api.h"

namespace {

std::string DescribeLoaded(const TFlexArray& a) {
  std::string r;
  for (int i = 0; i < a.Count(); ++i) r += "(" + TextToUtf8(a.GetKeyByIndex(i)) + "," + TextToUtf8(a.GetStringByIndex(i)) + ")";
  return r;
}

TEST(uAppStartParams, LoadedFromTheProcessCommandLine) {
  // Filled while the units started, from this very process's command line.
  const char16_t* lCommandLine = win::GetCommandLineW();
  ASSERT_NE(lCommandLine, nullptr);
  EXPECT_EQ(DescribeLoaded(StartParams), DescribeLoaded(StartParamsFromCommandLine(lCommandLine)));
}

}  // namespace
