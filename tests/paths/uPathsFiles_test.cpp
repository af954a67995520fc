// The file-system operations of uPaths. Unless marked sim-only, these run on the simulated
// machine and, in the Windows build, under Wine.
#include <algorithm>
#include <string>
#include <vector>

#include "DebugRecorder.h"
#include "TestSupport.h"
#include "diag/uMisc.h"
#include "params/uMiscLean.h"
#include "paths/uPaths.h"

#ifndef _WIN32
#include "platform/sim/machine.h"
#endif

using testsupport::AsAdministrator;
using testsupport::FileRead;
using testsupport::FileWrite;
using testsupport::ScratchFolder;

namespace {

struct THandle {
  win::HANDLE h;
  ~THandle() {
    if (h != win::INVALID_HANDLE_VALUE) win::CloseHandle(h);
  }
};

win::HANDLE OpenRaw(const Text& aPath, win::DWORD aAccess, win::DWORD aShare) {
  return win::CreateFileW(aPath.c_str(), aAccess, aShare, nullptr, win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL,
                          nullptr);
}

bool IsReadOnly(const Text& aPath) {
  win::DWORD a = win::GetFileAttributesW(aPath.c_str());
  return a != win::INVALID_FILE_ATTRIBUTES && (a & win::FILE_ATTRIBUTE_READONLY);
}

bool Exists(const Text& aPath) { return win::GetFileAttributesW(aPath.c_str()) != win::INVALID_FILE_ATTRIBUTES; }

// The strings of PendingFileRenameOperations, in order; empty when there is none.
std::vector<Text> PendingRenames() {
  std::vector<Text> result;
  win::DWORD type = 0;
  auto data = testsupport::RegistryValueRead(win::HKEY_LOCAL_MACHINE,
                                             u"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                             u"PendingFileRenameOperations", 0, &type);
  if (!data || type != win::REG_MULTI_SZ) return result;
  // Pairs may hold an empty target, so the strings are split on every zero; only the final
  // zero (the end of the list) is dropped.
  std::size_t n = data->size() / 2;
  Text text(n, 0);
  for (std::size_t i = 0; i < n; ++i)
    text[i] = static_cast<char16_t>(static_cast<unsigned char>((*data)[2 * i]) |
                                    (static_cast<unsigned char>((*data)[2 * i + 1]) << 8));
  if (!text.empty() && text.back() == 0) text.pop_back();
  Text current;
  for (char16_t c : text) {
    if (c == 0) {
      result.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  return result;
}

// The pairs recorded from the first one whose source is aFirstSource on.
std::vector<std::pair<Text, Text>> PendingPairsFrom(const Text& aFirstSource) {
  std::vector<Text> strings = PendingRenames();
  std::vector<std::pair<Text, Text>> pairs;
  bool found = false;
  for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
    found = found || TextSameIgnoreCase(strings[i], aFirstSource);
    if (found) pairs.emplace_back(strings[i], strings[i + 1]);
  }
  return pairs;
}

// The NT form in which delayed moves are recorded.
Text NtForm(const Text& aWin32Path) { return u"\\??\\" + aWin32Path; }

// Collects the log lines and the problem reports of each test.
class FileOpsTest : public ::testing::Test {
 protected:
  // The operations' own lines, without the reports' "[Problem] " lines.
  TRecordedLines FLines{[](const Text& aLine) { return aLine.rfind(u"[Problem] ", 0) != 0; }};
  TRecordedProblems FReports;
};

}  // namespace

// ---- Long-path prefix and flag sets ----------------------------------------------------

TEST_F(FileOpsTest, LongPathPrefixFitsThePathKindAndIsNotAppliedTwice) {
  const struct {
    Text Path, Expected;
  } cases[] = {
      {u"C:\\x", u"\\\\?\\C:\\x"},
      {u"C:\\", u"\\\\?\\C:\\"},
      {u"C:\\dir\\", u"\\\\?\\C:\\dir\\"},
      // The NT path's own leading separator is not doubled after the prefix.
      {u"\\Device\\HarddiskVolume2\\x", u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume2\\x"},
      {u"\\\\server\\share\\x", u"\\\\server\\share\\x"},
      {u"\\\\?\\C:\\x", u"\\\\?\\C:\\x"},
      {u"relative\\x", u"relative\\x"},
      {u"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Path));
    TPath path = c.Path;
    LongPathPrefixAdd(path);
    EXPECT_EQ(path.ToString(), c.Expected);
    LongPathPrefixAdd(path);
    EXPECT_EQ(path.ToString(), c.Expected);
  }
  EXPECT_TRUE(FReports.empty());
}

TEST_F(FileOpsTest, FlagSetOperations) {
  EXPECT_EQ(FlagsCount(0), 0);
  EXPECT_EQ(FlagsCount(0x8000000000000001ull), 2);
  EXPECT_EQ(FlagsCount(~0ull), 64);
  const struct {
    std::uint64_t Flags, Flag;
    bool Has;
    std::uint64_t Removed;
  } cases[] = {
      {0x5, 0x4, true, 0x1},
      {0x5, 0x2, false, 0x5},  // not set: unchanged
      {0x8000000000000000ull, 0x8000000000000000ull, true, 0},
      {0, 0x1, false, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FlagsHas(c.Flags, c.Flag), c.Has);
    EXPECT_EQ(FlagsRemove(c.Flags, c.Flag), c.Removed);
    std::uint64_t v = c.Flags;
    FlagsExclude(v, c.Flag);
    EXPECT_EQ(v, c.Removed);
    FlagsInclude(v, c.Flag);
    EXPECT_EQ(v, c.Flags | c.Flag);
  }
  win::DWORD word = win::MOVEFILE_REPLACE_EXISTING | win::MOVEFILE_DELAY_UNTIL_REBOOT;
  FlagsExclude(word, win::MOVEFILE_DELAY_UNTIL_REBOOT);
  EXPECT_EQ(word, win::MOVEFILE_REPLACE_EXISTING);
  EXPECT_TRUE(FReports.empty());

  // A flag argument needs exactly one bit, a mask at least one: each misuse is one report.
  EXPECT_FALSE(FlagsHas(0x7, 0));
  EXPECT_EQ(FReports.size(), 1u);
  EXPECT_TRUE(FlagsHas(0x7, 0x3));
  EXPECT_EQ(FReports.size(), 2u);
  EXPECT_FALSE(FlagsHasAny(0x7, 0));
  EXPECT_EQ(FReports.size(), 3u);
  EXPECT_TRUE(FlagsHasAny(0x7, 0x18 | 0x4));
  EXPECT_EQ(FReports.size(), 3u);
}

// ---- Opening, availability, attributes, existence --------------------------------------

TEST_F(FileOpsTest, FileIsAvailableOnlyWhenNoOtherHandleHoldsTheFile) {
  const Text dir = ScratchFolder();
  const Text f = dir + u"\\held.txt";
  ASSERT_TRUE(FileWrite(f, "data"));
  EXPECT_TRUE(FileIsAvailable(f));
  // Any open handle, even one that shares everything, makes the file unavailable.
  for (win::DWORD share : {win::DWORD(0), win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE}) {
    SCOPED_TRACE(share);
    THandle other{OpenRaw(f, win::GENERIC_READ, share)};
    ASSERT_NE(other.h, win::INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FileIsAvailable(f));
    EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
  }
  EXPECT_TRUE(FileIsAvailable(f));
  EXPECT_FALSE(FileIsAvailable(dir + u"\\missing.txt"));
  EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
}

TEST_F(FileOpsTest, ReadOnlyFileOpensForWritingAndKeepsItsAttribute) {
  const Text f = ScratchFolder() + u"\\readonly.txt";
  ASSERT_TRUE(FileWrite(f, "data"));
  ASSERT_TRUE(win::SetFileAttributesW(f.c_str(), win::FILE_ATTRIBUTE_READONLY));
  // The plain open is refused; FileOpen gets the handle through its retry.
  {
    THandle plain{OpenRaw(f, win::GENERIC_READ | win::GENERIC_WRITE, 0)};
    EXPECT_EQ(plain.h, win::INVALID_HANDLE_VALUE);
  }
  EXPECT_TRUE(FileIsAvailable(f));
  EXPECT_TRUE(IsReadOnly(f));
  {
    THandle h{FileOpen(f, win::OPEN_EXISTING, win::FILE_SHARE_READ, win::GENERIC_WRITE)};
    ASSERT_NE(h.h, win::INVALID_HANDLE_VALUE);
    // The attribute is back while the handle is still open.
    EXPECT_TRUE(IsReadOnly(f));
    win::DWORD written = 0;
    EXPECT_TRUE(win::WriteFile(h.h, "new!", 4, &written, nullptr));
  }
  EXPECT_EQ(FileRead(f), std::optional<std::string>("new!"));
  EXPECT_TRUE(IsReadOnly(f));
  win::SetFileAttributesW(f.c_str(), win::FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileOpsTest, AttributesAndReadOnlySwitch) {
  const Text dir = ScratchFolder();
  const Text f = dir + u"\\a.txt";
  ASSERT_TRUE(FileWrite(f, "x"));
  EXPECT_EQ(FileAttributesGet(dir + u"\\missing") , win::INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(FileAttributesGet(dir) & win::FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(FileAttributesGet(f) & win::FILE_ATTRIBUTE_DIRECTORY);

  win::BY_HANDLE_FILE_INFORMATION info;
  FileInformationGet(f, info);
  EXPECT_EQ(info.nFileSizeLow, 1u);
  FileInformationGet(dir + u"\\missing", info);
  EXPECT_EQ(info.dwFileAttributes, win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(info.nFileSizeLow, 0u);

  EXPECT_FALSE(FileReadOnlyClear(f));  // not read-only: nothing to clear
  EXPECT_TRUE(FileReadOnlySet(f));
  EXPECT_TRUE(IsReadOnly(f));
  EXPECT_TRUE(FileReadOnlyClear(f));
  EXPECT_FALSE(IsReadOnly(f));
  // A missing file has no attributes to add to.
  EXPECT_FALSE(FileReadOnlySet(dir + u"\\missing"));
  EXPECT_FALSE(Exists(dir + u"\\missing"));
}

TEST_F(FileOpsTest, FileExistsAnyForFilesFoldersAndRoots) {
  const Text dir = ScratchFolder();
  const Text f = dir + u"\\locked.bin";
  ASSERT_TRUE(FileWrite(f, "x"));
  THandle exclusive{OpenRaw(f, win::GENERIC_READ | win::GENERIC_WRITE, 0)};
  ASSERT_NE(exclusive.h, win::INVALID_HANDLE_VALUE);
  const struct {
    Text Path;
    bool Exists;
  } cases[] = {
      {dir, true},
      {dir + u"\\", true},
      {u"C:\\", true},
      // Cannot be opened for reading, but its attributes can be read.
      {f, true},
      {dir + u"\\missing.bin", false},
      {dir + u"\\missing\\x.bin", false},
      {Text(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Path));
    EXPECT_EQ(FileExistsAny(c.Path), c.Exists);
  }
}

// ---- Copying and deleting --------------------------------------------------------------

TEST_F(FileOpsTest, FileCopyHonoursFailIfExists) {
  const Text dir = ScratchFolder();
  ASSERT_TRUE(FileWrite(dir + u"\\a", "AAA"));
  ASSERT_TRUE(FileWrite(dir + u"\\b", "B"));
  EXPECT_FALSE(FileCopy(dir + u"\\a", dir + u"\\b", true));
  EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_EXISTS);
  EXPECT_EQ(FileRead(dir + u"\\b"), std::optional<std::string>("B"));
  EXPECT_TRUE(FileCopy(dir + u"\\a", dir + u"\\b", false));
  EXPECT_EQ(FileRead(dir + u"\\b"), std::optional<std::string>("AAA"));
  EXPECT_TRUE(FileCopy(dir + u"\\a", dir + u"\\c", true));
  EXPECT_EQ(FileRead(dir + u"\\c"), std::optional<std::string>("AAA"));
  EXPECT_TRUE(FLines.empty());
}

TEST_F(FileOpsTest, FileDeleteClearsReadOnlyAndRestoresItWhenTheDeletionStillFails) {
  const Text dir = ScratchFolder();
  const Text plain = dir + u"\\plain.txt";
  const Text readOnly = dir + u"\\readonly.txt";
  const Text heldReadOnly = dir + u"\\held.txt";
  for (const Text& f : {plain, readOnly, heldReadOnly}) ASSERT_TRUE(FileWrite(f, "x"));
  ASSERT_TRUE(win::SetFileAttributesW(readOnly.c_str(), win::FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(win::SetFileAttributesW(heldReadOnly.c_str(), win::FILE_ATTRIBUTE_READONLY));

  EXPECT_TRUE(FileDelete(plain));
  EXPECT_FALSE(Exists(plain));
  EXPECT_TRUE(FileDelete(readOnly));
  EXPECT_FALSE(Exists(readOnly));
  EXPECT_FALSE(FileDelete(dir + u"\\missing.txt"));
  EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
  {
    // Open without sharing delete: the deletion fails whatever the attribute, and the file
    // keeps its read-only attribute.
    THandle held{OpenRaw(heldReadOnly, win::GENERIC_READ, win::FILE_SHARE_READ)};
    ASSERT_NE(held.h, win::INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FileDelete(heldReadOnly));
    EXPECT_TRUE(Exists(heldReadOnly));
    EXPECT_TRUE(IsReadOnly(heldReadOnly));
  }
  EXPECT_TRUE(FReports.empty());
  EXPECT_TRUE(FileDelete(heldReadOnly));
}

// ---- Moving ----------------------------------------------------------------------------

TEST_F(FileOpsTest, FileMoveImmediateLogsOneLineAndReportsUnexpectedFailures) {
  const Text dir = ScratchFolder();
  const Text a = dir + u"\\a.txt", b = dir + u"\\b.txt", c = dir + u"\\c.txt";
  ASSERT_TRUE(FileWrite(a, "new"));
  ASSERT_TRUE(FileWrite(b, "old"));
  ASSERT_TRUE(FileWrite(c, "other"));

  EXPECT_TRUE(FileMove(a, b, win::MOVEFILE_REPLACE_EXISTING, false));
  EXPECT_FALSE(Exists(a));
  EXPECT_EQ(FileRead(b), std::optional<std::string>("new"));
  ASSERT_EQ(FLines.size(), 1u);
  EXPECT_EQ(FLines[0], u"FsMove: OK \"\\\\?\\" + a + u"\" -> \"\\\\?\\" + b +
                           u"\", Flags: 0x1 (MOVEFILE_REPLACE_EXISTING)");
  EXPECT_TRUE(FReports.empty());

  // Without MOVEFILE_REPLACE_EXISTING an existing target stays; the error is the move's,
  // not disturbed by the logging.
  EXPECT_FALSE(FileMove(c, b, 0, true));
  EXPECT_EQ(win::GetLastError(), win::ERROR_ALREADY_EXISTS);
  ASSERT_EQ(FLines.size(), 2u);
  EXPECT_EQ(FLines[1], u"FsMove: ERROR: ERROR_ALREADY_EXISTS \"\\\\?\\" + c + u"\" -> \"\\\\?\\" + b +
                           u"\", Flags: 0x0 ()");
  EXPECT_TRUE(FReports.empty());  // the failure was expected
  EXPECT_FALSE(FileMove(c, b, 0, false));
  EXPECT_EQ(win::GetLastError(), win::ERROR_ALREADY_EXISTS);
  ASSERT_EQ(FReports.size(), 1u);
  EXPECT_EQ(FReports[0].Message, FLines[2]);
  EXPECT_EQ(FileRead(b), std::optional<std::string>("new"));
  EXPECT_EQ(FileRead(c), std::optional<std::string>("other"));
}

TEST_F(FileOpsTest, FileMoveDropsTrailingSeparatorsAndRefusesAnEmptyTargetWithoutDelay) {
  const Text dir = ScratchFolder();
  ASSERT_TRUE(win::CreateDirectoryW((dir + u"\\from").c_str(), nullptr));
  ASSERT_TRUE(FileWrite(dir + u"\\from\\f.txt", "f"));
  EXPECT_TRUE(FileMove(dir + u"\\from\\", dir + u"\\to\\", 0, false));
  EXPECT_EQ(FileRead(dir + u"\\to\\f.txt"), std::optional<std::string>("f"));
  EXPECT_FALSE(Exists(dir + u"\\from"));
  ASSERT_EQ(FLines.size(), 1u);
  EXPECT_EQ(FLines[0], u"FsMove: OK \"\\\\?\\" + dir + u"\\from\" -> \"\\\\?\\" + dir + u"\\to\", Flags: 0x0 ()");

  // An empty target is a deletion only with MOVEFILE_DELAY_UNTIL_REBOOT: misuse is reported,
  // and the system refuses the move.
  EXPECT_FALSE(FileMove(dir + u"\\to\\f.txt", TPath(), win::MOVEFILE_REPLACE_EXISTING, true));
  EXPECT_EQ(FReports.size(), 1u);
  EXPECT_TRUE(Exists(dir + u"\\to\\f.txt"));
  ASSERT_EQ(FLines.size(), 2u);
  EXPECT_NE(FLines[1].find(u"\" -> \"\", Flags: 0x1 (MOVEFILE_REPLACE_EXISTING)"), Text::npos);
}

TEST_F(FileOpsTest, DelayedMovesAreRecordedInPendingFileRenameOperations) {
#ifndef _WIN32
  if (sim::CurrentProcess() && sim::CurrentProcess()->Integrity < sim::kIntegrityHigh) {
    // Not elevated: the system refuses to record, and the failure is reported.
    const Text f = ScratchFolder() + u"\\medium.txt";
    ASSERT_TRUE(FileWrite(f, "x"));
    EXPECT_FALSE(FileMove(f, TPath(), win::MOVEFILE_DELAY_UNTIL_REBOOT, false));
    EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(FReports.size(), 1u);
    EXPECT_TRUE(PendingPairsFrom(NtForm(f)).empty());
    FReports.clear();
    FLines.clear();
  }
#endif
  // Recording needs an administrator's token (under Wine every process has one).
  AsAdministrator admin;
  const Text dir = ScratchFolder();
  const Text source = dir + u"\\Vexlon.sys-tmp", target = dir + u"\\Vexlon.sys", gone = dir + u"\\gone.txt";
  ASSERT_TRUE(FileWrite(source, "new driver"));
  ASSERT_TRUE(FileWrite(target, "old driver"));
  ASSERT_TRUE(FileWrite(gone, "x"));

  EXPECT_TRUE(FileMove(source, target, win::MOVEFILE_REPLACE_EXISTING | win::MOVEFILE_DELAY_UNTIL_REBOOT, false));
  EXPECT_TRUE(FileMove(gone, TPath(), win::MOVEFILE_DELAY_UNTIL_REBOOT, false));
  EXPECT_TRUE(FReports.empty());

  // Nothing moves before the restart.
  EXPECT_EQ(FileRead(source), std::optional<std::string>("new driver"));
  EXPECT_EQ(FileRead(target), std::optional<std::string>("old driver"));
  EXPECT_TRUE(Exists(gone));

  const std::vector<std::pair<Text, Text>> expected = {
      {NtForm(source), u"!" + NtForm(target)},
      {NtForm(gone), Text()},
  };
  const auto pairs = PendingPairsFrom(NtForm(source));
  ASSERT_EQ(pairs.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_TRUE(TextSameIgnoreCase(pairs[i].first, expected[i].first)) << TextToUtf8(pairs[i].first);
    EXPECT_TRUE(TextSameIgnoreCase(pairs[i].second, expected[i].second)) << TextToUtf8(pairs[i].second);
  }

  ASSERT_EQ(FLines.size(), 2u);
  EXPECT_EQ(FLines[0], u"FsMove: OK \"\\\\?\\" + source + u"\" -> \"\\\\?\\" + target +
                           u"\", Flags: 0x5 (MOVEFILE_REPLACE_EXISTING, MOVEFILE_DELAY_UNTIL_REBOOT)");
  EXPECT_EQ(FLines[1], u"FsMove: OK \"\\\\?\\" + gone + u"\" -> \"\", Flags: 0x4 (MOVEFILE_DELAY_UNTIL_REBOOT)");
}

// ---- Folders ---------------------------------------------------------------------------

TEST_F(FileOpsTest, FolderCreateMakesEveryMissingParent) {
  const Text dir = ScratchFolder();
  ASSERT_TRUE(win::CreateDirectoryW((dir + u"\\a").c_str(), nullptr));
  FolderCreate(dir + u"\\a\\b\\c");
  EXPECT_TRUE(FileAttributesGet(dir + u"\\a\\b") & win::FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(FileAttributesGet(dir + u"\\a\\b\\c") & win::FILE_ATTRIBUTE_DIRECTORY);

  FolderCreate(dir + u"\\d\\e\\f\\g\\h\\");
  EXPECT_TRUE(FileAttributesGet(dir + u"\\d\\e\\f\\g\\h") & win::FILE_ATTRIBUTE_DIRECTORY);
  FolderOfFileCreate(dir + u"\\i\\j\\file.txt");
  EXPECT_TRUE(FileAttributesGet(dir + u"\\i\\j") & win::FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(Exists(dir + u"\\i\\j\\file.txt"));

  // An existing folder and the empty path are left alone.
  FolderCreate(dir + u"\\a");
  FolderCreate(TPath());
  EXPECT_TRUE(FReports.empty());
}

TEST_F(FileOpsTest, FolderListKeysWithAndWithoutRecursion) {
  const Text dir = ScratchFolder();
  ASSERT_TRUE(FileWrite(dir + u"\\x.txt", "x"));
  ASSERT_TRUE(win::CreateDirectoryW((dir + u"\\sub").c_str(), nullptr));
  ASSERT_TRUE(FileWrite(dir + u"\\sub\\y.txt", "y"));
  ASSERT_TRUE(win::CreateDirectoryW((dir + u"\\sub\\deeper").c_str(), nullptr));
  ASSERT_TRUE(FileWrite(dir + u"\\sub\\deeper\\z.dat", "z"));

  auto entries = [](const TFlexArray& aList) {
    std::vector<std::pair<Text, std::int64_t>> result;
    for (int i = 0; i < aList.Count(); ++i)
      result.emplace_back(aList.GetKeyByIndex(i), VariantToInt64(aList.GetValueByIndex(i)));
    return result;
  };
  auto sorted = [](std::vector<std::pair<Text, std::int64_t>> aEntries) {
    std::sort(aEntries.begin(), aEntries.end());
    return aEntries;
  };

  // The result is replaced, not added to.
  TFlexArray list(TArrayOfVariants{Variant(u"stale"), Variant(std::int32_t(7))});
  FolderList(dir, true, u"*", 0x1FF, list);
  const auto recursive = entries(list);
  EXPECT_EQ(sorted(recursive), (std::vector<std::pair<Text, std::int64_t>>{{u"sub", 2},
                                                                          {u"sub\\deeper", 2},
                                                                          {u"sub\\deeper\\z.dat", 1},
                                                                          {u"sub\\y.txt", 1},
                                                                          {u"x.txt", 1}}));
  // A folder's own entry comes before the entries inside it, whatever order the system uses.
  auto position = [&](const Text& aKey) { return list.IndexOfKey(aKey); };
  EXPECT_LT(position(u"sub"), position(u"sub\\y.txt"));
  EXPECT_LT(position(u"sub"), position(u"sub\\deeper"));
  EXPECT_LT(position(u"sub\\deeper"), position(u"sub\\deeper\\z.dat"));

  FolderList(dir + u"\\", false, u"*", 0x1FF, list);
  EXPECT_EQ(sorted(entries(list)), (std::vector<std::pair<Text, std::int64_t>>{{u"sub", 2}, {u"x.txt", 1}}));

  // The mask also selects the folders descended into: 'sub' does not match '*.txt'.
  FolderList(dir, true, u"*.txt", 0x1FF, list);
  EXPECT_EQ(entries(list), (std::vector<std::pair<Text, std::int64_t>>{{u"x.txt", 1}}));

  // Only folders: files are passed over, folders still searched.
  FolderList(dir, true, u"*", win::FILE_ATTRIBUTE_DIRECTORY, list);
  EXPECT_EQ(sorted(entries(list)),
            (std::vector<std::pair<Text, std::int64_t>>{{u"sub", 2}, {u"sub\\deeper", 2}}));

  FolderList(dir + u"\\missing", true, u"*", 0x1FF, list);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(FReports.empty());
}

TEST_F(FileOpsTest, FolderListSkipsHiddenAndSystemEntriesUnlessAsked) {
  const Text dir = ScratchFolder();
  ASSERT_TRUE(FileWrite(dir + u"\\shown.txt", "x"));
  ASSERT_TRUE(FileWrite(dir + u"\\hidden.txt", "x"));
  ASSERT_TRUE(FileWrite(dir + u"\\system.txt", "x"));
  ASSERT_TRUE(win::SetFileAttributesW((dir + u"\\hidden.txt").c_str(), win::FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(win::SetFileAttributesW((dir + u"\\system.txt").c_str(), win::FILE_ATTRIBUTE_SYSTEM));
  const struct {
    win::DWORD Attributes;
    std::vector<Text> Keys;
  } cases[] = {
      {0x1FF, {u"hidden.txt", u"shown.txt", u"system.txt"}},
      {0x1FF & ~win::FILE_ATTRIBUTE_HIDDEN, {u"shown.txt", u"system.txt"}},
      {0x1FF & ~win::FILE_ATTRIBUTE_SYSTEM, {u"hidden.txt", u"shown.txt"}},
      {win::FILE_ATTRIBUTE_ARCHIVE | win::FILE_ATTRIBUTE_NORMAL, {u"shown.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Attributes);
    TFlexArray list;
    FolderList(dir, false, u"*", c.Attributes, list);
    std::vector<Text> keys;
    for (int i = 0; i < list.Count(); ++i) keys.push_back(list.GetKeyByIndex(i));
    EXPECT_EQ(keys, c.Keys);
  }
}

TEST_F(FileOpsTest, FolderListFollowsTheOrderOfTheDirectorySearch) {
  const Text dir = ScratchFolder();
  for (const char16_t* name : {u"b.txt", u"A.txt", u"_z.txt"}) ASSERT_TRUE(FileWrite(dir + u"\\" + name, "x"));
  ASSERT_TRUE(win::CreateDirectoryW((dir + u"\\c").c_str(), nullptr));
  ASSERT_TRUE(FileWrite(dir + u"\\c\\B", "x"));
  ASSERT_TRUE(FileWrite(dir + u"\\c\\a", "x"));
  TFlexArray list;
  FolderList(dir, true, u"*", 0x1FF, list);
  std::vector<Text> keys;
  for (int i = 0; i < list.Count(); ++i) keys.push_back(list.GetKeyByIndex(i));
  // Names compare upper-cased, so '_' (0x5F) sorts after every letter.
  EXPECT_EQ(keys, (std::vector<Text>{u"A.txt", u"b.txt", u"c", u"c\\a", u"c\\B", u"_z.txt"}));
}

TEST_F(FileOpsTest, FolderDeleteAfterRestartRecordsFilesThenDeepestFoldersThenTheFolder) {
  AsAdministrator admin;
  const Text dir = ScratchFolder() + u"\\Orvanta-tmp";
  FolderCreate(dir + u"\\a\\b\\c");
  FolderCreate(dir + u"\\z");
  for (const char16_t* f : {u"\\f1.txt", u"\\a\\a.txt", u"\\a\\b\\b.txt", u"\\a\\b\\c\\c.txt"})
    ASSERT_TRUE(FileWrite(dir + f, "x"));

  EXPECT_TRUE(FolderDeleteAfterRestart(dir + u"\\"));
  EXPECT_TRUE(FReports.empty());
  const std::vector<Text> expected = {
      u"\\a\\a.txt", u"\\a\\b\\b.txt", u"\\a\\b\\c\\c.txt", u"\\f1.txt",  // files, in list order
      u"\\a\\b\\c",  u"\\a\\b",        u"\\a",              u"\\z",       // folders, deepest first
      u"",                                                                 // the folder itself
  };
  const auto pairs = PendingPairsFrom(NtForm(dir + expected[0]));
  ASSERT_EQ(pairs.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_TRUE(TextSameIgnoreCase(pairs[i].first, NtForm(dir + expected[i]))) << TextToUtf8(pairs[i].first);
    EXPECT_EQ(pairs[i].second, Text());
  }
  EXPECT_EQ(FLines.size(), expected.size());
  // Nothing is deleted before the restart.
  EXPECT_TRUE(Exists(dir + u"\\a\\b\\c\\c.txt"));
}

#ifndef _WIN32
// The whole way: recorded, then carried out by a restart of the machine.
TEST_F(FileOpsTest, AfterARestartTheTreeIsGone) {
  AsAdministrator admin;
  const Text dir = ScratchFolder() + u"\\Orvanta-tmp";
  FolderCreate(dir + u"\\Drivers\\Vexlon\\x64");
  ASSERT_TRUE(FileWrite(dir + u"\\Vexlon.exe", "exe"));
  ASSERT_TRUE(FileWrite(dir + u"\\Drivers\\Vexlon\\x64\\Vexlon.sys", "sys"));
  ASSERT_TRUE(FolderDeleteAfterRestart(dir));
  ASSERT_TRUE(Exists(dir));
  sim::MachineReboot(sim::MachineFolderHost(), true);  // the test process itself lives on
  EXPECT_FALSE(Exists(dir + u"\\Drivers\\Vexlon\\x64\\Vexlon.sys"));
  EXPECT_FALSE(Exists(dir));
  EXPECT_TRUE(PendingPairsFrom(NtForm(dir)).empty());
}
#endif

TEST_F(FileOpsTest, FolderDeleteAfterRestartLeavesNoFolderOutHoweverDeepTheTree) {
  AsAdministrator admin;
  const TPath root = ScratchFolder() + u"\\deep";
  // More than 100 parts below the drive: every folder is still recorded, the deepest first.
  TPath deepest = root;
  while (deepest.Count <= 110) deepest = deepest + u"d";
  FolderCreate(deepest);
  ASSERT_TRUE(FileAttributesGet(deepest) & win::FILE_ATTRIBUTE_DIRECTORY);

  EXPECT_TRUE(FolderDeleteAfterRestart(root));
  const auto pairs = PendingPairsFrom(NtForm(deepest.ToString()));
  const std::size_t folders = static_cast<std::size_t>(deepest.Count - root.Count);
  ASSERT_EQ(pairs.size(), folders + 1);
  TPath expected = deepest;
  for (const auto& pair : pairs) {
    EXPECT_TRUE(TextSameIgnoreCase(pair.first, NtForm(expected.ToString()))) << TextToUtf8(pair.first);
    expected = expected.PathToParent();
  }
  EXPECT_TRUE(FReports.empty());
}

TEST_F(FileOpsTest, FolderDeleteAfterRestartGoesOnAfterAFailureAndReportsIt) {
  SIM_ONLY("recording is refused at medium integrity, which only the simulated machine runs at");
  const Text dir = ScratchFolder() + u"\\t";
  FolderCreate(dir + u"\\s");
  ASSERT_TRUE(FileWrite(dir + u"\\s\\f", "x"));
  // Medium integrity: every recording is refused, each one logged and reported.
  EXPECT_FALSE(FolderDeleteAfterRestart(dir));
  EXPECT_EQ(FLines.size(), 3u);
  EXPECT_EQ(FReports.size(), 3u);
}

// ---- Well-known folders ----------------------------------------------------------------

TEST_F(FileOpsTest, WellKnownFolders) {
  const TPath system = SystemFolderGet();
  EXPECT_TRUE(system.IsSameAs(TPath(u"C:\\Windows\\system32"))) << TextToUtf8(system.ToString());
  EXPECT_TRUE(CommonAppDataFolderGet().IsSameAs(TPath(u"C:\\ProgramData")))
      << TextToUtf8(CommonAppDataFolderGet().ToString());

  const TPath product = ProductDataFolderGet();
  EXPECT_TRUE(product.IsSameAs(TPath(u"C:\\ProgramData\\Orvanta"))) << TextToUtf8(product.ToString());
  EXPECT_TRUE(FileAttributesGet(product) & win::FILE_ATTRIBUTE_DIRECTORY);

  // A 32-bit program on 64-bit Windows reaches the native folder through 'sysnative'.
  const TPath drivers = SystemDriversFolderGet();
  TPath expected = system;
  if (WindowsIs64Bit() && ProcessArchitectureName() == u"x86") expected.LastSet(u"sysnative");
  expected = expected + u"Drivers";
  EXPECT_TRUE(drivers.IsSameAs(expected)) << TextToUtf8(drivers.ToString());

  const TPath exe = ExePathGet();
  EXPECT_TRUE(exe.IsPathToDrive());
  EXPECT_TRUE(exe.HasExtension(u".exe")) << TextToUtf8(exe.ToString());
  EXPECT_TRUE(FReports.empty());
}

TEST_F(FileOpsTest, WellKnownFoldersOfA32BitProgramOn64BitWindows) {
  SIM_ONLY("the test program runs as a 32-bit process only on the simulated machine");
  EXPECT_EQ(SpecialFolderGet(win::CSIDL_PROGRAM_FILES).ToString(), u"C:\\Program Files (x86)");
  EXPECT_TRUE(SystemDriversFolderGet().IsSameAs(TPath(u"C:\\Windows\\sysnative\\Drivers")));
  EXPECT_TRUE(SpecialFolderGet(-1).IsEmpty());
}
