// The file-system core, as both backends answer it: these run on the simulated machine and,
// in the Windows build, under Wine.
#include <vector>

#include "TestSupport.h"

using namespace win;
using testsupport::FileRead;
using testsupport::FileWrite;
using testsupport::ScratchFolder;

namespace {

HANDLE Open(const Text& aPath, DWORD aAccess, DWORD aShare, DWORD aDisposition = OPEN_EXISTING, DWORD aFlags = 0) {
  return CreateFileW(aPath.c_str(), aAccess, aShare, nullptr, aDisposition, aFlags ? aFlags : FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct Closer {
  HANDLE h;
  ~Closer() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

std::vector<Text> List(const Text& aPattern) {
  std::vector<Text> names;
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW(aPattern.c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    names.emplace_back(d.cFileName);
  } while (FindNextFileW(h, &d));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  FindClose(h);
  return names;
}

}  // namespace

TEST(Files, SharingConflictsGiveError32) {
  Text f = ScratchFolder() + u"\\shared.bin";
  ASSERT_TRUE(FileWrite(f, "data"));
  struct Case {
    const char* what;
    DWORD firstAccess, firstShare, secondAccess, secondShare;
    bool allowed;
  };
  const Case cases[] = {
      {"reader sharing read, second reader", GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
      {"reader sharing nothing, second reader", GENERIC_READ, 0, GENERIC_READ, FILE_SHARE_READ, false},
      {"reader sharing read, writer", GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_READ, false},
      {"writer, reader not sharing write", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_READ,
       FILE_SHARE_READ, false},
      {"writer, reader sharing write", GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
       true},
      {"no sharing, attributes only", GENERIC_READ | GENERIC_WRITE, 0, FILE_READ_ATTRIBUTES, 0, true},
      {"reader, delete access without share delete", GENERIC_READ, FILE_SHARE_READ, DELETE,
       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Closer first{Open(f, c.firstAccess, c.firstShare)};
    ASSERT_NE(first.h, INVALID_HANDLE_VALUE);
    SetLastError(0);
    Closer second{Open(f, c.secondAccess, c.secondShare)};
    EXPECT_EQ(second.h != INVALID_HANDLE_VALUE, c.allowed);
    if (!c.allowed) {
      EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    }
  }
  // Once the handle is closed the file is free again.
  Closer again{Open(f, GENERIC_READ | GENERIC_WRITE, 0)};
  EXPECT_NE(again.h, INVALID_HANDLE_VALUE);
}

TEST(Files, OpenFilesBlockDeleteAndMoveUnlessSharedForDelete) {
  Text dir = ScratchFolder();
  Text f = dir + u"\\busy.txt";
  ASSERT_TRUE(FileWrite(f, "x"));
  {
    Closer h{Open(f, GENERIC_READ, FILE_SHARE_READ)};
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileW(f.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(MoveFileExW(f.c_str(), (dir + u"\\moved.txt").c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
  EXPECT_TRUE(MoveFileExW(f.c_str(), (dir + u"\\moved.txt").c_str(), 0));
  EXPECT_TRUE(DeleteFileW((dir + u"\\moved.txt").c_str()));
}

TEST(Files, NamesAreFoundWhateverTheirCaseAndKeepTheirCase) {
  Text dir = ScratchFolder();
  ASSERT_TRUE(CreateDirectoryW((dir + u"\\MixedCase Folder").c_str(), nullptr));
  ASSERT_TRUE(FileWrite(dir + u"\\mixedcase folder\\ReadMe.TXT", "hello"));
  EXPECT_EQ(FileRead(dir + u"\\MIXEDCASE FOLDER\\readme.txt"), "hello");
  EXPECT_NE(GetFileAttributesW((dir + u"\\mIxEdCaSe FoLdEr").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(List(dir + u"\\*"), (std::vector<Text>{u".", u"..", u"MixedCase Folder"}));
  EXPECT_EQ(List(dir + u"\\MIXEDCASE FOLDER\\*.txt"), std::vector<Text>{u"ReadMe.TXT"});
  // A second create in other letter case finds the same entry.
  EXPECT_FALSE(CreateDirectoryW((dir + u"\\MIXEDCASE FOLDER").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
}

TEST(Files, ErrorCodesOfMissingFilesFoldersAndBadNames) {
  Text dir = ScratchFolder();
  struct Case {
    const char* what;
    Text path;
    DWORD error;
  };
  const Case cases[] = {
      {"missing file", dir + u"\\nothing.txt", ERROR_FILE_NOT_FOUND},
      {"missing folder on the way", dir + u"\\no-folder\\nothing.txt", ERROR_PATH_NOT_FOUND},
      {"invalid character", dir + u"\\bad|name.txt", ERROR_INVALID_NAME},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(c.path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), c.error);
    SetLastError(0);
    Closer h{Open(c.path, GENERIC_READ, FILE_SHARE_READ)};
    EXPECT_EQ(h.h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
    SetLastError(0);
    EXPECT_FALSE(DeleteFileW(c.path.c_str()));
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST(Files, DispositionsAndTheirLastErrors) {
  Text f = ScratchFolder() + u"\\d.txt";
  {
    Closer h{Open(f, GENERIC_WRITE, 0, CREATE_NEW)};
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h.h, "12345", 5, &n, nullptr));
  }
  Closer exists{Open(f, GENERIC_WRITE, 0, CREATE_NEW)};
  EXPECT_EQ(exists.h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  {
    SetLastError(0);
    Closer h{Open(f, GENERIC_READ, FILE_SHARE_READ, OPEN_ALWAYS)};
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(h.h, nullptr), 5u);
  }
  {
    Closer h{Open(f, GENERIC_WRITE, 0, CREATE_ALWAYS)};
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(h.h, nullptr), 0u);
  }
  Text fresh = f + u".new";
  SetLastError(1234);
  Closer created{Open(fresh, GENERIC_WRITE, 0, OPEN_ALWAYS)};
  ASSERT_NE(created.h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

TEST(Files, AttributesAndReadOnlyFiles) {
  Text dir = ScratchFolder();
  Text f = dir + u"\\ro.txt";
  ASSERT_TRUE(FileWrite(f, "keep"));
  EXPECT_TRUE(GetFileAttributesW(f.c_str()) & FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_TRUE(GetFileAttributesW(dir.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  ASSERT_TRUE(SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(GetFileAttributesW(f.c_str()) & FILE_ATTRIBUTE_READONLY);
  Closer w{Open(f, GENERIC_WRITE, 0)};
  EXPECT_EQ(w.h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileW(f.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(FileRead(f), "keep");
  ASSERT_TRUE(SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_FALSE(GetFileAttributesW(f.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(DeleteFileW(f.c_str()));
}

// Windows keeps exactly the attributes it is given; Wine cannot store HIDDEN without
// extended attributes and always reports ARCHIVE, so only the simulation checks this.
TEST(Files, AttributesAreKeptExactly) {
  SIM_ONLY("Wine keeps no HIDDEN attribute and always reports ARCHIVE");
  Text f = ScratchFolder() + u"\\h.txt";
  ASSERT_TRUE(FileWrite(f, "x"));
  ASSERT_TRUE(SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributesW(f.c_str()), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesW(f.c_str()), FILE_ATTRIBUTE_NORMAL);
}

TEST(Files, FoldersOpenOnlyWithBackupSemanticsAndRemoveOnlyWhenEmpty) {
  Text dir = ScratchFolder();
  Text sub = dir + u"\\sub";
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  Closer plain{Open(sub, GENERIC_READ, FILE_SHARE_READ)};
  EXPECT_EQ(plain.h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  {
    Closer backup{Open(sub, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS)};
    EXPECT_NE(backup.h, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(backup.h, &info));
    EXPECT_TRUE(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  EXPECT_FALSE(DeleteFileW(sub.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(FileWrite(sub + u"\\f", "1"));
  EXPECT_FALSE(RemoveDirectoryW(sub.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  ASSERT_TRUE(DeleteFileW((sub + u"\\f").c_str()));
  EXPECT_TRUE(RemoveDirectoryW(sub.c_str()));
  EXPECT_EQ(GetFileAttributesW(sub.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Files, MoveAndCopyRules) {
  Text dir = ScratchFolder();
  Text a = dir + u"\\a.txt", b = dir + u"\\b.txt";
  ASSERT_TRUE(FileWrite(a, "A"));
  ASSERT_TRUE(FileWrite(b, "B"));
  EXPECT_FALSE(MoveFileExW(a.c_str(), b.c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(FileRead(b), "A");
  EXPECT_EQ(GetFileAttributesW(a.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  EXPECT_TRUE(CopyFileW(b.c_str(), a.c_str(), TRUE));
  EXPECT_EQ(FileRead(a), "A");
  EXPECT_FALSE(CopyFileW(b.c_str(), a.c_str(), TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  ASSERT_TRUE(FileWrite(b, "B2"));
  EXPECT_TRUE(CopyFileW(b.c_str(), a.c_str(), FALSE));
  EXPECT_EQ(FileRead(a), "B2");
}

TEST(Files, ReadOnlyTargetsAreNotReplaced) {
  SIM_ONLY("Wine replaces a read-only target; Windows refuses with ERROR_ACCESS_DENIED");
  Text dir = ScratchFolder();
  Text a = dir + u"\\a.txt", b = dir + u"\\b.txt";
  ASSERT_TRUE(FileWrite(a, "A"));
  ASSERT_TRUE(FileWrite(b, "B"));
  ASSERT_TRUE(SetFileAttributesW(a.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(MoveFileExW(b.c_str(), a.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CopyFileW(b.c_str(), a.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(FileRead(a), "A");
}

TEST(Files, ReadWriteSeekAndSize) {
  Text f = ScratchFolder() + u"\\rw.bin";
  Closer h{Open(f, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW)};
  ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h.h, "0123456789", 10, &n, nullptr));
  EXPECT_EQ(n, 10u);
  EXPECT_EQ(SetFilePointer(h.h, 4, nullptr, FILE_BEGIN), 4u);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h.h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "456789");
  ASSERT_TRUE(ReadFile(h.h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 0u);  // end of file: success with nothing read
  EXPECT_EQ(SetFilePointer(h.h, 3, nullptr, FILE_BEGIN), 3u);
  ASSERT_TRUE(SetEndOfFile(h.h));
  EXPECT_EQ(GetFileSize(h.h, nullptr), 3u);
  Closer readOnly{Open(f, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE)};
  EXPECT_EQ(readOnly.h, INVALID_HANDLE_VALUE);  // the first handle shares nothing
}

TEST(Files, LongPathPrefixReachesTheSameFile) {
  Text dir = ScratchFolder();
  ASSERT_TRUE(FileWrite(dir + u"\\long.txt", "via prefix"));
  EXPECT_EQ(FileRead(u"\\\\?\\" + dir + u"\\long.txt"), "via prefix");
  // Forward slashes separate parts only without the prefix.
  Text slashed = dir;
  for (auto& c : slashed)
    if (c == u'\\') c = u'/';
  EXPECT_EQ(FileRead(slashed + u"/long.txt"), "via prefix");
}

TEST(Files, DirectorySearchOrderIsByUpperCasedName) {
  Text dir = ScratchFolder();
  for (const char16_t* n : {u"b.txt", u"A.txt", u"_x", u"c", u"[z"}) ASSERT_TRUE(FileWrite(dir + u"\\" + n, "."));
  // Upper-cased: "A.TXT" < "B.TXT" < "C" < "[Z" < "_X" (ordinal).
  EXPECT_EQ(List(dir + u"\\*"), (std::vector<Text>{u".", u"..", u"A.txt", u"b.txt", u"c", u"[z", u"_x"}));
  EXPECT_EQ(List(dir + u"\\*.txt"), (std::vector<Text>{u"A.txt", u"b.txt"}));
  WIN32_FIND_DATAW d;
  EXPECT_EQ(FindFirstFileW((dir + u"\\*.none").c_str(), &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileW((dir + u"\\missing\\*").c_str(), &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(Process, ModuleFileNameAndCommandLineNameTheProgram) {
  WCHAR buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  ASSERT_GT(n, 0u);
  Text image(buf, n);
  EXPECT_EQ(image.substr(1, 2), u":\\");
  Text cmd = GetCommandLineW();
  EXPECT_NE(cmd.find(image.substr(image.rfind(u'\\') + 1)), Text::npos);
  // Truncation: the buffer is filled and terminated, the error says it was too small.
  WCHAR small[4];
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 4u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  DWORD size = 64;
  WCHAR name[64];
  ASSERT_TRUE(GetComputerNameW(name, &size));
  EXPECT_GT(size, 0u);
  EXPECT_NE(GetCurrentProcessId(), 0u);
  EXPECT_NE(GetCurrentThreadId(), 0u);
}
