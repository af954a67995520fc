#include "winsys/uWindowsFlags.h"

#include <cstdint>

#include "DebugRecorder.h"
#include "TestSupport.h"
#include "diag/uMisc.h"
#include "winsys/uDrovaneHeaders.h"

namespace {

class WindowsFlags : public ::testing::Test {
 protected:
  void SetUp() override { ProblemsRecordedClear(); }
  void TearDown() override { ProblemsRecordedClear(); }
};

TEST_F(WindowsFlags, BothTablesAreRegisteredBeforeMainInOrder) {
  ASSERT_NE(Constants, nullptr);
  struct Expected {
    const char16_t* name;
    bool flag;
    std::size_t count;
  } expected[] = {
      {u"AccessMode", true, 19},
      {u"ShareMode", true, 3},
      {u"CreationDisposition", false, 5},
      {u"FlagsAndAttributes", true, 25},
      {u"SecurityImpersonation", false, 7},
      {u"SecurityInformation", true, 4},
      {u"FileAttributes", true, 15},
      {u"MoveFile", true, 6},
      {u"ShellNotify", false, 19},
      {u"RegistryDataType", false, 12},
      {u"FileInformationClass", false, 55},
      {u"FsInformationClass", false, 11},
      {u"IrpMajorFn", false, 30},
      {u"IrpMinorFnDirectoryQuery", false, 2},
      {u"IrpMinorFnLocks", false, 4},
      {u"OperationFlagsCreate", true, 5},
      {u"OperationFlagsDirectoryQuery", true, 3},
      {u"OperationFlagsReadWrite", true, 6},
      {u"OperationFlagsLocks", true, 2},
      {u"OperationFlagsChangeNotification", true, 1},
      {u"Status", false, 35},
      {u"FileObjectFlags", true, 29},
      {u"CbdFlags", true, 10},
      {u"IrpFlags", true, 16},
      {u"MjCreateNtDispositions", false, 6},
      {u"MjCreateOptions", true, 22},
      {u"FilterPreOp", false, 6},
      {u"FsCtlFunction", false, 18},
      {u"FsCtlDevice", false, 4},
      {u"ChangeNotifyChange", true, 12},
      {u"ChangeNotifyAction", false, 12},
      {u"WindowsError", false, 21},
  };
  ASSERT_EQ(Constants->Categories.size(), 32u);
  EXPECT_EQ(Constants->EntryCount(), 425u);
  for (std::size_t i = 0; i < Constants->Categories.size(); ++i) {
    const TConstantCategory& c = *Constants->Categories[i];
    EXPECT_EQ(c.Category, expected[i].name) << i;
    EXPECT_EQ(c.IsAFlag, expected[i].flag) << TextToUtf8(c.Category);
    EXPECT_EQ(c.Entries.size(), expected[i].count) << TextToUtf8(c.Category);
    // Every flag entry is one bit.
    if (c.IsAFlag) {
      for (const TConstantEntry& e : c.Entries)
        EXPECT_TRUE(e.Value && !(e.Value & (e.Value - 1))) << TextToUtf8(e.StringName);
    }
  }
}

TEST_F(WindowsFlags, EntriesAreKeptExactlyAsRegistered) {
  auto find = [](const char16_t* aCategory) -> const TConstantCategory& {
    for (const auto& c : Constants->Categories)
      if (c->Category == aCategory) return *c;
    throw Exception(u"missing");
  };
  const TConstantCategory& fs = find(u"FsInformationClass");
  EXPECT_EQ(fs.Entries[1].StringName, u"FileFsLabelInformation,");  // trailing comma kept
  EXPECT_EQ(fs.Entries[1].Value, 2u);
  EXPECT_EQ(fs.Entries.back().StringName, u"FileFsSectorSizeInformation");
  EXPECT_EQ(fs.Entries.back().Value, 11u);
  EXPECT_EQ(find(u"AccessMode").Entries[3].StringName, u"_DELETE");
  const TConstantCategory& fic = find(u"FileInformationClass");
  EXPECT_EQ(fic.Entries.front().Value, 1u);
  EXPECT_EQ(fic.Entries.back().StringName, u"FileRemoteProtocolInformation");
  EXPECT_EQ(fic.Entries.back().Value, 55u);
  EXPECT_EQ(find(u"ShellNotify").Entries.back().Value, 0x40000u);
  EXPECT_EQ(find(u"MjCreateNtDispositions").Entries.front().Value, 0u);
  EXPECT_EQ(find(u"WindowsError").Entries.back().StringName, u"DBG_TERMINATE_PROCESS");
  EXPECT_EQ(find(u"WindowsError").Entries.back().Value, 0x40010004u);
}

TEST_F(WindowsFlags, Describe) {
  struct Case {
    Variant value;
    const char16_t* category;
    const char16_t* text;
  } cases[] = {
      {3, u"MoveFile", u"0x3 (MOVEFILE_REPLACE_EXISTING, MOVEFILE_COPY_ALLOWED)"},
      {0x41, u"MoveFile", u"0x41 (MOVEFILE_REPLACE_EXISTING, UNKNOWN_FLAG_0x40)"},
      {0, u"MoveFile", u"0x0 ()"},
      {0xC0, u"MoveFile", u"0xC0 (UNKNOWN_FLAG_0x40, UNKNOWN_FLAG_0x80)"},
      {5, u"WindowsError", u"ERROR_ACCESS_DENIED"},
      {87, u"WindowsError", u"UNKNOWN_0x57"},
      {0, u"WindowsError", u"NO_ERROR"},
      {0x20000, u"AccessMode",
       u"0x20000 (READ_CONTROL, STANDARD_RIGHTS_READ, STANDARD_RIGHTS_WRITE, STANDARD_RIGHTS_EXECUTE)"},
      {0x80000000u, u"AccessMode", u"0x80000000 (GENERIC_READ)"},
      {0x1B, u"IrpMajorFn", u"IRP_MJ_PNP"},
      {static_cast<std::int32_t>(0xC0000022u), u"Status", u"STATUS_ACCESS_DENIED"},
      {0xC0000022u, u"Status", u"STATUS_ACCESS_DENIED"},
      {4, u"Registry", u"0x4 (No flag names - category not found)"},
      {3, u"movefile", u"0x3 (No flag names - category not found)"},
      {4, u"RegistryDataType", u"REG_DWORD"},  // the first alias wins
      {u"3", u"MoveFile", u"0x3 (MOVEFILE_REPLACE_EXISTING, MOVEFILE_COPY_ALLOWED)"},
      {u"", u"WindowsError", u"NO_ERROR"},
      {Variant::Null(), u"WindowsError", u"NO_ERROR"},
      // Values wider than 32 bits are not mistaken for their low half.
      {std::int64_t(0x100000005), u"WindowsError", u"UNKNOWN_0x100000005"},
      {std::uint64_t(0x8000000000000001ull), u"MoveFile",
       u"0x8000000000000001 (MOVEFILE_REPLACE_EXISTING, UNKNOWN_FLAG_0x8000000000000000)"},
  };
  for (const Case& c : cases) EXPECT_EQ(Describe(c.value, c.category), c.text) << TextToUtf8(c.text);
  EXPECT_TRUE(ProblemsRecordedGet().empty());
  EXPECT_THROW(Describe(Variant(u"abc"), u"MoveFile"), EVariantError);
}

TEST_F(WindowsFlags, ValueBelowTheInt32RangeIsAProblemButStillDescribed) {
  Text t = Describe(Variant(std::int64_t(-2147483649LL)), u"WindowsError");
  EXPECT_EQ(t, u"UNKNOWN_0x7FFFFFFF");
  ASSERT_EQ(ProblemsRecordedGet().size(), 1u);
  EXPECT_EQ(ProblemsRecordedGet()[0].Type, u"Alert");
  // The lowest 32-bit value is fine.
  ProblemsRecordedClear();
  EXPECT_EQ(Describe(Variant(std::int32_t(INT32_MIN)), u"MoveFile"), u"0x80000000 (UNKNOWN_FLAG_0x80000000)");
  EXPECT_TRUE(ProblemsRecordedGet().empty());
}

TEST_F(WindowsFlags, AddReadsAFlatList) {
  TConstants c;
  c.Add({u">Bits", 1, u"ONE", 0x1FFFFFFFFLL, u"LOW32", u"=Enum", 7, u"SEVEN", u"=Enum", 7, u"OTHER", u">Last"});
  ASSERT_EQ(c.Categories.size(), 3u);  // the final marker opens nothing
  EXPECT_TRUE(c.Categories[0]->IsAFlag);
  EXPECT_EQ(c.Categories[0]->Entries[1].Value, 0xFFFFFFFFu);  // kept to 32 bits
  EXPECT_FALSE(c.Categories[1]->IsAFlag);
  EXPECT_EQ(c.Describe(7, u"Enum"), u"SEVEN");  // a second category of the same name is never found
  EXPECT_EQ(c.Describe(8, u"Last"), u"0x8 (No flag names - category not found)");

  TConstants odd;
  odd.Add({u"=E", 1, u"A", 2});  // a value without name is not read
  EXPECT_EQ(odd.Categories[0]->Entries.size(), 1u);

  TConstants bad;
  EXPECT_THROW(bad.Add({1, u"ORPHAN"}), EDebugStop);
}

TEST_F(WindowsFlags, AFlagEntryOfSeveralBitsIsReported) {
  TConstants c;
  c.Add({u">F", 0x1, u"A", 0x6, u"BC"});
  EXPECT_EQ(c.Describe(0x2, u"F"), u"0x2 (UNKNOWN_FLAG_0x2)");
  EXPECT_EQ(c.Describe(0x7, u"F"), u"0x7 (A, BC)");
  EXPECT_EQ(ProblemsRecordedGet().size(), 2u);  // once per description
}

}  // namespace
