#include "DebugRecorder.h"
#include "TestSupport.h"
#include "paths/uPaths.h"

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
