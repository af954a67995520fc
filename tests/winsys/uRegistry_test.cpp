// The registry class for 64-bit Windows: views, NT paths, log lines, probes, tree deletes and
// the driver write path. Unless marked sim-only these run on the simulated machine and under
// Wine.
#include "winsys/uRegistry.h"

#include <optional>
#include <string>
#include <vector>

#include "DebugRecorder.h"
#include "TestSupport.h"
#include "diag/uMisc.h"

namespace {

const Text kTestKey = u"Software\\OrvantaRegistryTest";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProblemsRecordedClear();
    FLines.clear();
  }
  void TearDown() override {
    RegistryDriverWriteHandler = nullptr;
    TRegistryFor64OS cleanup;
    cleanup.KeyDeleteTree(kTestKey);
    ProblemsRecordedClear();
  }
  TRecordedLines FLines{[](const Text& aLine) { return aLine.rfind(u"[Registry] ", 0) == 0; }};
};

std::optional<Text> TextValue(win::HKEY aRoot, const Text& aKey, const Text& aName, win::REGSAM aView) {
  auto raw = testsupport::RegistryValueRead(aRoot, aKey, aName, aView);
  if (!raw) return std::nullopt;
  Text t(raw->size() / 2, u'\0');
  for (size_t i = 0; i < t.size(); ++i)
    t[i] = static_cast<char16_t>(static_cast<unsigned char>((*raw)[2 * i]) |
                                 (static_cast<unsigned char>((*raw)[2 * i + 1]) << 8));
  while (!t.empty() && t.back() == 0) t.pop_back();
  return t;
}

}  // namespace

TEST(RegistryFor64OS, AccessAddsThe64BitViewUnlessForced32Bit) {
  TRegistryFor64OS wide(win::KEY_ALL_ACCESS, false);
  EXPECT_EQ(wide.Access(), win::KEY_ALL_ACCESS | win::KEY_WOW64_64KEY);
  EXPECT_FALSE(wide.Force32Bit);
  EXPECT_EQ(wide.RootKey(), win::HKEY_CURRENT_USER);
  TRegistryFor64OS narrow(win::KEY_READ, true);
  EXPECT_EQ(narrow.Access(), win::KEY_READ);
  EXPECT_TRUE(narrow.Force32Bit);
}

TEST(RegistryFor64OS, PathToNtPathAppliesThe32BitView) {
  const bool wow = WindowsIs64Bit();
  struct Case {
    win::HKEY Root;
    const char16_t* Path;
    bool Force32;
    const char16_t* Expected;  // on 64-bit Windows
    const char16_t* Expected32;  // on 32-bit Windows
  } cases[] = {
      {win::HKEY_CLASSES_ROOT, u"CLSID\\{x}", true, u"\\Registry\\Machine\\SOFTWARE\\Wow6432Node\\Classes\\CLSID\\{x}",
       u"\\Registry\\Machine\\SOFTWARE\\Classes\\CLSID\\{x}"},
      {win::HKEY_CLASSES_ROOT, u"CLSID\\{x}", false, u"\\Registry\\Machine\\SOFTWARE\\Classes\\CLSID\\{x}",
       u"\\Registry\\Machine\\SOFTWARE\\Classes\\CLSID\\{x}"},
      {win::HKEY_CLASSES_ROOT, u"clsid", true, u"\\Registry\\Machine\\SOFTWARE\\Wow6432Node\\Classes\\clsid",
       u"\\Registry\\Machine\\SOFTWARE\\Classes\\clsid"},
      {win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\txtfile", true, u"\\Registry\\Machine\\SOFTWARE\\Classes\\txtfile",
       u"\\Registry\\Machine\\SOFTWARE\\Classes\\txtfile"},
      {win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor", true, u"\\Registry\\Machine\\SOFTWARE\\Wow6432Node\\Vendor",
       u"\\Registry\\Machine\\SOFTWARE\\Vendor"},
      {win::HKEY_LOCAL_MACHINE, u"software\\Vendor\\", true, u"\\Registry\\Machine\\software\\Wow6432Node\\Vendor",
       u"\\Registry\\Machine\\software\\Vendor"},
      {win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor", false, u"\\Registry\\Machine\\SOFTWARE\\Vendor",
       u"\\Registry\\Machine\\SOFTWARE\\Vendor"},
      // Already in the 32-bit part: not redirected twice.
      {win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\Wow6432Node\\Vendor", true,
       u"\\Registry\\Machine\\SOFTWARE\\Wow6432Node\\Vendor", u"\\Registry\\Machine\\SOFTWARE\\Wow6432Node\\Vendor"},
      {win::HKEY_LOCAL_MACHINE, u"SOFTWARE", true, u"\\Registry\\Machine\\SOFTWARE", u"\\Registry\\Machine\\SOFTWARE"},
      {win::HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet", true, u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet",
       u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Path) + (c.Force32 ? " forced 32-bit" : ""));
    TRegistryFor64OS r(win::KEY_READ, c.Force32);
    r.RootKeySet(c.Root);
    EXPECT_EQ(r.PathToNtPath(TPath(c.Path)).ToString(), Text(wow ? c.Expected : c.Expected32));
  }
}

TEST_F(RegistryTest, OtherRootsHaveNoNtPath) {
  TRegistryFor64OS r;
  r.PathToNtPath(TPath(u"Software"));
  ASSERT_EQ(ProblemsRecordedGet().size(), 1u);
}

TEST_F(RegistryTest, ProbeOfAnAbsentKeyIsQuiet) {
  TRegistryFor64OS r;
  EXPECT_FALSE(r.OpenExistingTry(u"Software\\OrvantaAbsentKey"));
  EXPECT_EQ(r.LastError(), win::ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(ProblemsRecordedGet().empty());
  ASSERT_EQ(FLines.size(), 1u);
  EXPECT_EQ(FLines[0], u"[Registry] Key - Open Existing Try: \"HKEY_CURRENT_USER\\Software\\OrvantaAbsentKey\" (" +
                           WindowsErrorText(win::ERROR_FILE_NOT_FOUND) + u")");
  EXPECT_EQ(WindowsErrorText(win::ERROR_FILE_NOT_FOUND).rfind(u"ERROR: ", 0), 0u);
  r.LastErrorReset();
  EXPECT_EQ(r.LastError(), 0u);
}

TEST_F(RegistryTest, FailedOpenIsReported) {
  TRegistryFor64OS r;
  EXPECT_FALSE(r.OpenKey(u"Software\\OrvantaAbsentKey", false));
  ASSERT_EQ(ProblemsRecordedGet().size(), 1u);
  EXPECT_NE(ProblemsRecordedGet()[0].Message.find(u"Registry operation failed: Key - Open: "), Text::npos);
  ASSERT_EQ(FLines.size(), 1u);
  EXPECT_EQ(FLines[0], u"[Registry] Key - Open: \"HKEY_CURRENT_USER\\Software\\OrvantaAbsentKey\" Can create:False (" +
                           WindowsErrorText(win::ERROR_FILE_NOT_FOUND) + u")");
}

TEST_F(RegistryTest, WritesAreLoggedAndReadBack) {
  TRegistryFor64OS r;
  ASSERT_TRUE(r.OpenKey(kTestKey, true));
  EXPECT_EQ(r.CurrentPath(), kTestKey);
  EXPECT_TRUE(r.WriteString(u"Name", u"Vexlon"));
  EXPECT_TRUE(r.WriteInteger(u"Count", -5));
  EXPECT_EQ(r.ReadString(u"Name"), u"Vexlon");
  EXPECT_EQ(r.ReadInteger(u"Count"), -5);
  ASSERT_EQ(FLines.size(), 3u);
  EXPECT_EQ(FLines[0], u"[Registry] Key - Open: \"HKEY_CURRENT_USER\\" + kTestKey + u"\" Can create:True (OK)");
  EXPECT_EQ(FLines[1], u"[Registry] Value - Write string: \"Name\" = \"Vexlon\" (OK)");
  EXPECT_EQ(FLines[2], u"[Registry] Value - Write integer: \"Count\" = \"-5\" (OK)");
  EXPECT_TRUE(ProblemsRecordedGet().empty());
}

TEST_F(RegistryTest, WriteWithoutAnOpenKeyFailsQuietly) {
  TRegistryFor64OS r;
  EXPECT_FALSE(r.WriteString(u"Name", u"x"));
  EXPECT_NE(r.LastError(), 0u);
  EXPECT_TRUE(ProblemsRecordedGet().empty());
  ASSERT_EQ(FLines.size(), 1u);
  EXPECT_EQ(FLines[0].rfind(u"[Registry] Value - Write string: \"Name\" = \"x\" (ERROR: ", 0), 0u);
}

TEST_F(RegistryTest, DeleteTreeRemovesEverythingBelow) {
  {
    TRegistryFor64OS r;
    ASSERT_TRUE(r.OpenKey(kTestKey + u"\\A\\B", true));
    EXPECT_TRUE(r.WriteString(u"v", u"1"));
    ASSERT_TRUE(r.OpenKey(u"\\" + kTestKey + u"\\C", true));
    EXPECT_TRUE(r.WriteInteger(u"v", 2));
  }
  TRegistryFor64OS r;
  ASSERT_TRUE(r.OpenKey(u"Software", false));
  // Relative to the open key, as every other operation takes it.
  EXPECT_TRUE(r.KeyDeleteTree(u"OrvantaRegistryTest"));
  TRegistryFor64OS check;
  EXPECT_FALSE(check.OpenExistingTry(kTestKey));
  EXPECT_TRUE(check.OpenExistingTry(u"Software"));
  EXPECT_TRUE(ProblemsRecordedGet().empty());
}

TEST_F(RegistryTest, DeleteTreeOfAbsentAndEmptyNames) {
  TRegistryFor64OS r;
  EXPECT_TRUE(r.KeyDeleteTree(u"Software\\OrvantaAbsentKey"));
  EXPECT_TRUE(ProblemsRecordedGet().empty());
  EXPECT_FALSE(r.KeyDeleteTree(Text()));
  EXPECT_EQ(ProblemsRecordedGet().size(), 1u);
}

TEST_F(RegistryTest, ViewsOfMachineKeys) {
  testsupport::AsAdministrator admin;
  const Text key = u"SOFTWARE\\OrvantaViewTest";
  for (bool force32 : {false, true}) {
    SCOPED_TRACE(force32 ? "forced 32-bit" : "64-bit view");
    TRegistryFor64OS r(win::KEY_ALL_ACCESS, force32);
    r.RootKeySet(win::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(r.OpenKey(key, true));
    EXPECT_TRUE(r.WriteString(u"View", force32 ? u"32" : u"64"));
    r.CloseKey();
  }
  // Only a 32-bit program on 64-bit Windows has two views; a 64-bit program's own view is the
  // 64-bit one, and 32-bit Windows has one registry.
  const bool twoViews = WindowsIs64Bit() && ProcessPointerBits() == 32;
  EXPECT_EQ(TextValue(win::HKEY_LOCAL_MACHINE, key, u"View", win::KEY_WOW64_64KEY), Text(twoViews ? u"64" : u"32"));
  const std::optional<Text> in32 = TextValue(win::HKEY_LOCAL_MACHINE, key, u"View", win::KEY_WOW64_32KEY);
  if (twoViews || !WindowsIs64Bit())
    EXPECT_EQ(in32, Text(u"32"));
  else
    EXPECT_EQ(in32, std::nullopt);
  for (bool force32 : {false, true}) {
    TRegistryFor64OS r(win::KEY_ALL_ACCESS, force32);
    r.RootKeySet(win::HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(r.KeyDeleteTree(key));
    EXPECT_FALSE(r.OpenExistingTry(key));
  }
  EXPECT_TRUE(ProblemsRecordedGet().empty());
}

TEST_F(RegistryTest, MachineKeysAreReadOnlyForStandardUsers) {
  SIM_ONLY("a standard user's token (Wine's processes are administrators)");
  TRegistryFor64OS r(win::KEY_ALL_ACCESS, false);
  r.RootKeySet(win::HKEY_LOCAL_MACHINE);
  // A probe with full access fails like an absent key, without a report.
  EXPECT_FALSE(r.OpenExistingTry(u"SOFTWARE"));
  EXPECT_EQ(r.LastError(), win::ERROR_ACCESS_DENIED);
  EXPECT_TRUE(ProblemsRecordedGet().empty());
  EXPECT_FALSE(r.OpenKey(u"SOFTWARE\\OrvantaViewTest", true));
  EXPECT_EQ(ProblemsRecordedGet().size(), 1u);
}

TEST_F(RegistryTest, DriverHandlerTakesMachineWrites) {
  struct Call {
    Text Path, Name;
    Variant Value;
  };
  std::vector<Call> calls;
  win::LONG status = 0;
  RegistryDriverWriteHandler = [&](const TPath& aPath, const Text& aName, const Variant& aValue) {
    calls.push_back({aPath.ToString(), aName, aValue});
    return status;
  };

  // Below the current user the handler is not used.
  {
    TRegistryFor64OS user;
    EXPECT_FALSE(user.WriteViaDriverPossible());
    ASSERT_TRUE(user.OpenKey(kTestKey, true));
    EXPECT_TRUE(user.WriteString(u"Name", u"direct"));
    EXPECT_EQ(user.ReadString(u"Name"), u"direct");
    EXPECT_TRUE(calls.empty());
  }

  TRegistryFor64OS r(win::KEY_READ, false);
  r.RootKeySet(win::HKEY_LOCAL_MACHINE);
  EXPECT_TRUE(r.WriteViaDriverPossible());
  EXPECT_TRUE(r.WriteViaDriver(TPath(u"SOFTWARE\\Vendor"), u"Mode", Variant(std::int32_t(3))));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Path, u"\\Registry\\Machine\\SOFTWARE\\Vendor");
  EXPECT_EQ(calls[0].Name, u"Mode");
  EXPECT_EQ(calls[0].Value, Variant(std::int32_t(3)));
  EXPECT_EQ(r.LastError(), 0u);

  // An NT path is refused without calling the handler.
  EXPECT_FALSE(r.WriteViaDriver(TPath(u"REGISTRY\\Machine\\SOFTWARE"), u"x", Variant(1)));
  EXPECT_FALSE(r.WriteViaDriver(TPath(), u"x", Variant(1)));
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(ProblemsRecordedGet().size(), 2u);

  // A failing status becomes the Windows error the system gives for it.
  struct StatusCase {
    std::uint32_t status;
    win::DWORD error;
  } statusCases[] = {
      {0xC0000022u, win::ERROR_ACCESS_DENIED}, {0xC0000001u, 31},  {0xC0000035u, 183}, {0xC000017Cu, 1018},
      {0xC0000121u, 5},                        {0xC000000Fu, 2},   {0xC000003Bu, 161}, {0xC0000043u, 32},
      {0xC0000034u, 2},                        {0xC000003Au, 3},   {0xC0000061u, 1314},
      {0xC0AB0001u, 317},  // a status with no Windows error
  };
  for (const auto& c : statusCases) {
    status = static_cast<win::LONG>(c.status);
    EXPECT_FALSE(r.WriteViaDriver(TPath(u"SOFTWARE\\Vendor"), u"Mode", Variant(1)));
    EXPECT_EQ(r.LastError(), c.error) << std::hex << c.status;
  }
  status = 0;

  // Creating a key through the handler: empty name, no value, then a probe.
  calls.clear();
  FLines.clear();
  EXPECT_FALSE(r.OpenKey(u"SOFTWARE\\OrvantaAbsentKey", true));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Path, u"\\Registry\\Machine\\SOFTWARE\\OrvantaAbsentKey");
  EXPECT_TRUE(calls[0].Name.empty());
  EXPECT_TRUE(calls[0].Value.IsEmpty());
  // Two probes (before and after the handler's create), which found nothing here.
  EXPECT_EQ(FLines.size(), 2u);
}

TEST(RegistryFor64OS, UnavailableOperationsAreReported) {
  ProblemsRecordedClear();
  TRegistryFor64OS r;
  EXPECT_FALSE(r.KeyPermissionsSetAdminFullAccess(kTestKey));
  EXPECT_FALSE(r.KeyOwnerSetToAdministratorsGroup(kTestKey));
  ASSERT_EQ(ProblemsRecordedGet().size(), 2u);
  EXPECT_NE(ProblemsRecordedGet()[0].Message.find(u"Should not be used"), Text::npos);
  ProblemsRecordedClear();
}

// The predefined keys are 32-bit values, sign-extended in a 64-bit program as the system's
// headers have them: a key compared with one the system handed over must match.
TEST(RegistryRootKeys, AreSignExtended) {
  struct Case {
    win::HKEY key;
    std::int32_t value;
  } cases[] = {{win::HKEY_CLASSES_ROOT, static_cast<std::int32_t>(0x80000000u)},
               {win::HKEY_CURRENT_USER, static_cast<std::int32_t>(0x80000001u)},
               {win::HKEY_LOCAL_MACHINE, static_cast<std::int32_t>(0x80000002u)},
               {win::HKEY_USERS, static_cast<std::int32_t>(0x80000003u)},
               {win::HKEY_CURRENT_CONFIG, static_cast<std::int32_t>(0x80000005u)}};
  for (const auto& c : cases) EXPECT_EQ(reinterpret_cast<std::intptr_t>(c.key), std::intptr_t(c.value));
}
