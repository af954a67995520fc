// Executable versions and the architecture queries. Unless marked sim-only, these run on the
// simulated machine and, in the Windows build, under Wine.
#include "winsys/GetExeVersionInfo.h"

#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "diag/uMisc.h"
#include "paths/uPaths.h"

#ifndef _WIN32
#include "platform/sim/machine.h"
#include "platform/sim/restable.h"
#endif

using testsupport::FileWrite;
using testsupport::ScratchFolder;

namespace {

struct TVersion {
  std::uint16_t Major = 0xFFFF, Minor = 0xFFFF, Release = 0xFFFF, Build = 0xFFFF;
  bool Found = false;
};

TVersion VersionOf(const Text& aFileName) {
  TVersion v;
  v.Found = ExeVersionGet(v.Major, v.Minor, v.Release, aFileName, v.Build);
  return v;
}

Text OwnFileName() {
  char16_t buffer[win::MAX_PATH + 1];
  win::DWORD n = win::GetModuleFileNameW(nullptr, buffer, win::MAX_PATH + 1);
  return Text(buffer, n);
}

#ifndef _WIN32
// A file of the simulated machine whose resource table holds the given RT_VERSION block
// (no resource table at all without one).
void SimFileWithVersionBlock(const Text& aPath, const std::optional<std::string>& aVersionBlock) {
  ASSERT_TRUE(FileWrite(aPath, "MZ program"));
  if (!aVersionBlock) return;
  sim::ResolvedPath resolved = sim::ResolvePath(sim::CurrentPathContext(), aPath);
  ASSERT_EQ(resolved.Error, 0u);
  sim::ResourceTable table;
  table.Add(sim::ResourceId(win::RT_VERSION_ID), sim::ResourceId(1), 0x409, *aVersionBlock);
  table.AppendTo(resolved.Host);
}
#endif

}  // namespace

// ---- Versions --------------------------------------------------------------------------

TEST(ExeVersion, SystemLibraryCarriesTheWindowsVersion) {
  const Text shell32 = (SystemFolderGet() + u"shell32.dll").ToString();
  const TVersion v = VersionOf(shell32);
  ASSERT_TRUE(v.Found) << TextToUtf8(shell32);
  EXPECT_GE(v.Major, 5);
  EXPECT_EQ(ExeBuildGet(shell32), v.Build);
}

TEST(ExeVersion, SystemLibraryOfTheSimulatedMachineIsWindows10) {
  SIM_ONLY("the Windows version of the simulated machine");
  const TVersion v = VersionOf(u"C:\\Windows\\System32\\shell32.dll");
  ASSERT_TRUE(v.Found);
  EXPECT_EQ(v.Major, 10);
  EXPECT_EQ(v.Minor, 0);
}

TEST(ExeVersion, FilesWithoutAVersionHaveBuildZero) {
  const Text dir = ScratchFolder();
  ASSERT_TRUE(FileWrite(dir + u"\\plain.txt", "no resources here"));
  ASSERT_TRUE(FileWrite(dir + u"\\other.exe", "MZ nothing"));
  for (const Text& name : {dir + u"\\plain.txt", dir + u"\\other.exe", dir + u"\\missing.dll", dir}) {
    SCOPED_TRACE(TextToUtf8(name));
    const TVersion v = VersionOf(name);
    EXPECT_FALSE(v.Found);
    EXPECT_EQ(v.Major, 0);
    EXPECT_EQ(v.Minor, 0);
    EXPECT_EQ(v.Release, 0);
    EXPECT_EQ(v.Build, 0);
    EXPECT_EQ(ExeBuildGet(name), 0);
  }
}

TEST(ExeVersion, BrokenVersionBlocksCountAsNoVersion) {
  SIM_ONLY("files with hand-made version blocks are placed on the simulated machine");
#ifndef _WIN32
  const Text dir = ScratchFolder();
  const std::string good = sim::VersionResourceBuild(1, 2, 3, 4, u"Good", true);
  // The same block with the fixed part's signature spoilt.
  std::string badSignature = good;
  const std::string signature("\xBD\x04\xEF\xFE", 4);
  const std::size_t at = badSignature.find(signature);
  ASSERT_NE(at, std::string::npos);
  badSignature[at] = 0;
  // A root block that says it has no value (no fixed part).
  std::string noFixedPart = good;
  noFixedPart[2] = 0;
  noFixedPart[3] = 0;
  const struct {
    const char* What;
    std::optional<std::string> Block;
    bool Found;
  } cases[] = {
      {"a well-formed block", good, true},
      {"a fixed part with a wrong signature", badSignature, false},
      {"no fixed part", noFixedPart, false},
      {"a truncated block", good.substr(0, 20), false},
      {"an empty block", std::string(), false},
      {"no version resource", std::nullopt, false},
  };
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const Text name = dir + u"\\f" + T(std::to_string(i++)) + u".dll";
    SimFileWithVersionBlock(name, c.Block);
    const TVersion v = VersionOf(name);
    EXPECT_EQ(v.Found, c.Found);
    EXPECT_EQ(ExeBuildGet(name), c.Found ? 4 : 0);
    if (c.Found) {
      EXPECT_EQ(v.Major, 1);
      EXPECT_EQ(v.Minor, 2);
      EXPECT_EQ(v.Release, 3);
    }
  }
#endif
}

// One test, in this order: the cache is filled only once per process.
TEST(ExeVersion, OwnExecutableIsReadOnceThenAnsweredFromTheCache) {
  // The test programs carry no version resource: no version, and nothing is cached.
  const Text own = OwnFileName();
  for (const Text& name : {Text(), own}) {
    EXPECT_FALSE(VersionOf(name).Found);
    EXPECT_EQ(ExeBuildGet(name), 0);
  }
  EXPECT_EQ(ExeVersionText(), u"");
#ifndef _WIN32
  // On the simulated machine the executable's file can be given a version; once read, the
  // answer no longer depends on the file.
  SimFileWithVersionBlock(own, sim::VersionResourceBuild(7, 8, 9, 10, u"Own", false));
  const TVersion first = VersionOf(Text());
  ASSERT_TRUE(first.Found);
  EXPECT_EQ(first.Major, 7);
  EXPECT_EQ(first.Build, 10);
  EXPECT_EQ(ExeVersionText(), u"7.8.9");

  ASSERT_TRUE(win::DeleteFileW(own.c_str()));
  EXPECT_TRUE(VersionOf(own).Found);
  EXPECT_EQ(ExeBuildGet(), 10);
  EXPECT_EQ(ExeBuildGet(own), 10);
  EXPECT_EQ(ExeVersionText(), u"7.8.9");
  // Only the exact name is the own executable.
  Text otherCase = own;
  for (auto& ch : otherCase)
    if (ch >= u'a' && ch <= u'z') ch = static_cast<char16_t>(ch - 32);
  if (otherCase != own) {
    EXPECT_FALSE(VersionOf(otherCase).Found);
  }
#endif
}

// ---- Architecture ----------------------------------------------------------------------

TEST(Architecture, NamesFollowThePointerWidths) {
  const int bits = ProcessPointerBits();
  EXPECT_TRUE(bits == 32 || bits == 64);
#ifdef _WIN32
  EXPECT_EQ(bits, static_cast<int>(sizeof(void*) * 8));
#endif
  EXPECT_EQ(ProcessArchitectureName(), bits == 64 ? u"x64" : u"x86");
  if (bits == 64) {
    EXPECT_TRUE(WindowsIs64Bit());
  }
  EXPECT_EQ(ArchitectureName(), WindowsIs64Bit() ? u"x64" : u"x86");
}

TEST(Architecture, A32BitProgramOn64BitWindows) {
  SIM_ONLY("the test program runs as a 32-bit process only on the simulated machine");
  EXPECT_EQ(ProcessPointerBits(), 32);
  EXPECT_EQ(ProcessArchitectureName(), u"x86");
  EXPECT_TRUE(WindowsIs64Bit());
  EXPECT_EQ(ArchitectureName(), u"x64");
}
