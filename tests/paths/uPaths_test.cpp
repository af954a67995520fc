#include "paths/uPaths.h"

#include <ostream>
#include <vector>

#include "DebugRecorder.h"
#include "TestSupport.h"
#include "diag/uMisc.h"

// Failed assertions print paths as their text.
void PrintTo(const TPath& aPath, std::ostream* aStream) {
  *aStream << "'" << TextToUtf8(aPath.ToString()) << "' (" << aPath.Count << " parts)";
}

namespace {

std::vector<Text> PartsOf(const TPath& aPath) {
  std::vector<Text> parts;
  for (int i = 0; i < aPath.Count; ++i) parts.push_back(aPath.PartGet(i));
  return parts;
}

// Collects the problem reports of each test, so that a test can say how many reports an
// operation files.
class PathsTest : public ::testing::Test {
 protected:
  std::size_t ReportCount() const { return FReports.size(); }
  void ReportsClear() { FReports.clear(); }

  TRecordedProblems FReports;
};

// ---- Parsing and printing ---------------------------------------------------------------

struct TParseCase {
  Text Input;
  std::vector<Text> Parts;
  bool Leading;
  bool Trailing;
};

TEST_F(PathsTest, ParsesPartsAndFlagsAndPrintsTheTextBack) {
  const TParseCase cases[] = {
      {u"C:\\Windows\\System32", {u"C:", u"Windows", u"System32"}, false, false},
      {u"C:\\dir\\", {u"C:", u"dir"}, false, true},
      {u"C:\\", {u"C:"}, false, true},
      {u"\\\\server\\share\\f", {u"", u"server", u"share", u"f"}, true, false},
      {u"a\\\\b", {u"a", u"", u"b"}, false, false},
      {u"a\\\\", {u"a", u""}, false, true},
      {u"", {}, false, false},
      {u"\\Device\\HarddiskVolume2\\x", {u"Device", u"HarddiskVolume2", u"x"}, true, false},
      // Only the separator splits; '/', ':' and dots are ordinary characters.
      {u"a/b:c", {u"a/b:c"}, false, false},
      {u".\\..\\x", {u".", u"..", u"x"}, false, false},
      // The separator alone is the root and prints as one separator.
      {u"\\", {}, true, false},
      {u"\\\\", {}, true, true},
      {u"\\\\?\\Volume{1}\\", {u"", u"?", u"Volume{1}"}, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Input));
    TPath path = c.Input;
    EXPECT_EQ(PartsOf(path), c.Parts);
    EXPECT_EQ(path.Count, static_cast<int>(c.Parts.size()));
    EXPECT_EQ(path.LeadingSeparator(), c.Leading);
    EXPECT_EQ(path.TrailingSeparator(), c.Trailing);
    EXPECT_EQ(path.ToString(), c.Input);
    EXPECT_EQ(Text(path), c.Input);
  }
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(PathsTest, PartPositionsAreOneBasedAndEmptyPartsHaveLengthZero) {
  struct TCase {
    Text Path;
    int Index;
    std::int64_t Start;
    std::int64_t Length;
  };
  const TCase cases[] = {
      {u"a\\\\b", 0, 1, 1}, {u"a\\\\b", 1, 3, 0}, {u"a\\\\b", 2, 4, 1},
      {u"C:\\dir\\", 1, 4, 3}, {u"\\\\s\\x", 0, 1, 0}, {u"\\\\s\\x", 2, 4, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Path) + " part " + std::to_string(c.Index));
    TRange range = TPath(c.Path).PartGetStartAndEnd(c.Index);
    EXPECT_EQ(range.Start(), c.Start);
    EXPECT_EQ(range.Length(), c.Length);
  }
  EXPECT_EQ(ReportCount(), 0u);

  for (int index : {-1, 3, 7}) {
    ReportsClear();
    EXPECT_FALSE(TPath(u"a\\b\\c").PartGetStartAndEnd(index).IsValid()) << index;
    EXPECT_EQ(ReportCount(), 1u) << index;
  }
}

TEST_F(PathsTest, ClearEmptiesEverythingAndRestoresTheBackslash) {
  TPath path = u"a\\b\\";
  path.SeparatorSet(u'/');
  path.LeadingSeparatorSet(true);
  path.Clear();
  EXPECT_EQ(path.Count, 0);
  EXPECT_TRUE(path.IsEmpty());
  EXPECT_FALSE(path.LeadingSeparator());
  EXPECT_FALSE(path.TrailingSeparator());
  EXPECT_EQ(path.Separator(), u'\\');
  EXPECT_EQ(path.ToString(), u"");
  path.SetPathFromString(u"x\\y");
  EXPECT_EQ(path.Count, 2);
}

TEST_F(PathsTest, SeparatorSetRewritesThePartsAndRecounts) {
  TPath path = u"C:\\a\\b\\";
  path.SeparatorSet(u'/');
  EXPECT_EQ(path.ToString(), u"C:/a/b/");
  EXPECT_EQ(path.CustomSeparator, u"/");
  EXPECT_EQ(path.Count, 3);
  path.SeparatorSet(u'\\');
  EXPECT_EQ(path.ToString(), u"C:\\a\\b\\");
  EXPECT_TRUE(path.CustomSeparator.empty());

  // A part that already held the new separator is split by it.
  TPath mixed = u"a/b\\c";
  EXPECT_EQ(mixed.Count, 2);
  mixed.SeparatorSet(u'/');
  EXPECT_EQ(PartsOf(mixed), (std::vector<Text>{u"a", u"b", u"c"}));

  // Parsing uses the separator in force.
  TPath slashed;
  slashed.SeparatorSet(u'/');
  slashed.SetPathFromString(u"/x\\y/z/");
  EXPECT_EQ(PartsOf(slashed), (std::vector<Text>{u"x\\y", u"z"}));
  EXPECT_TRUE(slashed.LeadingSeparator());
  EXPECT_TRUE(slashed.TrailingSeparator());
}

// ---- URLs -------------------------------------------------------------------------------

TEST_F(PathsTest, SetPathFromUrlTryTurnsFileUrlsIntoWindowsPaths) {
  struct TCase {
    Text Url;
    Text Expected;
    char16_t Separator;
    int Count;
  };
  const TCase cases[] = {
      {u"file:///C:/dir/x.txt", u"C:\\dir\\x.txt", u'\\', 3},
      {u"file:///C:/dir/", u"C:\\dir\\", u'\\', 2},
      // The host of a file URL is a network path, not something to drop.
      {u"file://server/share/f", u"\\\\server\\share\\f", u'\\', 4},
      {u"file:////server/share", u"\\\\server\\share", u'\\', 3},
      {u"file:/C:/dir/x", u"C:\\dir\\x", u'\\', 3},
      {u"file:///", u"", u'\\', 0},
      {u"file:", u"", u'\\', 0},
      // The scheme is compared exactly; other URLs keep '/' and their scheme.
      {u"FILE:///C:/x", u"FILE:///C:/x", u'/', 5},
      {u"scheme://host/a", u"scheme://host/a", u'/', 4},
      {u"http://h/b.c\\d", u"http://h/b.c\\d", u'/', 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Url));
    TPath path;
    path.SetPathFromUrlTry(c.Url);
    EXPECT_EQ(path.ToString(), c.Expected);
    EXPECT_EQ(path.Separator(), c.Separator);
    EXPECT_EQ(path.Count, c.Count);
  }
  TPath url;
  url.SetPathFromUrlTry(u"scheme://host/a");
  EXPECT_EQ(PartsOf(url), (std::vector<Text>{u"scheme:", u"", u"host", u"a"}));
  TPath network;
  network.SetPathFromUrlTry(u"file://server/share/f");
  EXPECT_TRUE(network.IsPathToNetwork());
  EXPECT_EQ(ReportCount(), 0u);

  url.SetPathFromUrlTry(u"");
  EXPECT_TRUE(url.IsEmpty());
  EXPECT_EQ(url.Separator(), u'\\');
}

TEST_F(PathsTest, SetPathFromUrlReportsAnEmptyResult) {
  TPath path;
  path.SetPathFromUrl(u"file:///C:/x");
  EXPECT_EQ(ReportCount(), 0u);
  path.SetPathFromUrl(u"file:///");
  EXPECT_TRUE(path.IsEmpty());
  EXPECT_EQ(ReportCount(), 1u);
  EXPECT_EQ(FReports[0].Type, u"Alert");
}

// ---- Index checks and editing -----------------------------------------------------------

TEST_F(PathsTest, IndexOutsideThePartsIsReportedAndChangesNothing) {
  TPath path = u"C:\\a\\b";
  for (int index : {-1, 3}) {
    ReportsClear();
    EXPECT_EQ(path.PartGet(index), u"") << index;
    path.PartSet(index, u"x");
    path.Remove(index);
    EXPECT_EQ(ReportCount(), 3u) << index;
    EXPECT_EQ(path.ToString(), u"C:\\a\\b");
  }
  ReportsClear();
  path.Insert(4, u"x");
  path.Insert(-1, u"x");
  EXPECT_EQ(ReportCount(), 2u);
  EXPECT_EQ(path.ToString(), u"C:\\a\\b");

  TPath empty;
  ReportsClear();
  EXPECT_EQ(empty.First(), u"");
  EXPECT_EQ(empty.LastGet(), u"");
  empty.LastSet(u"x");
  empty.RemoveLast();
  empty.RemoveFirst();
  EXPECT_EQ(empty.ExtractFirst(), u"");
  EXPECT_EQ(ReportCount(), 6u);
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ(empty.ToString(), u"");
}

TEST_F(PathsTest, InsertAndRemoveKeepTheTextAndTheCountInStep) {
  struct TCase {
    Text Path;
    bool bInsert;
    int Index;
    Text Part;
    Text Expected;
  };
  const TCase cases[] = {
      {u"a\\c", true, 1, u"b", u"a\\b\\c"},
      {u"a\\c", true, 0, u"x", u"x\\a\\c"},
      {u"a\\c", true, 2, u"d", u"a\\c\\d"},
      {u"a\\\\c", true, 2, u"b", u"a\\\\b\\c"},
      {u"", true, 0, u"x", u"x"},
      {u"\\\\s\\x\\", true, 3, u"y", u"\\\\s\\x\\y\\"},
      {u"a\\b\\c", false, 1, u"", u"a\\c"},
      {u"a\\b\\c", false, 0, u"", u"b\\c"},
      {u"a\\b\\c", false, 2, u"", u"a\\b"},
      {u"a\\\\c", false, 1, u"", u"a\\c"},
      {u"\\\\server\\share\\", false, 2, u"", u"\\\\server\\"},
      {u"C:\\", false, 0, u"", u"\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Path) + (c.bInsert ? " insert " : " remove ") + std::to_string(c.Index));
    TPath path = c.Path;
    if (c.bInsert)
      path.Insert(c.Index, c.Part);
    else
      path.Remove(c.Index);
    EXPECT_EQ(path.ToString(), c.Expected);
    // The count must be what parsing the same parts would give.
    TPath reparsed = c.Expected;
    EXPECT_EQ(path.Count, reparsed.Count);
    EXPECT_EQ(PartsOf(path), PartsOf(reparsed));
  }
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(PathsTest, AnEmptyPartAppendedToAnEmptyPathIsOnePart) {
  TPath path;
  path.Insert(0, u"");
  EXPECT_EQ(path.Count, 1);
  EXPECT_EQ(path.PartGet(0), u"");
  path.Insert(1, u"x");
  EXPECT_EQ(PartsOf(path), (std::vector<Text>{u"", u"x"}));
  path.RemoveFirst();
  path.RemoveFirst();
  EXPECT_TRUE(path.IsEmpty());
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(PathsTest, APartHoldingTheSeparatorIsRefused) {
  TPath path = u"a\\b";
  path.Insert(1, u"x\\y");
  path.PartSet(0, u"x\\y");
  EXPECT_EQ(ReportCount(), 2u);
  EXPECT_EQ(path.ToString(), u"a\\b");
  EXPECT_EQ(path.Count, 2);
  // Under another separator the backslash is an ordinary character.
  TPath url;
  url.SetPathFromUrlTry(u"http://h/a");
  url.LastSet(u"x\\y");
  EXPECT_EQ(url.ToString(), u"http://h/x\\y");
  EXPECT_EQ(ReportCount(), 2u);
}

TEST_F(PathsTest, PartSetLastSetAndIndexOf) {
  TPath path = u"C:\\Program Files\\Orvanta";
  path.LastSet(path.LastGet() + u"-tmp");
  EXPECT_EQ(path.ToString(), u"C:\\Program Files\\Orvanta-tmp");
  path.PartSet(1, u"");
  EXPECT_EQ(path.ToString(), u"C:\\\\Orvanta-tmp");
  path.PartSet(1, u"x");
  EXPECT_EQ(path.ToString(), u"C:\\x\\Orvanta-tmp");
  EXPECT_EQ(path.IndexOf(u"ORVANTA-TMP"), 2);
  EXPECT_EQ(path.IndexOf(u"c:"), 0);
  EXPECT_EQ(path.IndexOf(u"y"), -1);
  EXPECT_EQ(TPath(u"a\\\\b").IndexOf(u""), 1);
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(PathsTest, ExtractSplitInvertAndTheCopies) {
  TPath path = u"\\\\server\\share\\f\\";
  Text first;
  TPath remainder;
  path.SplitIntoFirstAndRemainder(first, remainder);
  EXPECT_EQ(first, u"");
  EXPECT_EQ(remainder.ToString(), u"\\server\\share\\f\\");
  EXPECT_EQ(path.ToString(), u"\\\\server\\share\\f\\");

  TPath empty;
  first = u"stale";
  empty.SplitIntoFirstAndRemainder(first, remainder);
  EXPECT_EQ(first, u"");
  EXPECT_TRUE(remainder.IsEmpty());

  TPath abc = u"a\\b\\c\\d";
  EXPECT_EQ(abc.Inverted().ToString(), u"d\\c\\b\\a");
  EXPECT_EQ(TPath(u"a\\b\\c").Inverted().ToString(), u"c\\b\\a");
  EXPECT_EQ(TPath(u"a").Inverted().ToString(), u"a");
  EXPECT_EQ(abc.WithoutFirst().ToString(), u"b\\c\\d");
  EXPECT_EQ(abc.WithoutLast().ToString(), u"a\\b\\c");
  EXPECT_EQ(abc.PathToParent().ToString(), u"a\\b\\c");
  EXPECT_EQ(abc.ToString(), u"a\\b\\c\\d");
  EXPECT_EQ(abc.ExtractFirst(), u"a");
  EXPECT_EQ(abc.ToString(), u"b\\c\\d");
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(PathsTest, CopyFirstAndLastParts) {
  TPath path = u"\\\\server\\share\\f\\";
  // Empty parts are copied: the copy of a network path stays a network path.
  TPath head = path.CopyFirstParts(3);
  EXPECT_EQ(head.ToString(), u"\\\\server\\share");
  EXPECT_TRUE(head.IsPathToNetwork());
  EXPECT_FALSE(head.IsPathInNt());
  TPath tail = path.CopyLastParts(2);
  EXPECT_EQ(tail.ToString(), u"\\share\\f\\");
  EXPECT_EQ(TPath(u"a\\\\b").CopyLastParts(3).Count, 3);
  EXPECT_EQ(ReportCount(), 0u);

  // Asking for more than there is: reported, all parts.
  EXPECT_EQ(TPath(u"a\\b").CopyLastParts(5).ToString(), u"a\\b");
  EXPECT_EQ(ReportCount(), 1u);
  EXPECT_EQ(TPath(u"a\\b").CopyFirstParts(5).ToString(), u"a\\b");
  EXPECT_EQ(ReportCount(), 2u);
  EXPECT_TRUE(TPath(u"a\\b").CopyFirstParts(-1).IsEmpty());
  EXPECT_EQ(ReportCount(), 3u);

  // The separator of the copy is the separator of the path.
  TPath url;
  url.SetPathFromUrlTry(u"http://h/a/b");
  EXPECT_EQ(url.CopyFirstParts(3).ToString(), u"http://h");
  EXPECT_EQ(url.CopyLastParts(2).ToString(), u"a/b");
}

TEST_F(PathsTest, RelativeTo) {
  EXPECT_EQ(TPath(u"C:\\a\\b\\c").RelativeTo(u"C:\\a").ToString(), u"b\\c");
  EXPECT_EQ(TPath(u"C:\\A\\b\\c\\").RelativeTo(u"c:\\a\\").ToString(), u"b\\c\\");
  EXPECT_EQ(TPath(u"\\\\server\\share\\f").RelativeTo(u"\\\\server\\share").ToString(), u"\\f");
  EXPECT_EQ(ReportCount(), 0u);
  // Not a parent: a report and no answer, rather than the tail of an unrelated path.
  for (const char16_t* parent : {u"D:\\a", u"C:\\a\\b\\c", u"C:\\a\\b\\c\\d"}) {
    ReportsClear();
    EXPECT_TRUE(TPath(u"C:\\a\\b\\c").RelativeTo(parent).IsEmpty()) << TextToUtf8(parent);
    EXPECT_EQ(ReportCount(), 1u) << TextToUtf8(parent);
  }
}

// ---- Addition ---------------------------------------------------------------------------

TEST_F(PathsTest, AdditionAddsPartsAndTakesTheRightTrailingFlag) {
  struct TCase {
    Text Left;
    Text Right;
    Text Expected;
  };
  const TCase cases[] = {
      {u"C:\\Program Files", u"Orvanta\\Vexlon.exe", u"C:\\Program Files\\Orvanta\\Vexlon.exe"},
      {u"C:\\x\\", u"y", u"C:\\x\\y"},
      {u"C:\\x", u"y\\", u"C:\\x\\y\\"},
      {u"C:\\x\\", u"", u"C:\\x"},
      {u"C:\\x", u"\\y", u"C:\\x\\y"},
      {u"\\\\server\\share", u"a\\\\b", u"\\\\server\\share\\a\\\\b"},
      {u"", u"C:\\x", u"C:\\x"},
      // Added to nothing, the right path keeps its root.
      {u"", u"\\\\server\\share", u"\\\\server\\share"},
      {u"", u"\\Device\\x", u"\\Device\\x"},
      {u"\\", u"Windows", u"\\Windows"},
      {u"", u"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Left) + " + " + TextToUtf8(c.Right));
    TPath left = c.Left;
    EXPECT_EQ((left + c.Right).ToString(), c.Expected);
    EXPECT_EQ((left + TPath(c.Right)).ToString(), c.Expected);
    EXPECT_EQ((left + c.Right.c_str()).ToString(), c.Expected);
    EXPECT_EQ(left.ToString(), c.Left);
  }
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(PathsTest, AdditionKeepsTheLeftSeparatorAndAddKeepsTheFlags) {
  TPath url;
  url.SetPathFromUrlTry(u"http://h/a");
  EXPECT_EQ((url + u"b\\c").ToString(), u"http://h/a/b/c");

  TPath path = u"C:\\x";
  path.Add(u"\\y\\z\\");
  EXPECT_EQ(path.ToString(), u"C:\\x\\y\\z");
  path.Add(path);
  EXPECT_EQ(path.ToString(), u"C:\\x\\y\\z\\C:\\x\\y\\z");
  TPath self = u"a\\b";
  EXPECT_EQ((self + self).ToString(), u"a\\b\\a\\b");
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(PathsTest, TextPlusPathIsPlainConcatenation) {
  TPath path = u"C:\\x\\";
  Text prefixed = u"\\\\?\\" + path;
  EXPECT_EQ(prefixed, u"\\\\?\\C:\\x\\");
  EXPECT_EQ(Text(u"pre") + path, u"preC:\\x\\");
  EXPECT_EQ(u"" + TPath(), u"");
}

TEST_F(PathsTest, EqualityIsIsSameAs) {
  EXPECT_TRUE(TPath(u"C:\\A\\b") == TPath(u"c:\\a\\B"));
  EXPECT_TRUE(TPath(u"C:\\x") == u"c:\\x\\");
  EXPECT_TRUE(Text(u"c:\\x") == TPath(u"C:\\X"));
  EXPECT_TRUE(TPath(u"C:\\x") != u"C:\\y");
  EXPECT_FALSE(TPath(u"C:\\x") != u"C:\\X");
}

// ---- Extensions -------------------------------------------------------------------------

TEST_F(PathsTest, ExtensionOfTheLastPart) {
  struct TCase {
    Text Path;
    Text Extension;
    Text WithoutExtension;
  };
  const TCase cases[] = {
      {u"a.tar.gz", u".gz", u"a.tar"},
      {u"name.", u".", u"name"},
      {u".cfg", u".cfg", u""},
      {u"a.b:c", u"", u"a.b:c"},
      {u"C:\\dir.d\\file", u"", u"file"},
      {u"C:\\x\\Vexlon.SYS", u".SYS", u"Vexlon"},
      {u"C:\\x\\", u"", u"x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Path));
    TPath path = c.Path;
    EXPECT_EQ(path.Extension(), c.Extension);
    EXPECT_EQ(path.LastWithoutFileExtension(), c.WithoutExtension);
  }
  // Under '/' a backslash in the last part still ends the search.
  TPath url;
  url.SetPathFromUrlTry(u"http://h/b.c\\d");
  EXPECT_EQ(url.Extension(), u"");
  url.SetPathFromUrlTry(u"http://h/b\\c.d");
  EXPECT_EQ(url.Extension(), u".d");
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(PathsTest, HasExtension) {
  TPath driver = u"C:\\x\\Vexlon.SYS";
  EXPECT_TRUE(driver.HasExtension(u".sys"));
  EXPECT_FALSE(driver.HasExtension(u".exe"));
  EXPECT_FALSE(driver.HasExtension(u""));
  EXPECT_TRUE(TPath(u"C:\\x\\README").HasExtension(u""));
  EXPECT_TRUE(driver.HasExtension({u".exe", u".sys"}));
  EXPECT_FALSE(driver.HasExtension(std::vector<Text>{}));
  EXPECT_TRUE(driver.HasExtension(std::vector<Text>{u".dll", u".SyS"}));
  EXPECT_EQ(ReportCount(), 0u);
  // Given without its dot: a report, and no match.
  EXPECT_FALSE(driver.HasExtension(u"sys"));
  EXPECT_EQ(ReportCount(), 1u);
}

// ---- Comparisons and parents ------------------------------------------------------------

TEST_F(PathsTest, IsSameAsIgnoresAsciiCaseFlagsAndSeparators) {
  TPath slashed;
  slashed.SeparatorSet(u'/');
  slashed.SetPathFromString(u"C:/x");
  struct TCase {
    TPath A;
    TPath B;
    bool bSame;
  };
  const TCase cases[] = {
      {u"C:\\A\\b", u"c:\\a\\B", true},
      {u"C:\\x", u"C:\\x\\", true},
      {u"C:\\x", slashed, true},
      {u"\\C:\\x", u"C:\\x", true},
      {u"C:\\\u00C4", u"C:\\\u00E4", false},
      {u"C:\\x", u"C:\\x\\y", false},
      {u"a\\\\b", u"a\\b", false},
      {u"", u"", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.A.ToString()) + " vs " + TextToUtf8(c.B.ToString()));
    EXPECT_EQ(c.A.IsSameAs(c.B), c.bSame);
    EXPECT_EQ(c.B.IsSameAs(c.A), c.bSame);
  }
}

TEST_F(PathsTest, ParentAndChildTests) {
  struct TCase {
    Text Parent;
    Text Child;
    bool bAnyParent;
    bool bDirectParent;
  };
  const TCase cases[] = {
      {u"C:\\a", u"C:\\a\\b", true, true},
      {u"c:\\A\\", u"C:\\a\\b\\c", true, false},
      {u"C:\\a", u"C:\\a", false, false},
      {u"C:\\a\\b", u"C:\\a", false, false},
      {u"C:\\b", u"C:\\a\\b", false, false},
      {u"", u"C:", true, true},
      {u"", u"C:\\a", true, false},
      {u"", u"", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Parent) + " / " + TextToUtf8(c.Child));
    TPath parent = c.Parent;
    TPath child = c.Child;
    EXPECT_EQ(parent.IsAnyParentOf(child), c.bAnyParent);
    EXPECT_EQ(child.IsAnyChildOf(parent), c.bAnyParent);
    EXPECT_EQ(parent.IsParentOf(child), c.bDirectParent);
    EXPECT_EQ(child.IsSameOrIsAnyChild(parent, true), c.bAnyParent || child.IsSameAs(parent));
    EXPECT_EQ(child.IsSameOrIsAnyChild(parent, false), child.IsSameAs(parent));
  }
  EXPECT_TRUE(TPath(u"C:\\a").IsSameOrIsAnyChild(u"c:\\A\\", false));
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(PathsTest, ParentNameTests) {
  TPath path = u"C:\\Windows\\System32\\drivers";
  EXPECT_TRUE(path.HasDirectParentWithName(u"system32"));
  EXPECT_FALSE(path.HasDirectParentWithName(u"windows"));
  EXPECT_TRUE(path.HasAnyParentWithName(u"WINDOWS"));
  EXPECT_TRUE(path.HasAnyParentWithName(u"c:"));
  // The last part is not a parent of itself.
  EXPECT_FALSE(path.HasAnyParentWithName(u"drivers"));
  EXPECT_TRUE(path.IsOrHasAnyParentWithName(u"Drivers"));
  EXPECT_FALSE(path.IsOrHasAnyParentWithName(u"x"));
  EXPECT_FALSE(TPath().IsOrHasAnyParentWithName(u""));

  EXPECT_FALSE(path.HasAnyParentWithNameIn({}));
  EXPECT_TRUE(path.HasAnyParentWithNameIn({Variant(u"x"), Variant(u"system32")}));
  EXPECT_FALSE(path.HasAnyParentWithNameIn({Variant(u"drivers")}));
  EXPECT_TRUE(path.IsOrHasAnyParentWithNameIn({Variant(u"x"), Variant(u"drivers")}));
  EXPECT_TRUE(TPath(u"C:\\5\\x").HasAnyParentWithNameIn({Variant(5)}));
  EXPECT_EQ(ReportCount(), 0u);

  // Fewer than two parts: reported, and no parent of any name, the empty one included.
  EXPECT_FALSE(TPath(u"C:").HasDirectParentWithName(u""));
  EXPECT_EQ(ReportCount(), 1u);
  // A null name is reported and skipped; the search goes on.
  EXPECT_TRUE(path.HasAnyParentWithNameIn({Variant::Null(), Variant(u"windows")}));
  EXPECT_EQ(ReportCount(), 2u);
}

TEST_F(PathsTest, IsOnDriveAndSameLastParts) {
  EXPECT_TRUE(TPath(u"C:\\x").IsOnDrive(u"c:"));
  EXPECT_TRUE(TPath(u"C:\\x").IsOnDrive(u"C:\\"));
  EXPECT_FALSE(TPath(u"C:\\x").IsOnDrive(u"D:"));

  TPath path = u"C:\\a\\B\\c";
  EXPECT_TRUE(path.HasSameLastPartsAs(u"b\\C"));
  EXPECT_TRUE(path.HasSameLastPartsAs(path));
  EXPECT_TRUE(path.HasSameLastPartsAs(TPath()));
  EXPECT_FALSE(path.HasSameLastPartsAs(u"a\\c"));
  EXPECT_FALSE(TPath(u"b\\c").HasSameLastPartsAs(path));
  // Empty parts count as parts.
  TPath network = u"\\\\server\\share";
  EXPECT_TRUE(network.HasSameLastPartsAs(network));
  EXPECT_TRUE(path.HasSameLastPartsAsAny({Variant(u"x"), Variant(u"\\B\\c\\")}));
  EXPECT_FALSE(path.HasSameLastPartsAsAny({Variant(u"x"), Variant(u"a")}));
  EXPECT_FALSE(path.HasSameLastPartsAsAny({}));
  EXPECT_EQ(ReportCount(), 0u);

  EXPECT_FALSE(TPath().IsOnDrive(u""));
  EXPECT_FALSE(TPath(u"C:\\x").IsOnDrive(TPath()));
  EXPECT_EQ(ReportCount(), 2u);
}

// ---- Path kinds -------------------------------------------------------------------------

TEST_F(PathsTest, PathKinds) {
  struct TCase {
    Text Path;
    bool bInNt, bToDrive, bDrive, bPcItself, bVolume, bNetwork;
  };
  const TCase cases[] = {
      {u"C:\\x", false, true, false, false, false, false},
      {u"C:", false, true, true, false, false, false},
      {u"c:\\", false, true, true, false, false, false},
      {u"C:x", false, false, false, false, false, false},
      {u"dir\\x", false, false, false, false, false, false},
      {u"", false, false, false, false, false, false},
      {u"\\", false, false, false, false, false, false},
      {u"\\Device\\HarddiskVolume2\\Windows", true, false, false, false, false, false},
      {u"\\\\?\\C:\\x", false, false, false, true, false, false},
      {u"\\\\?\\Volume{1234}\\x", false, false, false, true, true, false},
      {u"\\\\?\\volume{1234}", false, false, false, true, true, false},
      {u"\\\\?\\Vol{1234}", false, false, false, true, false, false},
      {u"\\\\server\\share", false, false, false, false, false, true},
      {u"\\\\.\\C:", false, false, false, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Path));
    TPath path = c.Path;
    EXPECT_EQ(path.IsPathInNt(), c.bInNt);
    EXPECT_EQ(path.IsPathToPcItself(), c.bPcItself);
    if (!c.bInNt) {
      EXPECT_EQ(path.IsPathToDrive(), c.bToDrive);
      EXPECT_EQ(path.IsDrive(), c.bDrive);
      EXPECT_EQ(path.IsPathToVolume(), c.bVolume);
      EXPECT_EQ(path.IsPathToNetwork(), c.bNetwork);
    }
  }
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(PathsTest, PathKindMisuseIsReported) {
  // A rooted path that is not below \Device passes as NT, with a report.
  EXPECT_TRUE(TPath(u"\\Windows").IsPathInNt());
  EXPECT_EQ(ReportCount(), 1u);
  EXPECT_FALSE(FReports[0].Message.empty());

  // The drive, volume and network tests are not for NT paths: reported, false.
  TPath nt = u"\\Device\\HarddiskVolume2";
  for (int i = 0; i < 3; ++i) {
    ReportsClear();
    bool result = i == 0 ? nt.IsPathToDrive() : i == 1 ? nt.IsPathToVolume() : nt.IsPathToNetwork();
    EXPECT_FALSE(result) << i;
    EXPECT_EQ(ReportCount(), 1u) << i;
  }
  ReportsClear();
  EXPECT_FALSE(TPath(u"\\C:\\x").IsPathToDrive());
  EXPECT_GE(ReportCount(), 1u);

  ReportsClear();
  EXPECT_TRUE(TPath(u"\\Device\\Mup\\server").IsDeviceMup());
  EXPECT_TRUE(TPath(u"\\device\\mup").IsDeviceMup());
  EXPECT_FALSE(TPath(u"\\Device\\HarddiskVolume2\\Mup").IsDeviceMup());
  EXPECT_EQ(ReportCount(), 0u);
  // Only NT paths have a device: 'x\Mup' is reported and is no Mup path.
  EXPECT_FALSE(TPath(u"x\\Mup").IsDeviceMup());
  EXPECT_FALSE(TPath(u"\\\\Mup\\x").IsDeviceMup());
  EXPECT_EQ(ReportCount(), 2u);
}

}  // namespace
