#include "paths/uPaths.h"

#include <algorithm>
#include <atomic>

#include "diag/uDebug.h"
#include "diag/uMisc.h"
#include "params/uMiscLean.h"
#include "paths/uDeviceFunctions.h"
#include "platform/win32api.h"
#include "winsys/uWindowsFlags.h"

// =========================================================================================
// TPath
// =========================================================================================

namespace {

constexpr char16_t kBackslash = u'\\';

bool PartsMatch(const Text& a, const Text& b) { return TextSameIgnoreCase(a, b); }

}  // namespace

TPath::TPath(const Text& aPath) { SetPathFromString(aPath); }

TPath::TPath(const char16_t* aPath) { SetPathFromString(aPath ? Text(aPath) : Text()); }

// ---- Private helpers --------------------------------------------------------------------

void TPath::CountUpdate() {
  if (PartsString.empty()) {
    Count = 0;
    return;
  }
  Count = 1 + static_cast<int>(std::count(PartsString.begin(), PartsString.end(), Separator()));
}

std::vector<Text> TPath::PartsList() const {
  std::vector<Text> parts;
  if (Count <= 0) return parts;
  const char16_t separator = Separator();
  std::size_t start = 0;
  for (;;) {
    std::size_t next = PartsString.find(separator, start);
    if (next == Text::npos) {
      parts.push_back(PartsString.substr(start));
      break;
    }
    parts.push_back(PartsString.substr(start, next - start));
    start = next + 1;
  }
  return parts;
}

void TPath::PartsListSet(const std::vector<Text>& aParts) {
  PartsString.clear();
  const char16_t separator = Separator();
  for (std::size_t i = 0; i < aParts.size(); ++i) {
    if (i > 0) PartsString += separator;
    PartsString += aParts[i];
  }
  Count = static_cast<int>(aParts.size());
}

bool TPath::PartIndexCheck(int aIndex) const { return Verify(aIndex >= 0 && aIndex < Count); }

// A part holding the separator would be counted as one part but read back as several.
bool TPath::PartTextCheck(const Text& aPart) const {
  return Verify(aPart.find(Separator()) == Text::npos);
}

// ---- Setting and printing ---------------------------------------------------------------

void TPath::SetPathFromString(const Text& aPath) {
  const char16_t separator = Separator();
  // The separator alone is the root: one flag, so that it prints as it was given.
  if (aPath.size() == 1 && aPath[0] == separator) {
    FLeadingSeparator = true;
    FTrailingSeparator = false;
    PartsString.clear();
    Count = 0;
    return;
  }
  FLeadingSeparator = !aPath.empty() && aPath.front() == separator;
  FTrailingSeparator = !aPath.empty() && aPath.back() == separator;
  PartsString = aPath;
  if (FLeadingSeparator) PartsString.erase(0, 1);
  if (FTrailingSeparator && !PartsString.empty()) PartsString.pop_back();
  CountUpdate();
}

Text TPath::ToString() const {
  const char16_t separator = Separator();
  Text result;
  result.reserve(PartsString.size() + 2);
  if (FLeadingSeparator) result += separator;
  result += PartsString;
  if (FTrailingSeparator) result += separator;
  return result;
}

void TPath::Clear() {
  Count = 0;
  FLeadingSeparator = false;
  FTrailingSeparator = false;
  PartsString.clear();
  CustomSeparator.clear();
}

char16_t TPath::Separator() const { return CustomSeparator.empty() ? kBackslash : CustomSeparator[0]; }

void TPath::SeparatorSet(char16_t aSeparator) {
  std::replace(PartsString.begin(), PartsString.end(), Separator(), aSeparator);
  if (aSeparator == kBackslash)
    CustomSeparator.clear();
  else
    CustomSeparator = Text(1, aSeparator);
  CountUpdate();
}

void TPath::SetPathFromUrlTry(const Text& aUrlDecoded) {
  if (aUrlDecoded.empty()) {
    Clear();
    return;
  }
  SeparatorSet(u'/');
  SetPathFromString(aUrlDecoded);
  if (Count == 0 || PartGet(0) != u"file:") return;

  // 'file:' [ '//' host ] path. An empty host means this machine ('file:///C:/x'); any
  // other host is a network path and must not be dropped ('file://server/share/x').
  Remove(0);
  if (Count > 0 && PartGet(0).empty()) {
    Remove(0);
    if (Count > 0) {
      if (PartGet(0).empty())
        Remove(0);
      else
        Insert(0, Text());
    }
  }
  if (Count == 0) {
    Clear();
    return;
  }
  // An empty first part is the network form; it prints right only with the leading flag.
  FLeadingSeparator = PartGet(0).empty();
  SeparatorSet(kBackslash);
}

void TPath::SetPathFromUrl(const Text& aUrlDecoded) {
  SetPathFromUrlTry(aUrlDecoded);
  Verify(IsNotEmpty());
}

// ---- Reading parts ----------------------------------------------------------------------

TRange TPath::PartGetStartAndEnd(int aPartIndex) const {
  const char16_t separator = Separator();
  const std::int64_t length = static_cast<std::int64_t>(PartsString.size());
  std::int64_t start = aPartIndex == 0 ? 1 : 0;
  std::int64_t end = 0;
  bool ended = false;
  int part = 0;
  for (std::int64_t p = 1; p <= length; ++p) {
    if (PartsString[static_cast<std::size_t>(p - 1)] != separator) continue;
    if (part == aPartIndex) {
      end = p - 1;
      ended = true;
      break;
    }
    ++part;
    if (part == aPartIndex) start = p + 1;
  }
  if (!ended && part == aPartIndex) end = length;

  TRange result;
  if (start == 0) {
    Alert(Text());
    result.SetByLength(0, 0);
    result.Invalidate();
    return result;
  }
  result.SetByLength(start, end - start + 1);
  return result;
}

Text TPath::PartGet(int aIndex) const {
  if (!PartIndexCheck(aIndex)) return Text();
  TRange range = PartGetStartAndEnd(aIndex);
  if (range.Start() <= 0 || range.Length() <= 0) return Text();
  return PartsString.substr(static_cast<std::size_t>(range.Start() - 1),
                            static_cast<std::size_t>(range.Length()));
}

void TPath::PartSet(int aIndex, const Text& aPart) {
  if (!PartIndexCheck(aIndex) || !PartTextCheck(aPart)) return;
  TRange range = PartGetStartAndEnd(aIndex);
  if (range.Start() <= 0) return;
  PartsString.replace(static_cast<std::size_t>(range.Start() - 1),
                      static_cast<std::size_t>(std::max<std::int64_t>(range.Length(), 0)), aPart);
}

int TPath::IndexOf(const Text& aName) const {
  std::vector<Text> parts = PartsList();
  for (std::size_t i = 0; i < parts.size(); ++i)
    if (PartsMatch(parts[i], aName)) return static_cast<int>(i);
  return -1;
}

Text TPath::First() const { return PartGet(0); }

Text TPath::LastGet() const { return PartGet(Count - 1); }

void TPath::LastSet(const Text& aString) { PartSet(Count - 1, aString); }

Text TPath::Extension() const {
  Text last = LastGet();
  std::size_t position = last.find_last_of(u".\\:");
  if (position == Text::npos || last[position] != u'.') return Text();
  return last.substr(position);
}

Text TPath::LastWithoutFileExtension() const {
  Text last = LastGet();
  return last.substr(0, last.size() - Extension().size());
}

bool TPath::HasExtension(const Text& aString) const {
  Verify(aString.empty() || aString.find(u'.') != Text::npos);
  return PartsMatch(Extension(), aString);
}

bool TPath::HasExtension(const std::vector<Text>& aList) const {
  for (const Text& extension : aList)
    if (HasExtension(extension)) return true;
  return false;
}

bool TPath::HasExtension(std::initializer_list<Text> aList) const {
  for (const Text& extension : aList)
    if (HasExtension(extension)) return true;
  return false;
}

// ---- Editing in place -------------------------------------------------------------------

void TPath::Insert(int aIndex, const Text& aPart) {
  if (!Verify(aIndex >= 0 && aIndex <= Count) || !PartTextCheck(aPart)) return;
  const char16_t separator = Separator();
  if (aIndex == Count) {
    if (Count == 0) {
      PartsString = aPart;
    } else {
      PartsString += separator;
      PartsString += aPart;
    }
  } else {
    TRange range = PartGetStartAndEnd(aIndex);
    if (range.Start() <= 0) return;
    PartsString.insert(static_cast<std::size_t>(range.Start() - 1), aPart + separator);
  }
  ++Count;
}

void TPath::Add(const TPath& aPath) {
  // Appending a path to itself must not see its own new parts.
  const std::vector<Text> parts = aPath.PartsList();
  for (const Text& part : parts) Insert(Count, part);
}

void TPath::Remove(int aIndex) {
  if (!PartIndexCheck(aIndex)) return;
  std::vector<Text> parts = PartsList();
  parts.erase(parts.begin() + aIndex);
  PartsListSet(parts);
}

void TPath::RemoveFirst() { Remove(0); }

void TPath::RemoveLast() { Remove(Count - 1); }

Text TPath::ExtractFirst() {
  if (IsEmpty()) {
    Alert(Text());
    return Text();
  }
  Text first = PartGet(0);
  RemoveFirst();
  return first;
}

void TPath::SplitIntoFirstAndRemainder(Text& aFirst, TPath& aRemainder) const {
  aRemainder = *this;
  if (aRemainder.IsNotEmpty())
    aFirst = aRemainder.ExtractFirst();
  else
    aFirst.clear();
}

void TPath::Invert() {
  std::vector<Text> parts = PartsList();
  std::reverse(parts.begin(), parts.end());
  PartsListSet(parts);
}

// ---- Copies -----------------------------------------------------------------------------

TPath TPath::WithoutFirst() const {
  TPath result = *this;
  result.RemoveFirst();
  return result;
}

TPath TPath::WithoutLast() const {
  TPath result = *this;
  result.RemoveLast();
  return result;
}

TPath TPath::PathToParent() const { return WithoutLast(); }

TPath TPath::Inverted() const {
  TPath result = *this;
  result.Invert();
  return result;
}

// The parts are copied as they are, empty ones included, with this path's separator: a
// copy of '\\server\share' must stay a network path and not turn into the rooted
// '\server\share'. A request beyond the parts is reported once, not once per index, so that
// a wild count cannot flood the log.
TPath TPath::CopyFirstParts(int aPartsCount) const {
  TPath result;
  result.CustomSeparator = CustomSeparator;
  Verify(aPartsCount >= 0 && aPartsCount <= Count);
  const std::vector<Text> parts = PartsList();
  const int n = std::clamp(aPartsCount, 0, static_cast<int>(parts.size()));
  for (int i = 0; i < n; ++i) result.Insert(result.Count, parts[static_cast<std::size_t>(i)]);
  result.FLeadingSeparator = FLeadingSeparator;
  return result;
}

TPath TPath::CopyLastParts(int aPartsCount) const {
  TPath result;
  result.CustomSeparator = CustomSeparator;
  Verify(aPartsCount >= 0 && aPartsCount <= Count);
  const std::vector<Text> parts = PartsList();
  const int total = static_cast<int>(parts.size());
  const int n = std::clamp(aPartsCount, 0, total);
  for (int i = total - n; i < total; ++i) result.Insert(result.Count, parts[static_cast<std::size_t>(i)]);
  result.FTrailingSeparator = FTrailingSeparator;
  result.FLeadingSeparator = FLeadingSeparator;
  return result;
}

TPath TPath::RelativeTo(const TPath& aParent) const {
  // The last parts of a path below another parent would be a wrong answer, not a relative
  // path.
  if (!Verify(aParent.IsAnyParentOf(*this))) return TPath();
  return CopyLastParts(Count - aParent.Count);
}

// ---- Tests ------------------------------------------------------------------------------

bool TPath::HasDirectParentWithName(const Text& aName) const {
  if (!PartIndexCheck(Count - 2)) return false;
  return PartsMatch(PartGet(Count - 2), aName);
}

bool TPath::HasAnyParentWithName(const Text& aName) const {
  std::vector<Text> parts = PartsList();
  for (std::size_t i = 0; i + 1 < parts.size(); ++i)
    if (PartsMatch(parts[i], aName)) return true;
  return false;
}

bool TPath::IsOrHasAnyParentWithName(const Text& aName) const {
  if (IsEmpty()) return false;
  return PartsMatch(LastGet(), aName) || HasAnyParentWithName(aName);
}

namespace {

// A null value has no text form; it is reported and skipped.
bool NameFromValue(const Variant& aValue, Text& aName) {
  if (!Verify(!aValue.IsNull())) return false;
  aName = VariantToText(aValue);
  return true;
}

}  // namespace

bool TPath::HasAnyParentWithNameIn(const std::vector<Variant>& aNames) const {
  Text name;
  for (const Variant& value : aNames)
    if (NameFromValue(value, name) && HasAnyParentWithName(name)) return true;
  return false;
}

bool TPath::IsOrHasAnyParentWithNameIn(const std::vector<Variant>& aNames) const {
  Text name;
  for (const Variant& value : aNames)
    if (NameFromValue(value, name) && IsOrHasAnyParentWithName(name)) return true;
  return false;
}

bool TPath::IsSameAs(const TPath& aAnotherPath) const {
  if (Count != aAnotherPath.Count) return false;
  std::vector<Text> mine = PartsList();
  std::vector<Text> theirs = aAnotherPath.PartsList();
  if (mine.size() != theirs.size()) return false;
  for (std::size_t i = 0; i < mine.size(); ++i)
    if (!PartsMatch(mine[i], theirs[i])) return false;
  return true;
}

bool TPath::IsAnyParentOf(const TPath& aPath) const {
  if (Count >= aPath.Count) return false;
  std::vector<Text> mine = PartsList();
  std::vector<Text> theirs = aPath.PartsList();
  if (mine.size() >= theirs.size()) return false;
  for (std::size_t i = 0; i < mine.size(); ++i)
    if (!PartsMatch(mine[i], theirs[i])) return false;
  return true;
}

bool TPath::IsAnyChildOf(const TPath& aPath) const { return aPath.IsAnyParentOf(*this); }

bool TPath::IsParentOf(const TPath& aPath) const {
  // The parent of an empty path does not exist; the empty path is no parent of itself.
  if (aPath.IsEmpty()) return false;
  return aPath.PathToParent().IsSameAs(*this);
}

bool TPath::IsSameOrIsAnyChild(const TPath& aPath, bool aAllowChild) const {
  if (IsSameAs(aPath)) return true;
  return aAllowChild && IsAnyChildOf(aPath);
}

bool TPath::IsOnDrive(const TPath& aDrivePath) const {
  if (!Verify(IsNotEmpty() && aDrivePath.IsNotEmpty())) return false;
  return PartsMatch(First(), aDrivePath.First());
}

bool TPath::HasSameLastPartsAs(const TPath& aAnotherPath) const {
  if (Count < aAnotherPath.Count) return false;
  return CopyLastParts(aAnotherPath.Count).IsSameAs(aAnotherPath);
}

bool TPath::HasSameLastPartsAsAny(const std::vector<Variant>& aPaths) const {
  Text text;
  for (const Variant& value : aPaths)
    if (NameFromValue(value, text) && HasSameLastPartsAs(TPath(text))) return true;
  return false;
}

// ---- Path kinds -------------------------------------------------------------------------

bool TPath::IsPathInNt() const {
  if (!FLeadingSeparator || Count < 1) return false;
  Text first = PartGet(0);
  if (first.empty()) return false;
  AlertIf(!PartsMatch(first, u"Device"), u"Rooted path that is not below \\Device: " + ToString());
  return true;
}

bool TPath::IsPathToDrive() const {
  if (!Verify(!IsPathInNt())) return false;
  if (Count < 1) return false;
  Text first = PartGet(0);
  return first.size() == 2 && first[1] == u':';
}

bool TPath::IsDrive() const { return IsPathToDrive() && Count == 1; }

bool TPath::IsPathToPcItself() const {
  if (Count < 2) return false;
  std::vector<Text> parts = PartsList();
  return parts.size() >= 2 && parts[0].empty() && parts[1] == u"?";
}

bool TPath::IsPathToVolume() const {
  if (!Verify(!IsPathInNt())) return false;
  if (Count < 3) return false;
  std::vector<Text> parts = PartsList();
  return parts.size() >= 3 && parts[0].empty() && parts[1] == u"?" &&
         TextStartsWithIgnoreCase(parts[2], u"Volume{");
}

bool TPath::IsPathToNetwork() const {
  if (!Verify(!IsPathInNt())) return false;
  if (Count < 2) return false;
  std::vector<Text> parts = PartsList();
  return parts.size() >= 2 && parts[0].empty() && parts[1] != u"?";
}

bool TPath::IsDeviceMup() const {
  if (!Verify(IsPathInNt())) return false;
  return Count >= 2 && PartsMatch(PartGet(1), u"Mup");
}

// ---- Operators --------------------------------------------------------------------------

TPath TPath::operator+(const TPath& aPath) const {
  TPath result = *this;
  // Nothing to append to: the right path's root must survive ('' + '\\server\share').
  if (result.IsEmpty()) result.FLeadingSeparator = FLeadingSeparator || aPath.FLeadingSeparator;
  result.Add(aPath);
  result.FTrailingSeparator = aPath.FTrailingSeparator;
  return result;
}

Text operator+(const Text& aText, const TPath& aPath) { return aText + aPath.ToString(); }

Text operator+(const char16_t* aText, const TPath& aPath) {
  return (aText ? Text(aText) : Text()) + aPath.ToString();
}

// =========================================================================================
// File system operations
// =========================================================================================

namespace {

const char16_t* const kPrefixGlobalRoot = u"\\\\?\\GLOBALROOT\\";
const char16_t* const kPrefixLongPath = u"\\\\?\\";
// Entries that the standard directory search skips unless its attribute mask asks for them.
constexpr win::DWORD kListedAttributeSkips =
    win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_SYSTEM | win::FILE_ATTRIBUTE_DIRECTORY;

TPath Prefixed(const TPath& aPath) {
  TPath path = aPath;
  LongPathPrefixAdd(path);
  return path;
}


bool IsLinkToFolder(const Text& aPrefixedPath) {
  const win::DWORD attributes = win::GetFileAttributesW(aPrefixedPath.c_str());
  return attributes != win::INVALID_FILE_ATTRIBUTES && (attributes & win::FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & win::FILE_ATTRIBUTE_REPARSE_POINT);
}

// One deletion attempt; the last error is the deletion's.
bool DeleteOnce(const Text& aPrefixedPath) {
  if (win::DeleteFileW(aPrefixedPath.c_str())) return true;
  bool link;
  {
    TLastErrorKeeper keep;
    link = IsLinkToFolder(aPrefixedPath);
  }
  return link && win::RemoveDirectoryW(aPrefixedPath.c_str());
}

// The platform's plain test for a file (folders do not count), with the directory search
// for files that the system holds locked.
bool PlainFileExists(const Text& aPath) {
  const win::DWORD attributes = win::GetFileAttributesW(aPath.c_str());
  if (attributes != win::INVALID_FILE_ATTRIBUTES) return (attributes & win::FILE_ATTRIBUTE_DIRECTORY) == 0;
  const win::DWORD error = win::GetLastError();
  if (error == win::ERROR_FILE_NOT_FOUND || error == win::ERROR_PATH_NOT_FOUND || error == win::ERROR_INVALID_NAME)
    return false;
  win::WIN32_FIND_DATAW data;
  win::HANDLE search = win::FindFirstFileW(aPath.c_str(), &data);
  if (search == win::INVALID_HANDLE_VALUE) return false;
  win::FindClose(search);
  return (data.dwFileAttributes & win::FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The entry's name; a name without its zero ends at the end of the array.
Text FindDataName(const win::WIN32_FIND_DATAW& aData) {
  std::size_t n = 0;
  while (n < win::MAX_PATH && aData.cFileName[n] != 0) ++n;
  return Text(aData.cFileName, n);
}

struct TFolderListing {
  TPath Folder;  // prefixed
  TPath Mask;
  win::DWORD Attributes = 0;
  bool Recursive = false;
  TFlexArray Result;

  void Search(const TPath& aRelative) {
    AlertIf(aRelative.LeadingSeparator(), u"FolderList: relative path with a leading separator: " + aRelative.ToString());
    const Text pattern = (Folder + aRelative + Mask).ToString();
    // As the standard search: hidden, system and folder entries only when the mask asks.
    const win::DWORD searchMask = static_cast<win::DWORD>(FlagsAdd(Attributes, win::FILE_ATTRIBUTE_DIRECTORY));
    const win::DWORD skipped = ~searchMask & kListedAttributeSkips;
    win::WIN32_FIND_DATAW data;
    win::HANDLE search = win::FindFirstFileW(pattern.c_str(), &data);
    if (search == win::INVALID_HANDLE_VALUE) return;
    do {
      const Text name = FindDataName(data);
      if (name == u"." || name == u".." || name.empty()) continue;
      if (data.dwFileAttributes & skipped) continue;
      const bool isFolder = (data.dwFileAttributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0;
      const TPath relative = aRelative + TPath(name);
      if ((data.dwFileAttributes & Attributes) != 0)
        Result.Insert(relative.ToString(), Variant(std::int32_t(isFolder ? 2 : 1)), Result.Count());
      // A link or junction is listed but not followed: its target is not part of the tree
      // (and a link back up would never end).
      if (Recursive && isFolder && !(data.dwFileAttributes & win::FILE_ATTRIBUTE_REPARSE_POINT)) Search(relative);
    } while (win::FindNextFileW(search, &data));
    win::FindClose(search);
  }
};

// The previous redirection state between Wow64FsRedirectionDisable and Revert.
// Redirection is a state of each thread: what the switch kept is kept per thread too.
thread_local win::LPVOID tWow64RedirectionOldValue = nullptr;

win::FARPROC Kernel32ProcGet(const char* aName) {
  win::HMODULE kernel = win::GetModuleHandleW(u"kernel32.dll");
  return kernel ? win::GetProcAddress(kernel, aName) : nullptr;
}

}  // namespace

// ---- Long-path prefix ------------------------------------------------------------------

void LongPathPrefixAdd(TPath& aPath) {
  // Path addition: the prefix's trailing separator is not doubled by the path's leading one.
  if (aPath.IsPathInNt())
    aPath = TPath(kPrefixGlobalRoot) + aPath;
  else if (aPath.IsPathToDrive())
    aPath = TPath(kPrefixLongPath) + aPath;
}

// ---- Files -----------------------------------------------------------------------------

win::HANDLE FileOpen(const TPath& aPath, win::DWORD aCreationDisposition, win::DWORD aShareMode,
                     win::DWORD aDesiredAccess) {
  const Text path = Prefixed(aPath).ToString();
  auto open = [&] {
    return win::CreateFileW(path.c_str(), aDesiredAccess, aShareMode, nullptr, aCreationDisposition,
                            win::FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  };
  win::HANDLE handle = open();
  if (handle != win::INVALID_HANDLE_VALUE || win::GetLastError() != win::ERROR_ACCESS_DENIED ||
      aDesiredAccess == win::FILE_READ_ATTRIBUTES)
    return handle;
  bool cleared;
  {
    TLastErrorKeeper keep;
    cleared = FileReadOnlyClear(aPath);
  }
  if (!cleared) return handle;
  handle = open();
  TLastErrorKeeper keep;
  FileReadOnlySet(aPath);
  return handle;
}

bool FileIsAvailable(const TPath& aPath) {
  win::HANDLE handle = FileOpen(aPath, win::OPEN_EXISTING, 0, win::GENERIC_READ | win::GENERIC_WRITE);
  if (handle == win::INVALID_HANDLE_VALUE) return false;
  win::CloseHandle(handle);
  return true;
}

void FileInformationGet(const TPath& aPath, win::BY_HANDLE_FILE_INFORMATION& aInformation) {
  aInformation = win::BY_HANDLE_FILE_INFORMATION{};
  aInformation.dwFileAttributes = win::INVALID_FILE_ATTRIBUTES;
  win::HANDLE handle = FileOpen(aPath, win::OPEN_EXISTING,
                                win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE,
                                win::FILE_READ_ATTRIBUTES);
  if (handle == win::INVALID_HANDLE_VALUE) return;
  if (!win::GetFileInformationByHandle(handle, &aInformation)) {
    // A half-filled record would pass for a real one.
    aInformation = win::BY_HANDLE_FILE_INFORMATION{};
    aInformation.dwFileAttributes = win::INVALID_FILE_ATTRIBUTES;
  }
  TLastErrorKeeper keep;
  win::CloseHandle(handle);
}

win::DWORD FileAttributesGet(const TPath& aPath) {
  win::BY_HANDLE_FILE_INFORMATION information;
  FileInformationGet(aPath, information);
  return information.dwFileAttributes;
}

bool FileAttributesSet(const TPath& aPath, win::DWORD aAttributes) {
  return win::SetFileAttributesW(Prefixed(aPath).ToString().c_str(), aAttributes) != win::FALSE;
}

bool FileReadOnlyClear(const TPath& aPath) {
  const win::DWORD attributes = FileAttributesGet(aPath);
  if (attributes == win::INVALID_FILE_ATTRIBUTES || !(attributes & win::FILE_ATTRIBUTE_READONLY)) return false;
  return FileAttributesSet(aPath, attributes & ~win::FILE_ATTRIBUTE_READONLY);
}

bool FileReadOnlySet(const TPath& aPath) {
  const win::DWORD attributes = FileAttributesGet(aPath);
  // The attributes of a file that cannot be opened are unknown, not all bits set.
  if (attributes == win::INVALID_FILE_ATTRIBUTES) return false;
  return FileAttributesSet(aPath, attributes | win::FILE_ATTRIBUTE_READONLY);
}

bool FileExistsAny(const TPath& aPath) {
  if (FileAttributesGet(aPath) != win::INVALID_FILE_ATTRIBUTES) return true;
  return PlainFileExists(aPath.ToString());
}

bool FileCopy(const TPath& aSource, const TPath& aTarget, bool bFailIfExists) {
  return win::CopyFileW(Prefixed(aSource).ToString().c_str(), Prefixed(aTarget).ToString().c_str(),
                        bFailIfExists ? win::TRUE : win::FALSE) != win::FALSE;
}

bool FileMove(const TPath& aSource, const TPath& aTarget, win::DWORD aFlags, bool bFailureExpected) {
  TPath source = Prefixed(aSource);
  TPath target = Prefixed(aTarget);
  source.TrailingSeparatorSet(false);
  target.TrailingSeparatorSet(false);
  const Text sourceText = source.ToString();
  const Text targetText = target.ToString();
  bool result;
  if (target.IsEmpty() && Verify(FlagsHas(aFlags, win::MOVEFILE_DELAY_UNTIL_REBOOT)))
    result = win::MoveFileExW(sourceText.c_str(), nullptr, aFlags) != win::FALSE;
  else
    result = win::MoveFileExW(sourceText.c_str(), targetText.c_str(), aFlags) != win::FALSE;
  const Text resultText = ResultText(result);
  // The caller reads the error of the move, not of the logging.
  TLastErrorKeeper keep;
  const Text line = u"FsMove: " + resultText + u" \"" + sourceText + u"\" -> \"" + targetText + u"\", Flags: " +
                    Describe(Variant(std::uint32_t(aFlags)), u"MoveFile");
  DebugLog(line);
  AlertIf(!result && !bFailureExpected, line);
  return result;
}

bool FileDelete(const TPath& aPath) {
  const Text path = Prefixed(aPath).ToString();
  if (DeleteOnce(path)) return true;
  if (win::GetLastError() != win::ERROR_ACCESS_DENIED) return false;
  bool cleared;
  {
    TLastErrorKeeper keep;
    cleared = FileReadOnlyClear(aPath);
  }
  if (!cleared) return false;
  if (DeleteOnce(path)) return true;
  TLastErrorKeeper keep;
  Verify(FileReadOnlySet(aPath));
  return false;
}

// ---- Folders ---------------------------------------------------------------------------

void FolderCreate(const TPath& aPath) {
  if (aPath.IsEmpty() || FileExistsAny(aPath)) return;
  FolderCreate(aPath.PathToParent());
  win::CreateDirectoryW(Prefixed(aPath).ToString().c_str(), nullptr);
}

void FolderOfFileCreate(const TPath& aPath) { FolderCreate(aPath.PathToParent()); }

void FolderList(const TPath& aFolder, bool bRecursive, const Text& aMask, win::DWORD aAttributes,
                TFlexArray& aResult) {
  TFolderListing listing;
  listing.Folder = Prefixed(aFolder);
  listing.Mask = TPath(aMask);
  listing.Attributes = aAttributes;
  listing.Recursive = bRecursive;
  // An empty attribute mask lists nothing; reported once, not once per entry.
  Verify(aAttributes != 0);
  listing.Search(TPath());
  aResult = listing.Result;
}

bool FolderDeleteAfterRestart(const TPath& aFolder) {
  TFlexArray list;
  FolderList(aFolder, true, u"*", 0x1FF, list);
  bool result = true;
  auto schedule = [&](const TPath& aPath) {
    if (!FileMove(aPath, TPath(), win::MOVEFILE_DELAY_UNTIL_REBOOT, false)) result = false;
  };
  struct TFolderEntry {
    TPath Path;
    int Depth;
  };
  std::vector<TFolderEntry> folders;
  for (int i = 0; i < list.Count(); ++i) {
    const TPath path = aFolder + TPath(list.GetKeyByIndex(i));
    if (VariantToInt64(list.GetValueByIndex(i)) == 1)
      schedule(path);
    else
      folders.push_back({path, path.Count});
  }
  // Deepest first, in list order within one depth; however deep the tree, so that no folder
  // is left behind to keep its parent from being deleted.
  std::stable_sort(folders.begin(), folders.end(),
                   [](const TFolderEntry& a, const TFolderEntry& b) { return a.Depth > b.Depth; });
  for (const auto& folder : folders) schedule(folder.Path);
  schedule(aFolder);
  return result;
}

// ---- Well-known folders ----------------------------------------------------------------

TPath SpecialFolderGet(int aCSIDL) {
  TPath result;
  char16_t buffer[win::MAX_PATH + 1] = {};
  if (win::SHGetSpecialFolderPathW(nullptr, buffer, aCSIDL, win::FALSE)) {
    buffer[win::MAX_PATH] = 0;
    result = TPath(Text(buffer));
  }
  return result;
}

TPath CommonAppDataFolderGet() { return SpecialFolderGet(win::CSIDL_COMMON_APPDATA); }

TPath ProductDataFolderGet() {
  TPath folder = CommonAppDataFolderGet();
  // Without the common folder this would be the relative path 'Orvanta'.
  if (folder.IsEmpty()) return folder;
  folder = folder + u"Orvanta";
  FolderCreate(folder);
  return folder;
}

TPath SystemFolderGet() {
  std::vector<char16_t> buffer(win::MAX_PATH);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const win::UINT n = win::GetSystemDirectoryW(buffer.data(), static_cast<win::UINT>(buffer.size()));
    if (n == 0) break;
    if (n < buffer.size()) return TPath(Text(buffer.data(), n));
    // Too small: n is the size needed, zero included.
    buffer.resize(n);
  }
  return TPath();
}

TPath SystemDriversFolderGet() {
  TPath folder = SystemFolderGet();
  if (folder.IsEmpty()) return folder;
  if (WindowsIs64Bit() && ProcessArchitectureName() == u"x86") folder.LastSet(u"sysnative");
  return folder + u"Drivers";
}

TPath ExePathGet() {
  std::vector<char16_t> buffer(win::MAX_PATH + 1);
  for (;;) {
    const win::DWORD n = win::GetModuleFileNameW(nullptr, buffer.data(), static_cast<win::DWORD>(buffer.size()));
    if (n == 0) return TPath();
    if (n < buffer.size()) return TPath(Text(buffer.data(), n));
    // Truncated; long paths reach 32767 characters.
    if (buffer.size() > 32768) return TPath();
    buffer.resize(buffer.size() * 4);
  }
}

// ---- Redirection switch ----------------------------------------------------------------

void Wow64FsRedirectionDisable() {
  using TDisable = win::BOOL(ORV_WINAPI*)(win::LPVOID*);
  win::FARPROC proc = Kernel32ProcGet("Wow64DisableWow64FsRedirection");
  if (!proc) return;
  win::LPVOID oldValue = nullptr;
  // Where the call fails (a 64-bit or a native process) there is no state to keep.
  if (reinterpret_cast<TDisable>(proc)(&oldValue)) tWow64RedirectionOldValue = oldValue;
}

void Wow64FsRedirectionRevert() {
  using TRevert = win::BOOL(ORV_WINAPI*)(win::LPVOID);
  win::FARPROC proc = Kernel32ProcGet("Wow64RevertWow64FsRedirection");
  if (!proc) return;
  reinterpret_cast<TRevert>(proc)(tWow64RedirectionOldValue);
}

// ---- Device and NT forms ----------------------------------------------------------------

TPath TPath::PathToDevice() const {
  TPath path = *this;
  if (path.IsPathToPcItself()) {
    path.RemoveFirst();
    path.RemoveFirst();
    path.LeadingSeparatorSet(false);
  }
  TPath result;
  if (path.IsPathInNt()) {
    Verify(PartsMatch(path.PartGet(0), u"Device"));
    result = path.CopyFirstParts(2);
  } else if (path.IsPathToDrive()) {
    result = path.CopyFirstParts(1);
  } else if (path.IsPathToVolume()) {
    result = path.CopyFirstParts(3);
  } else {
    Alert(Text());
  }
  result.LeadingSeparatorSet(path.LeadingSeparator());
  return result;
}

TPath TPath::PathOnDevice() const { return CopyLastParts(Count - PathToDevice().Count); }

void TPath::ConvertToPathToDevice() {
  Verify(IsNotEmpty());
  FTrailingSeparator = false;
  *this = TPath(u"\\\\.\\" + First());
}

Text TPath::QueryDeviceName() const {
  Text name;
  if (IsPathToDrive()) {
    name = First();
  } else if (IsPathToVolume()) {
    name = PartGet(2);
  } else if (IsPathToNetwork()) {
    name = u"\\Device\\Mup";
  } else {
    Alert(Text());
    return Text();
  }
  char16_t buffer[win::MAX_PATH + 1] = {};
  if (win::QueryDosDeviceW(name.c_str(), buffer, win::MAX_PATH + 1) > 0) return Text(buffer);
  return Text();
}

TPath TPath::NtPath() const {
  Verify(!IsPathInNt());
  TPath device(QueryDeviceName());
  if (device.Count < 2) return TPath();
  // A substituted drive's device is a path below another drive's link ('\??\C:\dir'): the
  // link is followed. A device name ('\Device\HarddiskVolume2') is no link and stays.
  Text target = NtSymbolicLinkTargetGet(device.CopyFirstParts(2).ToString());
  if (!target.empty()) device = TPath(target) + device.CopyLastParts(device.Count - 2);
  return device + PathOnDevice();
}

namespace {
// The first of the drive roots or volume names whose device is aDevice; empty when none is.
TPath FirstOnDevice(const std::vector<Text>& aRoots, const TPath& aDevice) {
  for (const Text& root : aRoots) {
    TPath path(root);
    if (TPath(path.QueryDeviceName()).IsSameAs(aDevice)) return path;
  }
  return TPath();
}
}  // namespace

TPath TPath::NtDeviceNameToWin32Path() const {
  Verify(IsPathInNt());
  std::vector<Text> roots;
  DriveRootsList(roots);
  TPath drive = FirstOnDevice(roots, *this);
  return drive.IsNotEmpty() ? drive : NtDeviceNameToVolumePath();
}

TPath TPath::NtDeviceNameToVolumePath() const {
  std::vector<Text> volumes;
  VolumeNamesList(volumes);
  return FirstOnDevice(volumes, *this);
}

TPath TPath::NtPathToWin32Path() const {
  if (!Verify(IsPathInNt())) return TPath();
  TPath device = CopyFirstParts(2).NtDeviceNameToWin32Path();
  // No drive or volume on that device: no Win32 form (the rest alone would read as a path
  // relative to the current folder).
  if (device.IsEmpty()) return TPath();
  TPath result = device + CopyLastParts(Count - 2);
  result.TrailingSeparatorSet(FTrailingSeparator);
  return result;
}

TPath TPath::NtPathClean() const {
  TPath result = *this;
  // Looked at without the reports the kind tests give for other forms: only an NT path
  // under \Device\Mup changes.
  const bool mup = FLeadingSeparator && Count >= 2 && PartsMatch(PartGet(0), u"Device") && PartsMatch(PartGet(1), u"Mup");
  if (mup && Verify(Count >= 3))
    while (result.Count > 2 && result.PartGet(2).starts_with(u";")) result.Remove(2);
  return result;
}
