#include "DebugRecorder.h"
#include "TestSupport.h"
#include "paths/uDeviceFunctions.h"
#include "paths/uPaths.h"

#ifndef _WIN32
#include "platform/sim/machine.h"
#include "platform/sim/volumes.h"
#endif

TEST(PathDeviceForms, DeviceAndPathOnDevice) {
  struct Case {
    const char16_t* path;
    const char16_t* device;
    const char16_t* onDevice;
  } cases[] = {
      {u"C:\\a\\b", u"C:", u"a\\b"},
      {u"\\Device\\HarddiskVolume2\\a", u"\\Device\\HarddiskVolume2", u"\\a"},
      {u"\\Device\\HarddiskVolume2\\Windows\\x", u"\\Device\\HarddiskVolume2", u"\\Windows\\x"},
      {u"\\\\?\\C:\\dir", u"C:", u"dir"},
  };
  for (const auto& c : cases) {
    TRecordedProblems problems;
    TPath p(c.path);
    EXPECT_EQ(p.PathToDevice().ToString(), Text(c.device)) << TextToUtf8(c.path);
    if (!p.IsPathToPcItself()) {
      EXPECT_EQ(p.PathOnDevice().ToString(), Text(c.onDevice)) << TextToUtf8(c.path);
    }
    EXPECT_TRUE(problems.empty()) << TextToUtf8(c.path);
  }
  TRecordedProblems problems;
  EXPECT_TRUE(TPath(u"relative\\x").PathToDevice().IsEmpty());
  EXPECT_EQ(problems.size(), 1u);  // a path of no known kind is reported
}

TEST(PathDeviceForms, ConvertToPathToDevice) {
  for (const char16_t* path : {u"C:\\", u"C:\\dir\\x", u"C:"}) {
    TPath p(path);
    p.ConvertToPathToDevice();
    EXPECT_EQ(p.ToString(), u"\\\\.\\C:") << TextToUtf8(path);
    EXPECT_FALSE(p.TrailingSeparator());
  }
}

TEST(PathDeviceForms, NtPathClean) {
  struct Case {
    const char16_t* path;
    const char16_t* clean;
  } cases[] = {
      {u"\\Device\\Mup\\;LanmanRedirector\\;Z:0000000000012345\\server\\share\\f", u"\\Device\\Mup\\server\\share\\f"},
      {u"\\Device\\Mup\\server\\;share", u"\\Device\\Mup\\server\\;share"},
      {u"\\Device\\HarddiskVolume2\\;x", u"\\Device\\HarddiskVolume2\\;x"},
      {u"C:\\;x", u"C:\\;x"},
  };
  for (const auto& c : cases) {
    TRecordedProblems problems;
    EXPECT_EQ(TPath(c.path).NtPathClean().ToString(), Text(c.clean)) << TextToUtf8(c.path);
    EXPECT_TRUE(problems.empty());
  }
}

namespace {
Text DriveDevice(const char16_t* aDrive) {
  char16_t buffer[win::MAX_PATH + 1] = {};
  win::QueryDosDeviceW(aDrive, buffer, win::MAX_PATH + 1);
  return buffer;
}
}  // namespace

TEST(PathDeviceForms, NtFormAndBack) {
  const Text device = DriveDevice(u"C:");
  ASSERT_FALSE(device.empty());
  TRecordedProblems problems;
  EXPECT_EQ(TPath(u"C:\\x").QueryDeviceName(), device);
  struct Case {
    const char16_t* path;
    const char16_t* onDevice;
  } cases[] = {
      {u"C:\\Windows\\x", u"\\Windows\\x"},
      {u"c:\\Program Files\\Orvanta\\", u"\\Program Files\\Orvanta\\"},
      {u"C:\\", u"\\"},
  };
  for (const auto& [path, onDevice] : cases) {
    TPath win32(path);
    TPath nt = win32.NtPath();
    EXPECT_EQ(nt.ToString(), device + onDevice) << TextToUtf8(path);
    EXPECT_TRUE(nt.IsPathInNt());
    TPath back = nt.NtPathToWin32Path();
    EXPECT_TRUE(back.IsSameAs(win32)) << TextToUtf8(path) << " -> " << TextToUtf8(nt.ToString()) << " -> "
                                      << TextToUtf8(back.ToString());
  }
  EXPECT_EQ(TPath(device).NtDeviceNameToWin32Path().ToString(), u"C:\\");
  // The volume form of the same device names it too.
  TPath volume = TPath(device).NtDeviceNameToVolumePath();
  ASSERT_TRUE(volume.IsPathToVolume()) << TextToUtf8(volume.ToString());
  EXPECT_EQ(volume.QueryDeviceName(), device);
  EXPECT_TRUE(problems.empty());

  // A device no drive or volume is on has no Win32 form.
  EXPECT_TRUE(TPath(u"\\Device\\NoSuchVolume7\\x").NtPathToWin32Path().IsEmpty());
  EXPECT_TRUE(problems.empty());
  // A path of no known form: reported, and no device.
  EXPECT_EQ(TPath(u"relative\\x").QueryDeviceName(), u"");
  EXPECT_EQ(problems.size(), 1u);
  EXPECT_TRUE(TPath(u"C:\\x").NtPathToWin32Path().IsEmpty());  // not in NT form: reported
  EXPECT_GE(problems.size(), 2u);
}

#ifndef _WIN32

TEST(PathDeviceForms, SimulatedMachineVolumesAndSubstitutedDrive) {
  TRecordedProblems problems;
  // Volume 1 has no drive letter: its NT paths convert to the volume form.
  TPath onVolume1(u"\\Device\\HarddiskVolume1\\Boot\\BCD");
  TPath win32 = onVolume1.NtPathToWin32Path();
  EXPECT_EQ(win32.ToString(), u"\\\\?\\" + sim::MachineVolumes()[0].Guid + u"\\Boot\\BCD");
  EXPECT_EQ(TPath(u"\\Device\\HarddiskVolume2\\Windows\\").NtPathToWin32Path().ToString(), u"C:\\Windows\\");

  // A substituted drive: its device reads as the folder below C:'s link, and its NT form is
  // the folder's.
  win::CreateDirectoryW(u"C:\\Users\\User\\Subst", nullptr);
  sim::SubstitutionSet(sim::MachineFolderHost(), u'S', u"C:\\Users\\User\\Subst");
  EXPECT_EQ(TPath(u"S:\\a\\b").QueryDeviceName(), u"\\??\\C:\\Users\\User\\Subst");
  EXPECT_EQ(TPath(u"S:\\a\\b").NtPath().ToString(), u"\\Device\\HarddiskVolume2\\Users\\User\\Subst\\a\\b");
  EXPECT_EQ(TPath(u"S:\\").NtPath().ToString(), u"\\Device\\HarddiskVolume2\\Users\\User\\Subst\\");
  EXPECT_TRUE(problems.empty());
  std::vector<Text> roots;
  DriveRootsList(roots);
  EXPECT_EQ(roots, (std::vector<Text>{u"C:\\", u"S:\\"}));
  sim::SubstitutionSet(sim::MachineFolderHost(), u'S', u"");
}

#endif  // !_WIN32
