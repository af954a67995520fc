#include "winsys/uWindowsFlags.h"

#include "diag/uMisc.h"
#include "params/uMiscLean.h"
#include "rtl/ModuleInit.h"

TConstants* Constants = nullptr;

namespace {

Text HexUpper(std::uint64_t aValue) {
  // IntToHexText without its "$" and without leading zeros.
  return IntToHexText(0, aValue).substr(1);
}

bool IsSingleBit(std::uint32_t aValue) { return aValue != 0 && (aValue & (aValue - 1)) == 0; }

bool IsCategoryMarker(const Variant& aElement) {
  if (!aElement.IsText()) return false;
  const Text& t = aElement.TextRef();
  return !t.empty() && (t[0] == u'>' || t[0] == u'=');
}

}  // namespace

void TConstants::Add(const std::vector<Variant>& aList) {
  TConstantCategory* current = nullptr;
  // The last element is only ever read as the name of a pair.
  std::size_t i = 0;
  while (i + 1 < aList.size()) {
    const Variant& element = aList[i];
    if (IsCategoryMarker(element)) {
      auto category = std::make_unique<TConstantCategory>();
      category->Category = element.TextRef().substr(1);
      category->IsAFlag = element.TextRef()[0] == u'>';
      current = category.get();
      Categories.push_back(std::move(category));
      i += 1;
      continue;
    }
    StopIf(current == nullptr, u"Constant value " + VariantToText(element) + u" before any category");
    TConstantEntry entry;
    entry.Value = static_cast<std::uint32_t>(static_cast<std::uint64_t>(VariantToInt64(element)) & 0xFFFFFFFFu);
    entry.StringName = VariantToText(aList[i + 1]);
    current->Entries.push_back(std::move(entry));
    i += 2;
  }
}

const TConstantCategory* TConstants::CategoryFind(TextView aName) const {
  for (const auto& c : Categories)
    if (TextView(c->Category) == aName) return c.get();
  return nullptr;
}

std::size_t TConstants::EntryCount() const {
  std::size_t n = 0;
  for (const auto& c : Categories) n += c->Entries.size();
  return n;
}

Text TConstants::Describe(const Variant& aValueAsVariant, TextView aCategoryName) const {
  std::uint64_t v;
  if (aValueAsVariant.Kind() == TVarKind::UInt64) {
    v = aValueAsVariant.ToUInt64();
  } else {
    std::int64_t s = VariantToInt64(aValueAsVariant);
    if (s < 0) {
      // A negative status code is described by its 32-bit pattern (0xC...).
      Verify(s >= -2147483648LL);
      v = static_cast<std::uint32_t>(static_cast<std::uint64_t>(s) & 0xFFFFFFFFu);
    } else {
      v = static_cast<std::uint64_t>(s);
    }
  }
  Text hex = HexUpper(v);
  const TConstantCategory* category = CategoryFind(aCategoryName);
  if (!category) return u"0x" + hex + u" (No flag names - category not found)";

  if (!category->IsAFlag) {
    // An entry is 32 bits: a wider value is none of them, even if its low half matches.
    if (v <= 0xFFFFFFFFu)
      for (const TConstantEntry& e : category->Entries)
        if (e.Value == v) return e.StringName;
    return u"UNKNOWN_0x" + hex;
  }

  Text names;
  auto append = [&names](const Text& aName) {
    if (!names.empty()) names += u", ";
    names += aName;
  };
  std::uint64_t remainder = v;
  for (const TConstantEntry& e : category->Entries) {
    Verify(IsSingleBit(e.Value));
    // A faulty entry of several bits is named only when all of them are set.
    if (e.Value != 0 && (v & e.Value) == e.Value) {
      append(e.StringName);
      remainder &= ~static_cast<std::uint64_t>(e.Value);
    }
  }
  for (int bit = 0; bit < 64; ++bit) {
    std::uint64_t mask = std::uint64_t(1) << bit;
    if (remainder & mask) append(u"UNKNOWN_FLAG_0x" + HexUpper(mask));
  }
  return u"0x" + hex + u" (" + names + u")";
}

Text Describe(const Variant& aValueAsVariant, TextView aCategoryName) {
  if (!Constants) {
    Text hex;
    try {
      hex = HexUpper(static_cast<std::uint64_t>(VariantToInt64(aValueAsVariant)));
    } catch (const Exception&) {
      hex = VariantToText(aValueAsVariant);
    }
    return u"0x" + hex + u" (No flag names - category not found)";
  }
  return Constants->Describe(aValueAsVariant, aCategoryName);
}

void WindowsFlagsRegister(TConstants& aConstants) {
  aConstants.Add({
      u">AccessMode",
      0x80000000u, u"GENERIC_READ",
      0x40000000u, u"GENERIC_WRITE",
      0x20000000u, u"GENERIC_EXECUTE",
      0x10000u, u"_DELETE",
      0x1u, u"FILE_READ_DATA",
      0x80u, u"FILE_READ_ATTRIBUTES",
      0x8u, u"FILE_READ_EA",
      0x20000u, u"READ_CONTROL",
      0x2u, u"FILE_WRITE_DATA",
      0x100u, u"FILE_WRITE_ATTRIBUTES",
      0x10u, u"FILE_WRITE_EA",
      0x4u, u"FILE_APPEND_DATA",
      0x40000u, u"WRITE_DAC",
      0x80000u, u"WRITE_OWNER",
      0x100000u, u"SYNCHRONIZE",
      0x20u, u"FILE_EXECUTE",
      0x20000u, u"STANDARD_RIGHTS_READ",
      0x20000u, u"STANDARD_RIGHTS_WRITE",
      0x20000u, u"STANDARD_RIGHTS_EXECUTE"
  });
  aConstants.Add({
      u">ShareMode",
      0x1u, u"FILE_SHARE_READ",
      0x2u, u"FILE_SHARE_WRITE",
      0x4u, u"FILE_SHARE_DELETE"
  });
  aConstants.Add({
      u"=CreationDisposition",
      0x1u, u"CREATE_NEW",
      0x4u, u"OPEN_ALWAYS",
      0x2u, u"CREATE_ALWAYS",
      0x3u, u"OPEN_EXISTING",
      0x5u, u"TRUNCATE_EXISTING"
  });
  aConstants.Add({
      u">FlagsAndAttributes",
      0x1u, u"FILE_ATTRIBUTE_READONLY",
      0x2u, u"FILE_ATTRIBUTE_HIDDEN",
      0x4u, u"FILE_ATTRIBUTE_SYSTEM",
      0x10u, u"FILE_ATTRIBUTE_DIRECTORY",
      0x20u, u"FILE_ATTRIBUTE_ARCHIVE",
      0x40u, u"FILE_ATTRIBUTE_DEVICE",
      0x80u, u"FILE_ATTRIBUTE_NORMAL",
      0x100u, u"FILE_ATTRIBUTE_TEMPORARY",
      0x200u, u"FILE_ATTRIBUTE_SPARSE_FILE",
      0x400u, u"FILE_ATTRIBUTE_REPARSE_POINT",
      0x800u, u"FILE_ATTRIBUTE_COMPRESSED",
      0x1000u, u"FILE_ATTRIBUTE_OFFLINE",
      0x2000u, u"FILE_ATTRIBUTE_NOT_CONTENT_INDEXED",
      0x4000u, u"FILE_ATTRIBUTE_ENCRYPTED",
      0x10000u, u"FILE_ATTRIBUTE_VIRTUAL",
      0x80000000u, u"FILE_FLAG_WRITE_THROUGH",
      0x40000000u, u"FILE_FLAG_OVERLAPPED",
      0x20000000u, u"FILE_FLAG_NO_BUFFERING",
      0x10000000u, u"FILE_FLAG_RANDOM_ACCESS",
      0x8000000u, u"FILE_FLAG_SEQUENTIAL_SCAN",
      0x4000000u, u"FILE_FLAG_DELETE_ON_CLOSE",
      0x2000000u, u"FILE_FLAG_BACKUP_SEMANTICS",
      0x1000000u, u"FILE_FLAG_POSIX_SEMANTICS",
      0x200000u, u"FILE_FLAG_OPEN_REPARSE_POINT",
      0x100000u, u"FILE_FLAG_OPEN_NO_RECALL"
  });
  aConstants.Add({
      u"=SecurityImpersonation",
      0x0u, u"SECURITY_ANONYMOUS",
      0x10000u, u"SECURITY_IDENTIFICATION",
      0x20000u, u"SECURITY_IMPERSONATION",
      0x30000u, u"SECURITY_DELEGATION",
      0x40000u, u"SECURITY_CONTEXT_TRACKING",
      0x80000u, u"SECURITY_EFFECTIVE_ONLY",
      0x100000u, u"SECURITY_SQOS_PRESENT"
  });
  aConstants.Add({
      u">SecurityInformation",
      0x1u, u"OWNER_SECURITY_INFORMATION",
      0x2u, u"GROUP_SECURITY_INFORMATION",
      0x4u, u"DACL_SECURITY_INFORMATION",
      0x8u, u"SACL_SECURITY_INFORMATION"
  });
  aConstants.Add({
      u">FileAttributes",
      0x1u, u"FILE_ATTRIBUTE_READONLY",
      0x2u, u"FILE_ATTRIBUTE_HIDDEN",
      0x4u, u"FILE_ATTRIBUTE_SYSTEM",
      0x10u, u"FILE_ATTRIBUTE_DIRECTORY",
      0x20u, u"FILE_ATTRIBUTE_ARCHIVE",
      0x40u, u"FILE_ATTRIBUTE_DEVICE",
      0x80u, u"FILE_ATTRIBUTE_NORMAL",
      0x100u, u"FILE_ATTRIBUTE_TEMPORARY",
      0x200u, u"FILE_ATTRIBUTE_SPARSE_FILE",
      0x400u, u"FILE_ATTRIBUTE_REPARSE_POINT",
      0x800u, u"FILE_ATTRIBUTE_COMPRESSED",
      0x1000u, u"FILE_ATTRIBUTE_OFFLINE",
      0x2000u, u"FILE_ATTRIBUTE_NOT_CONTENT_INDEXED",
      0x4000u, u"FILE_ATTRIBUTE_ENCRYPTED",
      0x10000u, u"FILE_ATTRIBUTE_VIRTUAL"
  });
  aConstants.Add({
      u">MoveFile",
      0x1u, u"MOVEFILE_REPLACE_EXISTING",
      0x2u, u"MOVEFILE_COPY_ALLOWED",
      0x4u, u"MOVEFILE_DELAY_UNTIL_REBOOT",
      0x8u, u"MOVEFILE_WRITE_THROUGH",
      0x10u, u"MOVEFILE_CREATE_HARDLINK",
      0x20u, u"MOVEFILE_FAIL_IF_NOT_TRACKABLE"
  });
  aConstants.Add({
      u"=ShellNotify",
      0x1u, u"SHCNE_RENAMEITEM",
      0x2u, u"SHCNE_CREATE",
      0x4u, u"SHCNE_DELETE",
      0x8u, u"SHCNE_MKDIR",
      0x10u, u"SHCNE_RMDIR",
      0x20u, u"SHCNE_MEDIAINSERTED",
      0x40u, u"SHCNE_MEDIAREMOVED",
      0x80u, u"SHCNE_DRIVEREMOVED",
      0x100u, u"SHCNE_DRIVEADD",
      0x200u, u"SHCNE_NETSHARE",
      0x400u, u"SHCNE_NETUNSHARE",
      0x800u, u"SHCNE_ATTRIBUTES",
      0x1000u, u"SHCNE_UPDATEDIR",
      0x2000u, u"SHCNE_UPDATEITEM",
      0x4000u, u"SHCNE_SERVERDISCONNECT",
      0x8000u, u"SHCNE_UPDATEIMAGE",
      0x10000u, u"SHCNE_DRIVEADDGUI",
      0x20000u, u"SHCNE_RENAMEFOLDER",
      0x40000u, u"SHCNE_FREESPACE"
  });
  aConstants.Add({
      u"=RegistryDataType",
      0x0u, u"REG_NONE",
      0x1u, u"REG_SZ",
      0x2u, u"REG_EXPAND_SZ",
      0x3u, u"REG_BINARY",
      0x4u, u"REG_DWORD",
      0x4u, u"REG_DWORD_LITTLE_ENDIAN",
      0x5u, u"REG_DWORD_BIG_ENDIAN",
      0x6u, u"REG_LINK",
      0x7u, u"REG_MULTI_SZ",
      0x8u, u"REG_RESOURCE_LIST",
      0x9u, u"REG_FULL_RESOURCE_DESCRIPTOR",
      0xAu, u"REG_RESOURCE_REQUIREMENTS_LIST"
  });
}

namespace {

// Creates the registry and fills it with this unit's tables before main; uDrovaneHeaders,
// which starts later, adds its own. Destroyed at process end.
struct TWindowsFlagsStartUp {
  TWindowsFlagsStartUp() {
    Constants = new TConstants();
    WindowsFlagsRegister(*Constants);
  }
  ~TWindowsFlagsStartUp() { ObjectFreeAndNil(Constants); }
};
TWindowsFlagsStartUp WindowsFlagsStartUp ORV_UNIT_INIT(unitorder::kWindowsFlags);

}  // namespace
