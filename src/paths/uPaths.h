// Paths and files.
//
// TPath is the framework's value type for file-system, registry-key and URL paths: the parts
// joined by one separator character in a single text, two flags that remember a leading and
// a trailing separator, an optional custom separator (default '\') and the part count. Its
// operations are pure text work; they query nothing. Part names are compared ignoring ASCII
// case only (no other folding, no locale).
//
// Misuse (an index outside the parts, an extension without a dot, a part that contains the
// separator, RelativeTo with a path that is no parent ...) is reported through Verify or
// Alert and the operation goes on: it returns the empty text, false or the empty path, or
// leaves the path unchanged. Nothing here raises.
//
// TPath has no shared state; copies are independent. One value must not be changed by two
// threads at once.
#pragma once

#include <initializer_list>
#include <vector>

#include "params/uFlexArray.h"
#include "platform/win32api_types.h"
#include "ranges/uRanges.h"
#include "rtl/Variant.h"

class TPath {
 public:
  TPath() = default;
  // Conversion from text: a path with separator '\' set with SetPathFromString.
  TPath(const Text& aPath);
  TPath(const char16_t* aPath);

  // ---- Setting and printing ----------------------------------------------------------

  // Replaces the path by the parsed text; the separator does not change. A leading and a
  // trailing separator set the flags and are not parts; only the separator splits parts
  // ('/' and ':' are ordinary characters under '\'); '.' and '..' are kept as parts.
  void SetPathFromString(const Text& aPath);
  // The separator when LeadingSeparator, the parts joined, the separator when
  // TrailingSeparator; printed with the separator in force now.
  Text ToString() const;
  operator Text() const { return ToString(); }
  // No parts, no flags, separator '\'.
  void Clear();

  char16_t Separator() const;
  // Replaces every current separator in the parts by aSeparator, then recounts (a part that
  // already held aSeparator is thereby split). '\' clears CustomSeparator.
  void SeparatorSet(char16_t aSeparator);

  // A decoded URL: 'file:' URLs become Windows paths ('file:///C:/d/x' gives 'C:\d\x',
  // 'file://server/share/x' gives '\\server\share\x'); any other URL keeps '/' as its
  // separator and its scheme as the first part ('scheme://host/a' has the parts 'scheme:',
  // '', 'host', 'a'). An empty text clears the path.
  void SetPathFromUrlTry(const Text& aUrlDecoded);
  // SetPathFromUrlTry, reporting an empty result.
  void SetPathFromUrl(const Text& aUrlDecoded);

  // ---- Reading parts -----------------------------------------------------------------

  // The 1-based character positions of the part in PartsString; an empty part has its
  // start and length 0. For a part that does not exist: Alert and an invalid range.
  TRange PartGetStartAndEnd(int aPartIndex) const;
  // The part; "" (after a report) for an index outside 0..Count-1.
  Text PartGet(int aIndex) const;
  // Replaces the part. Refused (with a report) for an index outside the parts and for a
  // part that contains the separator, which would break the count.
  void PartSet(int aIndex, const Text& aPart);
  // The first index whose part matches aName, or -1.
  int IndexOf(const Text& aName) const;
  Text First() const;
  Text LastGet() const;
  void LastSet(const Text& aString);

  // The extension of the last part with its dot: 'a.tar.gz' gives '.gz', 'name.' gives '.',
  // '.cfg' gives '.cfg'; none after the last '\' or ':' ('a.b:c' gives '').
  Text Extension() const;
  Text LastWithoutFileExtension() const;
  // aString with its dot ('.sys'), or empty for "no extension"; compared ignoring case.
  bool HasExtension(const Text& aString) const;
  // Any of the extensions; false for an empty list.
  bool HasExtension(const std::vector<Text>& aList) const;
  bool HasExtension(std::initializer_list<Text> aList) const;

  // ---- Editing in place --------------------------------------------------------------

  // Inserts a part before part aIndex, or appends it when aIndex is Count. Refused (with a
  // report) for an index outside 0..Count and for a part that contains the separator.
  // Appending an empty part to an empty path gives one empty part.
  void Insert(int aIndex, const Text& aPart);
  // Appends every part of aPath. The flags of this path stay; those of aPath are not taken.
  void Add(const TPath& aPath);
  // Removes one part (refused with a report for an index outside the parts). Flags stay.
  void Remove(int aIndex);
  void RemoveFirst();
  void RemoveLast();
  // Removes and returns the first part; "" with a report for an empty path.
  Text ExtractFirst();
  // aFirst := the first part ("" for an empty path), aRemainder := the rest. This path does
  // not change.
  void SplitIntoFirstAndRemainder(Text& aFirst, TPath& aRemainder) const;
  // Reverses the order of the parts. Flags stay.
  void Invert();

  // ---- Copies ------------------------------------------------------------------------

  TPath WithoutFirst() const;
  TPath WithoutLast() const;
  TPath PathToParent() const;
  TPath Inverted() const;
  // The first aPartsCount parts, with this path's separator and leading flag and no
  // trailing flag. Each missing index is reported and skipped.
  TPath CopyFirstParts(int aPartsCount) const;
  // The last aPartsCount parts, with this path's separator and both its flags. Each
  // missing index is reported and skipped, so asking for too many yields all parts.
  TPath CopyLastParts(int aPartsCount) const;
  // 'C:\a\b\c' relative to 'C:\a' is 'b\c' (this path's leading flag is carried over, so a
  // network path relative to its share prints as '\f'). The empty path, with a report, when
  // aParent is not a parent of this path.
  TPath RelativeTo(const TPath& aParent) const;

  // ---- Tests -------------------------------------------------------------------------

  bool IsNotEmpty() const { return Count > 0; }
  bool IsEmpty() const { return !IsNotEmpty(); }
  bool HasFolderWithChild() const { return Count >= 2; }
  // Part Count-2 matches aName; false (after a report) for fewer than two parts.
  bool HasDirectParentWithName(const Text& aName) const;
  // One of the parts before the last matches aName.
  bool HasAnyParentWithName(const Text& aName) const;
  // The last part or one before it matches aName.
  bool IsOrHasAnyParentWithName(const Text& aName) const;
  // Each value taken as text, in order, until one holds; false for an empty list. A null
  // value has no text: it is reported and skipped.
  bool HasAnyParentWithNameIn(const std::vector<Variant>& aNames) const;
  bool IsOrHasAnyParentWithNameIn(const std::vector<Variant>& aNames) const;
  // Same parts (ignoring ASCII case); flags and separators are not compared.
  bool IsSameAs(const TPath& aAnotherPath) const;
  // Fewer parts than aPath and each matches aPath's part at the same index. The empty path
  // is a parent of every non-empty path; no path is a parent of itself.
  bool IsAnyParentOf(const TPath& aPath) const;
  bool IsAnyChildOf(const TPath& aPath) const;
  // The direct parent only; false for an empty aPath.
  bool IsParentOf(const TPath& aPath) const;
  bool IsSameOrIsAnyChild(const TPath& aPath, bool aAllowChild) const;
  // The first parts match ('C:' and 'c:'); false (after a report) when either is empty.
  bool IsOnDrive(const TPath& aDrivePath) const;
  // This path ends with the parts of aAnotherPath.
  bool HasSameLastPartsAs(const TPath& aAnotherPath) const;
  // Each value taken as text and made into a path, in order, until one holds. A null value
  // is reported and skipped.
  bool HasSameLastPartsAsAny(const std::vector<Variant>& aPaths) const;

  // ---- Path kinds (pure tests on the parts) ------------------------------------------

  // An NT object path: leading separator and a non-empty first part ('\Device\...'). A
  // rooted path without drive ('\Windows') passes too, and is reported unless its first
  // part is "Device".
  bool IsPathInNt() const;
  // The first part is a drive ('C:'); the leading flag is not looked at. An NT path is
  // reported and gives false.
  bool IsPathToDrive() const;
  // 'C:' or 'C:\'.
  bool IsDrive() const;
  // The '\\?\' form.
  bool IsPathToPcItself() const;
  // '\\?\Volume{...}...'. An NT path is reported and gives false.
  bool IsPathToVolume() const;
  // '\\server\share' (and the device form '\\.\C:'). An NT path is reported and gives false.
  bool IsPathToNetwork() const;
  // '\Device\Mup\...', the NT form of network paths. A path that is not in NT form is
  // reported and gives false.
  bool IsDeviceMup() const;

  // ---- Device and NT forms ------------------------------------------------------------

  // The device part: 'C:' of 'C:\a\b', '\Device\HarddiskVolume2' of an NT path, the first
  // three parts of a volume path; a '\\?\' prefix is dropped first. Any other form is
  // reported and gives the empty path. The leading flag is that of the (unprefixed) path.
  TPath PathToDevice() const;
  // The path below its device: 'a\b' of 'C:\a\b', '\a' of '\Device\HarddiskVolume2\a'.
  TPath PathOnDevice() const;
  // Becomes the path that opens its volume directly: 'C:\dir\x' becomes '\\.\C:'.
  void ConvertToPathToDevice();
  // Without the redirector parts (those starting with ';') right after '\Device\Mup':
  // '\Device\Mup\;LanmanRedirector\;Z:0000\server\share' gives '\Device\Mup\server\share'.
  TPath NtPathClean() const;

  // The MS-DOS device name QueryDosDeviceW gives for this path's drive ('C:' gives
  // '\Device\HarddiskVolume2', a substituted drive '\??\C:\dir'), volume ('Volume{...}') or,
  // for a network path, for "\Device\Mup"; "" when the system knows none. A path of no such
  // form is reported and gives "".
  Text QueryDeviceName() const;
  // The NT form of a Win32 path: 'C:\Windows\x' gives '\Device\HarddiskVolume2\Windows\x', a
  // path on a substituted drive the NT form of the folder it stands for. Empty when the
  // device is not known. An NT path given is reported.
  TPath NtPath() const;
  // For a device name ('\Device\HarddiskVolume2'): the root of the first drive on it ('C:\'),
  // else the volume path ('\\?\Volume{...}\', NtDeviceNameToVolumePath); empty when neither.
  TPath NtDeviceNameToWin32Path() const;
  // For a device name: the name of the first volume on it ('\\?\Volume{...}\'), else empty.
  TPath NtDeviceNameToVolumePath() const;
  // The Win32 form of an NT path: '\Device\HarddiskVolume2\Windows\x' gives 'C:\Windows\x',
  // or '\\?\Volume{...}\Windows\x' on a volume without a drive letter; the trailing flag is
  // this path's. Empty when the device is not known, or (reported) for a path not in NT form.
  TPath NtPathToWin32Path() const;

  // ---- Operators ---------------------------------------------------------------------

  // A copy of this path with aPath's parts added and aPath's trailing flag; this path's
  // leading flag and separator stay ('C:\x\' + 'y' is 'C:\x\y', 'C:\x' + 'y\' is 'C:\x\y\').
  // Added to an empty path, the right path keeps its leading flag ('' + '\\s\x' is '\\s\x').
  TPath operator+(const TPath& aPath) const;
  TPath operator+(const Text& aPath) const { return *this + TPath(aPath); }
  TPath operator+(const char16_t* aPath) const { return *this + TPath(aPath); }
  // IsSameAs; != follows from it.
  bool operator==(const TPath& aPath) const { return IsSameAs(aPath); }

  // ---- Fields and flags --------------------------------------------------------------

  bool LeadingSeparator() const { return FLeadingSeparator; }
  void LeadingSeparatorSet(bool aValue) { FLeadingSeparator = aValue; }
  bool TrailingSeparator() const { return FTrailingSeparator; }
  void TrailingSeparatorSet(bool aValue) { FTrailingSeparator = aValue; }

 private:
  // The parts joined by the separator, without the leading and the trailing separator.
  Text PartsString;
  bool FLeadingSeparator = false;
  bool FTrailingSeparator = false;

 public:
  // Empty: the separator is '\'. Otherwise its first character is the separator.
  Text CustomSeparator;
  // The number of parts: 0 when PartsString is empty, else 1 + its separators. Insert and
  // Remove keep it by adding and subtracting, so one empty part (PartsString empty, Count
  // 1) can exist.
  int Count = 0;

 private:
  // Re-establishes Count from PartsString.
  void CountUpdate();
  // The parts in order; Count of them.
  std::vector<Text> PartsList() const;
  void PartsListSet(const std::vector<Text>& aParts);
  bool PartIndexCheck(int aIndex) const;
  bool PartTextCheck(const Text& aPart) const;
};

// Text followed by the path's text, with no separator between them: for prefixes such as
// "\\?\".
Text operator+(const Text& aText, const TPath& aPath);
Text operator+(const char16_t* aText, const TPath& aPath);

// =========================================================================================
// File system operations
// =========================================================================================
//
// Every operation takes TPath values and hands them to the wide Win32 functions with a
// long-path prefix (LongPathPrefixAdd). Failures are results, never exceptions: the caller
// reads the last Windows error (ResultText, WindowsErrorText) right after the call. FileMove
// is the one operation that logs ("FsMove: " lines through DebugLog) and reports its own
// failures. Misuse (an empty move target without MOVEFILE_DELAY_UNTIL_REBOOT, a flag word
// that is not a single flag ...) is reported through Verify or AlertIf and the operation
// goes on. No locks are taken; the redirection pair is bound to one thread and not nested.

// ---- Long-path prefix ------------------------------------------------------------------

// An NT object path ('\Device\HarddiskVolume2\x') gets "\\?\GLOBALROOT", a drive path
// ('C:\x') "\\?\"; every other path (network, already prefixed, relative) stays as it is,
// so applying the prefix twice changes nothing.
void LongPathPrefixAdd(TPath& aPath);

// ---- Files -----------------------------------------------------------------------------

// CreateFileW with FILE_FLAG_BACKUP_SEMANTICS (folders and volumes open too). When the
// open is refused with ERROR_ACCESS_DENIED because the file is read-only, and more than
// FILE_READ_ATTRIBUTES is asked for, the attribute is cleared, the open tried once more and
// the attribute put back, whatever the second attempt gave. The handle of the last attempt
// (INVALID_HANDLE_VALUE on failure, with the error of that attempt); the caller closes it.
win::HANDLE FileOpen(const TPath& aPath, win::DWORD aCreationDisposition, win::DWORD aShareMode,
                     win::DWORD aDesiredAccess);
// The file exists and this process can have it alone for reading and writing: false while
// any other handle holds it, true for a read-only file.
bool FileIsAvailable(const TPath& aPath);
// The record, zeroed with attributes INVALID_FILE_ATTRIBUTES when the path cannot be opened.
void FileInformationGet(const TPath& aPath, win::BY_HANDLE_FILE_INFORMATION& aInformation);
// INVALID_FILE_ATTRIBUTES when the path cannot be opened.
win::DWORD FileAttributesGet(const TPath& aPath);
bool FileAttributesSet(const TPath& aPath, win::DWORD aAttributes);
// Clears FILE_ATTRIBUTE_READONLY; false when it was not set or cannot be cleared.
bool FileReadOnlyClear(const TPath& aPath);
bool FileReadOnlySet(const TPath& aPath);
// Files, folders and drive roots whose attributes can be read; otherwise a file that the
// system holds locked (such as the page file) still counts when a directory search finds it.
bool FileExistsAny(const TPath& aPath);
bool FileCopy(const TPath& aSource, const TPath& aTarget, bool bFailIfExists);
// MoveFileExW with both paths prefixed and without trailing separator. An empty target with
// MOVEFILE_DELAY_UNTIL_REBOOT records the deletion of the source at the next restart. Writes
// one "FsMove: " line and, unless bFailureExpected, reports a failure as a problem. The last
// error is that of the move.
bool FileMove(const TPath& aSource, const TPath& aTarget, win::DWORD aFlags, bool bFailureExpected);
// DeleteFileW (RemoveDirectoryW for a link or junction to a folder); a read-only file is
// deleted after its attribute is cleared, and gets it back when that deletion fails too.
bool FileDelete(const TPath& aPath);

// ---- Folders ---------------------------------------------------------------------------

// Creates the folder and every missing parent. The result is not reported: test existence
// afterwards when it matters.
void FolderCreate(const TPath& aPath);
void FolderOfFileCreate(const TPath& aPath);
// Lists aFolder into aResult (replaced, not appended to): key = the path relative to aFolder,
// value 1 for a file and 2 for a folder, in the order the system lists them, a folder's own
// entry before the entries inside it. aMask is a name pattern and may hold a relative
// sub-folder; an entry is listed when its attributes share a bit with aAttributes, and hidden
// and system entries only when aAttributes asks for them. With bRecursive the search goes
// into every folder found (whose name matches the mask), except into links and junctions:
// they are listed, but what they point to is not part of the folder.
void FolderList(const TPath& aFolder, bool bRecursive, const Text& aMask, win::DWORD aAttributes,
                TFlexArray& aResult);
// Records the deletion of aFolder and everything in it for the next restart, in an order in
// which each folder is empty when its turn comes: all files, then the folders deepest first,
// then aFolder. True when every recording succeeded; a failure does not stop the others.
// Needs an administrator's token.
bool FolderDeleteAfterRestart(const TPath& aFolder);

// ---- Well-known folders ----------------------------------------------------------------

// SHGetSpecialFolderPathW without creating the folder; the empty path when the system cannot
// name it.
TPath SpecialFolderGet(int aCSIDL);
// CSIDL_COMMON_APPDATA ('C:\ProgramData').
TPath CommonAppDataFolderGet();
// The product's folder below the common application data, created when missing.
TPath ProductDataFolderGet();
// GetSystemDirectoryW ('C:\Windows\system32', also for a 32-bit program); empty when the
// system does not tell it.
TPath SystemFolderGet();
// The system folder + "Drivers", reached through "sysnative" by a 32-bit program on 64-bit
// Windows so that redirection does not take it to the 32-bit folder; empty when the system
// folder is not known.
TPath SystemDriversFolderGet();
// The full file name of the running executable.
TPath ExePathGet();

// ---- File-system redirection of 32-bit programs on 64-bit Windows ----------------------

// Turns redirection off for the calling thread, keeping the previous state for that thread;
// nothing happens where the system has no such function.
void Wow64FsRedirectionDisable();
// Puts back the state that Wow64FsRedirectionDisable kept on the calling thread.
void Wow64FsRedirectionRevert();
