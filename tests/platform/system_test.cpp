// Registry, delayed moves, modules, versions, WOW64 and shell folders: both backends where
// Wine answers as Windows does, the simulation alone where only it can.
#include <algorithm>
#include <cstring>
#include <vector>

#include "TestSupport.h"

using namespace win;
using testsupport::AsAdministrator;
using testsupport::FileRead;
using testsupport::FileWrite;
using testsupport::RegistryValueRead;
using testsupport::ScratchFolder;

namespace {

std::vector<Text> StringsOf(const std::string& aMultiSz) {
  // Read string by string to the end: delayed deletions have empty targets.
  std::vector<Text> out;
  Text cur;
  for (size_t i = 0; i + 1 < aMultiSz.size(); i += 2) {
    char16_t c = static_cast<char16_t>(static_cast<unsigned char>(aMultiSz[i]) |
                                       (static_cast<unsigned char>(aMultiSz[i + 1]) << 8));
    if (c == 0) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

const Text kSessionManager = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

}  // namespace

TEST(Registry, CreateWriteReadEnumerateDelete) {
  const Text key = u"Software\\OrvantaTest\\Registry";
  HKEY k = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  DWORD value = 0x1234;
  ASSERT_EQ(RegSetValueExW(k, u"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4), ERROR_SUCCESS);
  const char16_t text[] = u"Orvanta";
  ASSERT_EQ(RegSetValueExW(k, u"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), ERROR_SUCCESS);
  HKEY sub = nullptr;
  ASSERT_EQ(RegCreateKeyExW(k, u"Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_SUCCESS);
  RegCloseKey(sub);

  DWORD type = 0;
  auto number = RegistryValueRead(HKEY_CURRENT_USER, key, u"NUMBER", 0, &type);  // names ignore case
  ASSERT_TRUE(number);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(*number, std::string("\x34\x12\0\0", 4));
  // Too small a buffer: ERROR_MORE_DATA with the size needed.
  BYTE small[2];
  DWORD size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(k, u"Name", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
  EXPECT_EQ(RegQueryValueExW(k, u"Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);

  WCHAR name[64];
  DWORD chars = 64;
  ASSERT_EQ(RegEnumKeyExW(k, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(Text(name, chars), u"Child");
  chars = 64;
  EXPECT_EQ(RegEnumKeyExW(k, 1, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  // Values come in an order the registry chooses; both are there, and no third.
  std::vector<Text> values;
  for (DWORD i = 0;; ++i) {
    chars = 64;
    if (RegEnumValueW(k, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    values.emplace_back(name, chars);
  }
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (std::vector<Text>{u"Name", u"Number"}));

  // A key with subkeys is not deleted; without them it is.
  EXPECT_NE(RegDeleteKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, 0), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyExW(k, u"Child", 0, 0), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(k, u"Number"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(k, u"Number"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegFlushKey(k), ERROR_SUCCESS);
  RegCloseKey(k);
  EXPECT_EQ(RegDeleteKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, 0), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, The32BitViewOfSoftwareIsWow6432Node) {
  AsAdministrator admin;
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\OrvantaViewTest", 0, nullptr, 0,
                            KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  DWORD one = 1;
  ASSERT_EQ(RegSetValueExW(k, u"Seen", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_SUCCESS);
  RegCloseKey(k);
  EXPECT_TRUE(RegistryValueRead(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Wow6432Node\\OrvantaViewTest", u"Seen", KEY_WOW64_64KEY));
  EXPECT_FALSE(RegistryValueRead(HKEY_LOCAL_MACHINE, u"SOFTWARE\\OrvantaViewTest", u"Seen", KEY_WOW64_64KEY));
  EXPECT_TRUE(RegistryValueRead(HKEY_LOCAL_MACHINE, u"SOFTWARE\\OrvantaViewTest", u"Seen", KEY_WOW64_32KEY));
  EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\OrvantaViewTest", KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
}

// The key SOFTWARE itself is redirected: its subkeys in the 32-bit view are Wow6432Node's.
TEST(Registry, The32BitViewListsTheSubkeysOfWow6432Node) {
  AsAdministrator admin;
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\OrvantaListTest", 0, nullptr, 0,
                            KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(k);
  auto listed = [](REGSAM aView) {
    HKEY software = nullptr;
    bool found = false;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ | aView, &software) != ERROR_SUCCESS) return false;
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
      DWORD size = 256;
      if (RegEnumKeyExW(software, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      if (Text(name) == u"OrvantaListTest") found = true;
    }
    RegCloseKey(software);
    return found;
  };
  EXPECT_TRUE(listed(KEY_WOW64_32KEY));
  EXPECT_FALSE(listed(KEY_WOW64_64KEY));
  EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\OrvantaListTest", KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
}

TEST(Registry, MachineKeysAreReadOnlyWithoutElevation) {
  SIM_ONLY("under Wine every process is elevated");
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM", 0, KEY_ALL_ACCESS, &k), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Denied", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_ACCESS_DENIED);
  AsAdministrator admin;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(k);
}

TEST(DelayedMoves, AreRecordedInPendingFileRenameOperations) {
  AsAdministrator admin;
  Text dir = ScratchFolder();
  Text a = dir + u"\\later-a.txt", b = dir + u"\\later-b.txt";
  ASSERT_TRUE(FileWrite(a, "a"));
  ASSERT_TRUE(MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
  ASSERT_TRUE(MoveFileExW(b.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  // Nothing happens before the restart.
  EXPECT_EQ(FileRead(a), "a");
  DWORD type = 0;
  auto value = RegistryValueRead(HKEY_LOCAL_MACHINE, kSessionManager, u"PendingFileRenameOperations", 0, &type);
  ASSERT_TRUE(value);
  EXPECT_EQ(type, REG_MULTI_SZ);
  auto strings = StringsOf(*value);
  ASSERT_GE(strings.size(), 4u);
  std::vector<Text> last(strings.end() - 4, strings.end());
  // The paths are recorded in their NT form; compare their tails, as the temporary
  // folder's spelling differs between Windows and the simulation.
  auto endsWith = [](const Text& t, const Text& tail) {
    return t.size() >= tail.size() && t.compare(t.size() - tail.size(), tail.size(), tail) == 0;
  };
  EXPECT_EQ(last[0].substr(0, 4), u"\\??\\");
  EXPECT_TRUE(endsWith(last[0], u"\\later-a.txt"));
  EXPECT_EQ(last[1].substr(0, 5), u"!\\??\\");
  EXPECT_TRUE(endsWith(last[1], u"\\later-b.txt"));
  EXPECT_TRUE(endsWith(last[2], u"\\later-b.txt"));
  EXPECT_EQ(last[3], u"");
}

TEST(DelayedMoves, NeedAnAdministrator) {
  SIM_ONLY("under Wine every process is elevated");
  Text a = ScratchFolder() + u"\\x.txt";
  ASSERT_TRUE(FileWrite(a, "x"));
  EXPECT_FALSE(MoveFileExW(a.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(Modules, Kernel32ExportsTheWow64Functions) {
  HMODULE k = GetModuleHandleW(u"kernel32.dll");
  ASSERT_NE(k, nullptr);
  EXPECT_NE(GetProcAddress(k, "IsWow64Process"), nullptr);
  EXPECT_NE(GetProcAddress(k, "Wow64DisableWow64FsRedirection"), nullptr);
  EXPECT_EQ(GetProcAddress(k, "NoSuchFunction"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  HMODULE loaded = LoadLibraryW(u"kernel32.dll");
  EXPECT_EQ(loaded, k);
  EXPECT_TRUE(FreeLibrary(loaded));
  EXPECT_EQ(LoadLibraryW(u"no-such-library.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(Resources, AProgramWithoutResourcesFindsNone) {
  EXPECT_EQ(FindResourceW(nullptr, u"INSTALLSCRIPT", RT_RCDATA()), nullptr);
  DWORD e = GetLastError();
  EXPECT_TRUE(e == ERROR_RESOURCE_DATA_NOT_FOUND || e == ERROR_RESOURCE_TYPE_NOT_FOUND) << e;
}

// Resources written at run time: the same type, name and language again replaces the
// resource (names without regard to case), and no data with a size of 0 deletes it.
TEST(Resources, UpdateReplacesAndDeletes) {
  const Text path = ScratchFolder() + u"\\module.exe";
  ASSERT_TRUE(CopyFileW(testsupport::HelperProgram("exitcode").c_str(), path.c_str(), FALSE));
  HANDLE u = BeginUpdateResourceW(path.c_str(), TRUE);
  ASSERT_NE(u, nullptr);
  char first[] = "first", second[] = "second", other[] = "other", gone[] = "gone";
  EXPECT_TRUE(UpdateResourceW(u, RT_RCDATA(), u"DATA", 0x0409, first, 5));
  EXPECT_TRUE(UpdateResourceW(u, RT_RCDATA(), u"data", 0x0409, second, 6));
  EXPECT_TRUE(UpdateResourceW(u, RT_RCDATA(), u"OTHER", 0x0409, other, 5));
  EXPECT_TRUE(UpdateResourceW(u, RT_RCDATA(), u"GONE", 0x0409, gone, 4));
  EXPECT_TRUE(UpdateResourceW(u, RT_RCDATA(), u"GONE", 0x0409, nullptr, 0));
  ASSERT_TRUE(EndUpdateResourceW(u, FALSE));
  HMODULE m = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(m, nullptr);
  auto text = [&](const char16_t* aName) -> std::string {
    HRSRC r = FindResourceW(m, aName, RT_RCDATA());
    if (!r) return "(none)";
    return std::string(static_cast<const char*>(LockResource(LoadResource(m, r))), SizeofResource(m, r));
  };
  EXPECT_EQ(text(u"DATA"), "second");
  EXPECT_EQ(text(u"OTHER"), "other");
  EXPECT_EQ(text(u"GONE"), "(none)");
  FreeLibrary(m);
}

TEST(Versions, Shell32CarriesAFixedVersion) {
  WCHAR sys[MAX_PATH];
  UINT n = GetSystemDirectoryW(sys, MAX_PATH);
  ASSERT_GT(n, 0u);
  Text shell32 = Text(sys, n) + u"\\shell32.dll";
  DWORD handle = 1;
  DWORD size = GetFileVersionInfoSizeW(shell32.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(shell32.c_str(), 0, size, block.data()));
  LPVOID fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", &fixed, &len));
  ASSERT_GE(len, sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO info;
  std::memcpy(&info, fixed, sizeof info);
  EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
  EXPECT_GE(info.dwFileVersionMS >> 16, 5u);
  EXPECT_FALSE(VerQueryValueW(block.data(), u"\\NoSuchBlock", &fixed, &len));

  EXPECT_EQ(GetFileVersionInfoSizeW((ScratchFolder() + u"\\none.dll").c_str(), &handle), 0u);
  Text plain = ScratchFolder() + u"\\plain.dll";
  ASSERT_TRUE(FileWrite(plain, "no resources here"));
  EXPECT_EQ(GetFileVersionInfoSizeW(plain.c_str(), &handle), 0u);
}

TEST(Versions, TheSimulatedShell32CarriesTheMachinesWindowsVersion) {
  SIM_ONLY("the simulated machine's Windows version");
  Text shell32 = u"C:\\Windows\\System32\\shell32.dll";
  DWORD size = GetFileVersionInfoSizeW(shell32.c_str(), nullptr);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(shell32.c_str(), 0, size, block.data()));
  LPVOID fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", &fixed, &len));
  VS_FIXEDFILEINFO info;
  std::memcpy(&info, fixed, sizeof info);
  EXPECT_EQ(info.dwFileVersionMS, (10u << 16) | 0u);
  LPVOID text = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), u"\\StringFileInfo\\040904B0\\FileVersion", &text, &len));
  EXPECT_EQ(Text(static_cast<const char16_t*>(text)), u"10.0.19041.1");
}

TEST(Wow64, A32BitProcessOn64BitWindows) {
  SIM_ONLY("the test program is a 32-bit process only on the simulated machine");
  BOOL wow64 = FALSE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  EXPECT_TRUE(wow64);
  EXPECT_EQ(ProgramPointerBits(), 32);
  WCHAR path[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_PROGRAM_FILES, FALSE));
  EXPECT_EQ(Text(path), u"C:\\Program Files (x86)");
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_COMMON_APPDATA, FALSE));
  EXPECT_EQ(Text(path), u"C:\\ProgramData");
  UINT n = GetSystemDirectoryW(path, MAX_PATH);
  EXPECT_EQ(Text(path, n), u"C:\\Windows\\system32");
}

TEST(Wow64, System32IsRedirectedUnlessSwitchedOffForTheThread) {
  SIM_ONLY("the test program is a 32-bit process only on the simulated machine");
  ASSERT_TRUE(FileWrite(u"C:\\Windows\\System32\\orvanta-redirected.txt", "32"));
  EXPECT_EQ(FileRead(u"C:\\Windows\\SysWOW64\\orvanta-redirected.txt"), "32");
  EXPECT_EQ(FileRead(u"C:\\Windows\\Sysnative\\orvanta-redirected.txt"), std::nullopt);
  LPVOID old = nullptr;
  ASSERT_TRUE(Wow64DisableWow64FsRedirection(&old));
  ASSERT_TRUE(FileWrite(u"C:\\Windows\\System32\\orvanta-native.txt", "64"));
  Wow64RevertWow64FsRedirection(old);
  EXPECT_EQ(FileRead(u"C:\\Windows\\Sysnative\\orvanta-native.txt"), "64");
  EXPECT_EQ(FileRead(u"C:\\Windows\\System32\\orvanta-native.txt"), std::nullopt);
  // drivers\etc is one of the exempt folders; drivers itself is redirected.
  ASSERT_TRUE(FileWrite(u"C:\\Windows\\System32\\drivers\\orvanta.sys", "d"));
  EXPECT_EQ(FileRead(u"C:\\Windows\\SysWOW64\\drivers\\orvanta.sys"), "d");
}
