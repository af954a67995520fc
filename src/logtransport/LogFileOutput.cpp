#include "logtransport/LogFileOutput.h"

#include <algorithm>
#include <cstring>

#include "paths/uPaths.h"
#include "platform/utf.h"
#include "platform/win32api.h"

using namespace logfile;

namespace {

// A file that cannot be opened or written is tried again after this long.
constexpr std::uint64_t kRetryMs = 3000;
constexpr std::uint64_t kNotALogFile = ~std::uint64_t(0);

Text Prefixed(const Text& aPath) {
  TPath p(aPath);
  LongPathPrefixAdd(p);
  return p.ToString();
}

bool SeekTo(win::HANDLE h, std::uint64_t aOffset) {
  win::LONG high = static_cast<win::LONG>(aOffset >> 32);
  win::SetLastError(win::ERROR_SUCCESS);
  win::DWORD low = win::SetFilePointer(h, static_cast<win::LONG>(aOffset & 0xFFFFFFFF), &high, win::FILE_BEGIN);
  return !(low == win::INVALID_SET_FILE_POINTER && win::GetLastError() != win::ERROR_SUCCESS);
}

bool ReadAt(win::HANDLE h, std::uint64_t aOffset, unsigned char* aData, win::DWORD aSize) {
  win::DWORD n = 0;
  return SeekTo(h, aOffset) && win::ReadFile(h, aData, aSize, &n, nullptr) && n == aSize;
}

}  // namespace

Text LogFilePartName(const Text& aFileName, std::uint32_t aPart) {
  if (aPart == 0) return aFileName;
  Text number = u"." + T(std::to_string(aPart));
  size_t slash = aFileName.find_last_of(u"\\/");
  size_t dot = aFileName.find_last_of(u'.');
  if (dot == Text::npos || (slash != Text::npos && dot < slash) || dot == (slash == Text::npos ? 0 : slash + 1))
    return aFileName + number;
  return aFileName.substr(0, dot) + number + aFileName.substr(dot);
}

TLogFileOutput::TLogFileOutput(const TLogConnection& aConnection)
    : FConnection(aConnection), FPath(Prefixed(aConnection.FileName)), FHandle(win::INVALID_HANDLE_VALUE) {
  FRecord.Resize(kRecordHeaderSize);
}

TLogFileOutput::~TLogFileOutput() { Close(); }

bool TLogFileOutput::WriteAll(const unsigned char* aData, size_t aSize) {
  while (aSize > 0) {
    win::DWORD chunk = static_cast<win::DWORD>(std::min<size_t>(aSize, 1u << 30));
    win::DWORD written = 0;
    if (!win::WriteFile(FHandle, aData, chunk, &written, nullptr) || written == 0) return false;
    aData += written;
    aSize -= written;
  }
  return true;
}

// The end of the last whole record (or header) of an existing file, walking the records by
// their lengths; kNotALogFile when the file does not begin with a log header. Damage that is
// more than one record long is not a cut tail: it stays, and is appended after.
std::uint64_t TLogFileOutput::TailFind(std::uint64_t aSize) {
  std::uint64_t pos = 0;
  bool encrypted = false;
  unsigned char buf[kHeaderSize];
  for (;;) {
    if (pos + 8 > aSize || !ReadAt(FHandle, pos, buf, 8)) break;
    if (std::memcmp(buf, kMagic, 8) == 0) {
      THeader header;
      std::string problem;
      if (pos + kHeaderSize > aSize || !ReadAt(FHandle, pos, buf, kHeaderSize) || !HeaderDecode(buf, header, problem)) break;
      encrypted = header.Encrypted;
      pos += kHeaderSize;
      continue;
    }
    if (pos == 0 || std::memcmp(buf, kRecordMagic, 4) != 0) break;
    std::uint64_t length = Get32(buf + 4);
    std::uint64_t end = pos + kRecordHeaderSize + length + RecordCheckSize(encrypted);
    if (length > kRecordPayloadMax || end > aSize) break;
    pos = end;
  }
  if (pos == 0) return kNotALogFile;
  if (aSize - pos > kRecordHeaderSize + kRecordPayloadMax + kTagSize) return aSize;
  return pos;
}

bool TLogFileOutput::OpenAppend(bool bTruncate) {
  if (FConnection.Encrypt && !FHaveFileKey) {
    RandomFill(FSalt, sizeof FSalt);
    if (!FileKeyDerive(FConnection.Key, FSalt, kKdfIterations, FFileKey)) return false;
    FHaveFileKey = true;
  }
  FHandle = win::CreateFileW(FPath.c_str(), win::GENERIC_READ | win::GENERIC_WRITE, win::FILE_SHARE_READ, nullptr,
                             bTruncate ? win::CREATE_ALWAYS : win::OPEN_ALWAYS, win::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (FHandle == win::INVALID_HANDLE_VALUE) return false;
  win::DWORD high = 0;
  win::DWORD low = win::GetFileSize(FHandle, &high);
  std::uint64_t size = (static_cast<std::uint64_t>(high) << 32) | low;
  if (size > 0) {
    std::uint64_t end = TailFind(size);
    if (end == kNotALogFile) {
      // Somebody else's file: left as it is.
      win::CloseHandle(FHandle);
      FHandle = win::INVALID_HANDLE_VALUE;
      return false;
    }
    if (end < size && SeekTo(FHandle, end) && win::SetEndOfFile(FHandle)) size = end;
  }
  if (!SeekTo(FHandle, size)) {
    Abandon();
    return false;
  }
  FFileSize = size;
  return SegmentStart();
}

bool TLogFileOutput::SegmentStart() {
  THeader header;
  header.Encrypted = FConnection.Encrypt;
  header.Iterations = FConnection.Encrypt ? kKdfIterations : 0;
  std::memcpy(header.Salt, FSalt, kSaltSize);
  RandomFill(header.Nonce, kNonceSize);
  unsigned char buf[kHeaderSize];
  if (!FCipher.Start(FConnection.Encrypt ? FFileKey : nullptr, header.Nonce) || !HeaderEncode(header, FCipher, buf) ||
      !WriteAll(buf, sizeof buf)) {
    Abandon();
    return false;
  }
  FFileSize += kHeaderSize;
  FSequence = 0;
  return true;
}

bool TLogFileOutput::EnsureOpen() {
  if (FHandle != win::INVALID_HANDLE_VALUE) return true;
  if (FFailed && win::GetTickCount64() - FRetryTick < kRetryMs) return false;
  if (!OpenAppend(false)) {
    FFailed = true;
    FRetryTick = win::GetTickCount64();
    return false;
  }
  FFailed = false;
  return true;
}

// Gives the file up after a failure: a record written in part is cut off again, so that the
// file ends with whole records.
void TLogFileOutput::Abandon() {
  if (FHandle == win::INVALID_HANDLE_VALUE) return;
  if (SeekTo(FHandle, FFileSize)) win::SetEndOfFile(FHandle);
  win::CloseHandle(FHandle);
  FHandle = win::INVALID_HANDLE_VALUE;
  FFailed = true;
  FRetryTick = win::GetTickCount64();
}

void TLogFileOutput::Seal() {
  size_t payload = FRecord.Size() - kRecordHeaderSize;
  if (payload == 0) return;
  if (FHandle == win::INVALID_HANDLE_VALUE) {
    FRecord.Shrink(kRecordHeaderSize);
    return;
  }
  ++FSequence;
  RecordHeaderWrite(FRecord.Data(), static_cast<std::uint32_t>(payload), FSequence);
  FRecord.Extend(RecordCheckSize(FCipher.Encrypted()));
  unsigned char* record = FRecord.Data();
  if (FCipher.Seal(record, payload, FSequence, record + kRecordHeaderSize + payload) && WriteAll(record, FRecord.Size()))
    FFileSize += FRecord.Size();
  else
    Abandon();
  FRecord.Shrink(kRecordHeaderSize);
}

void TLogFileOutput::Rotate() {
  if (FHandle != win::INVALID_HANDLE_VALUE) {
    win::FlushFileBuffers(FHandle);
    win::CloseHandle(FHandle);
    FHandle = win::INVALID_HANDLE_VALUE;
  }
  bool truncate = true;
  if (FConnection.MaxParts > 1) {
    const Text& name = FConnection.FileName;
    win::DeleteFileW(Prefixed(LogFilePartName(name, FConnection.MaxParts - 1)).c_str());
    for (std::uint32_t k = FConnection.MaxParts - 1; k-- > 1;) {
      win::MoveFileExW(Prefixed(LogFilePartName(name, k)).c_str(), Prefixed(LogFilePartName(name, k + 1)).c_str(),
                       win::MOVEFILE_REPLACE_EXISTING);
    }
    // A file that cannot be moved aside (another program holds it) is appended to instead:
    // better a part beyond its size than lost entries.
    truncate = win::MoveFileExW(FPath.c_str(), Prefixed(LogFilePartName(name, 1)).c_str(), win::MOVEFILE_REPLACE_EXISTING);
  }
  if (!OpenAppend(truncate)) {
    FFailed = true;
    FRetryTick = win::GetTickCount64();
  }
}

void TLogFileOutput::Write(const TLogEntryView& aEntry) {
  if (FClosed || !EnsureOpen()) return;
  const size_t check = RecordCheckSize(FCipher.Encrypted());
  const std::uint64_t maxSize = FConnection.MaxSize ? FConnection.MaxSize : ~std::uint64_t(0);
  TLogEntryView e = aEntry;
  // One entry must fit in one record.
  const size_t textMax = (kRecordPayloadMax - kEntryFixedSize) / 3 - e.AppName.size() - e.Channel.size();
  if (e.Content.size() > textMax) e.Content = e.Content.substr(0, textMax);
  auto fits = [&] {
    return FRecord.Size() - kRecordHeaderSize <= kRecordPayloadMax && FFileSize + FRecord.Size() + check <= maxSize;
  };
  const size_t before = FRecord.Size();
  EntryAppend(FRecord, e);
  if (!fits()) {
    if (before > kRecordHeaderSize) {
      // The entries gathered before go out first, in a record of their own.
      FRecord.Shrink(before);
      Seal();
      if (FHandle == win::INVALID_HANDLE_VALUE) return;
      EntryAppend(FRecord, e);
    }
    if (!fits() && FFileSize > kHeaderSize) {
      Rotate();
      if (FHandle == win::INVALID_HANDLE_VALUE) {
        FRecord.Shrink(kRecordHeaderSize);
        return;
      }
    }
    if (!fits()) {
      // An entry larger than a whole part: its text is cut to what fits.
      FRecord.Shrink(kRecordHeaderSize);
      std::uint64_t used = FFileSize + kRecordHeaderSize + check + kEntryFixedSize + 3 * (e.AppName.size() + e.Channel.size());
      std::uint64_t room = maxSize > used ? (maxSize - used) / 3 : 0;
      e.Content = e.Content.substr(0, static_cast<size_t>(std::min<std::uint64_t>(room, e.Content.size())));
      EntryAppend(FRecord, e);
    }
  }
  if (FRecord.Size() - kRecordHeaderSize >= kBatchPayload) Seal();
}

void TLogFileOutput::Flush() {
  Seal();
  if (FHandle != win::INVALID_HANDLE_VALUE) win::FlushFileBuffers(FHandle);
}

void TLogFileOutput::Close() {
  if (FClosed) return;
  Flush();
  if (FHandle != win::INVALID_HANDLE_VALUE) win::CloseHandle(FHandle);
  FHandle = win::INVALID_HANDLE_VALUE;
  FClosed = true;
  std::memset(FFileKey, 0, sizeof FFileKey);
}
