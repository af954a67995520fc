// Drives, volumes and the object namespace's links, as both backends answer them; substituted
// drives on the simulated machine.
#include <cctype>
#include <vector>

#include "TestSupport.h"

#ifndef _WIN32
#include "platform/sim/machine.h"
#include "platform/sim/statefiles.h"
#include "platform/sim/volumes.h"
#endif

using namespace win;

namespace {

// The first text QueryDosDeviceW gives for a name; "" when it fails.
Text DosDevice(const Text& aName) {
  char16_t buffer[MAX_PATH + 1] = {};
  if (QueryDosDeviceW(aName.c_str(), buffer, MAX_PATH + 1) == 0) return Text();
  return Text(buffer);
}

std::vector<Text> VolumeNames() {
  std::vector<Text> names;
  char16_t name[MAX_PATH] = {};
  HANDLE search = FindFirstVolumeW(name, MAX_PATH);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.push_back(name);
  while (FindNextVolumeW(search, name, MAX_PATH));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindVolumeClose(search));
  return names;
}

// The target of an object-namespace link and the status of its opening and query.
struct LinkQuery {
  NTSTATUS Open = 0;
  NTSTATUS Query = 0;
  Text Target;
  ULONG Returned = 0;
};
LinkQuery LinkRead(Text aName, WORD aBufferBytes = 512) {
  LinkQuery q;
  UNICODE_STRING name{static_cast<WORD>(aName.size() * 2), static_cast<WORD>(aName.size() * 2), aName.data()};
  OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof(attributes);
  attributes.ObjectName = &name;
  HANDLE link = nullptr;
  q.Open = NtOpenSymbolicLinkObject(&link, GENERIC_READ, &attributes);
  if (!NT_SUCCESS(q.Open)) return q;
  std::vector<char16_t> buffer(aBufferBytes / 2 + 1, u'#');
  UNICODE_STRING target{0, aBufferBytes, buffer.data()};
  q.Query = NtQuerySymbolicLinkObject(link, &target, &q.Returned);
  if (NT_SUCCESS(q.Query)) q.Target.assign(buffer.data(), target.Length / 2);
  EXPECT_EQ(NtClose(link), STATUS_SUCCESS);
  return q;
}

}  // namespace

TEST(Volumes, DriveCIsADeviceAndAVolume) {
  const Text device = DosDevice(u"C:");
  ASSERT_EQ(device.rfind(u"\\Device\\", 0), 0u) << TextToUtf8(device);

  // The list: the target, its zero and a final zero, all counted.
  char16_t buffer[MAX_PATH + 1];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(QueryDosDeviceW(u"c:", buffer, MAX_PATH + 1), device.size() + 2);
  EXPECT_EQ(buffer[device.size()], 0);
  EXPECT_EQ(buffer[device.size() + 1], 0);

  // A buffer too small, and a name that is none.
  SetLastError(0);
  EXPECT_EQ(QueryDosDeviceW(u"C:", buffer, 4), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(QueryDosDeviceW(u"NoSuchDosDevice:", buffer, MAX_PATH + 1), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  // Drive C's volume is among the volumes, by its GUID name.
  bool found = false;
  for (const Text& v : VolumeNames()) {
    EXPECT_EQ(v.rfind(u"\\\\?\\Volume{", 0), 0u) << TextToUtf8(v);
    EXPECT_EQ(v.back(), u'\\');
    Text guid = v.substr(4, v.size() - 5);
    if (DosDevice(guid) == device) found = true;
  }
  EXPECT_TRUE(found) << "no volume of the list is on " << TextToUtf8(device);
}

TEST(Volumes, LogicalDriveStrings) {
  char buffer[97] = {};
  DWORD n = GetLogicalDriveStringsA(96, buffer);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, 96u);
  EXPECT_EQ(n % 4, 0u);
  EXPECT_EQ(buffer[n], 0);
  bool c = false;
  for (DWORD i = 0; i < n; i += 4) {
    EXPECT_EQ(std::string(buffer + i + 1, 3), std::string(":\\") + '\0');
    if (buffer[i] == 'C') c = true;
  }
  EXPECT_TRUE(c);
  // Too small: the size needed, the buffer untouched.
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(GetLogicalDriveStringsA(sizeof small, small), n + 1);
  EXPECT_EQ(small[0], 'x');
}

TEST(Volumes, SymbolicLinksOfTheObjectNamespace) {
  const Text device = DosDevice(u"C:");
  LinkQuery q = LinkRead(u"\\??\\C:");
  ASSERT_EQ(q.Open, STATUS_SUCCESS);
  EXPECT_EQ(q.Query, STATUS_SUCCESS);
  EXPECT_EQ(q.Target, device);
  // The length returned counts the zero stored after the target.
  EXPECT_EQ(q.Returned, device.size() * 2 + 2);
  // A device is no link; a name that is nothing is not found.
  EXPECT_FALSE(NT_SUCCESS(LinkRead(device).Open));
  EXPECT_EQ(LinkRead(u"\\??\\NoSuchDosDevice:").Open, STATUS_OBJECT_NAME_NOT_FOUND);
  // A buffer too small for the target.
  EXPECT_EQ(LinkRead(u"\\??\\C:", 8).Query, STATUS_BUFFER_TOO_SMALL);
}

#ifndef _WIN32

TEST(Volumes, SubstitutedDriveStandsForItsFolder) {
  const std::string machine = sim::MachineFolderHost();
  const Text folder = testsupport::ScratchFolder() + u"\\Subst Target";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(testsupport::FileWrite(folder + u"\\f.txt", "on X"));
  Text lower = folder;
  for (auto& ch : lower) ch = ch < 128 ? static_cast<char16_t>(std::tolower(ch)) : ch;
  sim::SubstitutionSet(machine, u'x', lower);

  // The folder's name as the machine keeps it, whatever the case it was given in.
  EXPECT_EQ(DosDevice(u"X:"), u"\\??\\" + folder);
  EXPECT_EQ(LinkRead(u"\\??\\X:").Target, u"\\??\\" + folder);
  char buffer[97] = {};
  EXPECT_EQ(GetLogicalDriveStringsA(96, buffer), 8u);
  EXPECT_EQ(std::string(buffer, 8), std::string("C:\\\0X:\\\0", 8));
  // Its files are the folder's, whichever way the path is written.
  for (const char16_t* path : {u"X:\\f.txt", u"x:\\.\\f.txt", u"\\\\?\\X:\\f.txt"})
    EXPECT_EQ(testsupport::FileRead(path).value_or("?"), "on X") << TextToUtf8(path);
  EXPECT_EQ(GetFileAttributesW(u"X:\\") & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(u"Y:\\"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  // A letter in use, C: itself, a target that is no folder, and removing what is not there.
  EXPECT_THROW(sim::SubstitutionSet(machine, u'X', u"C:\\Windows"), sim::MachineError);
  EXPECT_THROW(sim::SubstitutionSet(machine, u'C', u"C:\\Windows"), sim::MachineError);
  EXPECT_THROW(sim::SubstitutionSet(machine, u'Y', folder + u"\\f.txt"), sim::MachineError);
  EXPECT_THROW(sim::SubstitutionSet(machine, u'Y', u""), sim::MachineError);

  sim::SubstitutionSet(machine, u'X', u"");
  EXPECT_EQ(DosDevice(u"X:"), u"");
  EXPECT_EQ(GetFileAttributesW(u"X:\\f.txt"), INVALID_FILE_ATTRIBUTES);
}

TEST(Volumes, DamagedSubstitutionTableIsRefused) {
  // Fields are escaped as in every table of the machine: a backslash is written twice.
  for (const char* text : {"X:\tC:\\\\dir", "C:\tC:\\\\dir\n", "X:\tD:\\\\dir\n", "X:\n",
                           "X:\tC:\\\\a\nX:\tC:\\\\b\n", "XY:\tC:\\\\dir\n", "X:\tC:\\\\dir\\\\\n"})
    EXPECT_THROW(sim::SubstitutionsParse(text, "subst"), sim::MachineError) << text;
  auto table = sim::SubstitutionsParse("X:\tC:\\\\\nZ:\tC:\\\\a b\n", "subst");
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[0].Target, u"C:\\");
  EXPECT_EQ(table[1].Target, u"C:\\a b");
}

#endif  // !_WIN32
