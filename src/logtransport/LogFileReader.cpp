#include "logtransport/LogFileReader.h"

#include <cstdio>
#include <cstring>

#include "platform/utf.h"

using namespace logfile;

TLogFileReader::TLogFileReader(TLogByteSource& aSource, const Text& aKey) : FSource(aSource), FKey(aKey) {}

bool TLogFileReader::Stop(TLogReadStatus aStatus, const std::string& aProblem, bool bCut) {
  FStatus = aStatus;
  FProblem = aProblem;
  FTailCut = bCut;
  return false;
}

void TLogFileReader::Resume() {
  if (FStatus == TLogReadStatus::End || (FStatus == TLogReadStatus::DamagedTail && FTailCut) ||
      (FStatus == TLogReadStatus::NotALogFile && FOffset == 0 && FTailCut)) {
    FStatus = TLogReadStatus::Reading;
    FProblem.clear();
    FTailCut = false;
  }
}

bool TLogFileReader::Next(TLogEntry& aEntry) {
  while (FEntries.empty()) {
    if (FStatus != TLogReadStatus::Reading || !RecordRead()) return false;
  }
  aEntry = std::move(FEntries.front());
  FEntries.pop_front();
  return true;
}

bool TLogFileReader::SegmentStart(std::uint64_t aSize) {
  unsigned char buf[kHeaderSize];
  const bool first = FOffset == 0;
  if (aSize - FOffset < kHeaderSize || !FSource.ReadAt(FOffset, buf, kHeaderSize)) {
    if (first) return Stop(TLogReadStatus::NotALogFile, "too short for a log file", true);
    return Stop(TLogReadStatus::DamagedTail, "segment header cut short", true);
  }
  THeader header;
  std::string problem;
  if (!HeaderDecode(buf, header, problem)) {
    return Stop(first ? TLogReadStatus::NotALogFile : TLogReadStatus::DamagedTail, problem);
  }
  const unsigned char* fileKey = nullptr;
  if (header.Encrypted) {
    if (!FKeyCached || FKeyIterations != header.Iterations || std::memcmp(FKeySalt, header.Salt, kSaltSize) != 0) {
      if (!FileKeyDerive(FKey, header.Salt, header.Iterations, FFileKey)) return Stop(TLogReadStatus::WrongKey, "key derivation failed");
      std::memcpy(FKeySalt, header.Salt, kSaltSize);
      FKeyIterations = header.Iterations;
      FKeyCached = true;
    }
    fileKey = FFileKey;
  }
  unsigned char check[kTagSize];
  if (!FCipher.Start(fileKey, header.Nonce) || !FCipher.KeyCheckCompute(buf, check) ||
      std::memcmp(check, header.KeyCheck, kTagSize) != 0) {
    if (first) return Stop(TLogReadStatus::WrongKey, "the key does not open this log file");
    return Stop(TLogReadStatus::DamagedTail, "a segment the key does not open");
  }
  FOffset += kHeaderSize;
  FInSegment = true;
  FSequence = 0;
  return true;
}

bool TLogFileReader::RecordRead() {
  const std::uint64_t size = FSource.SizeGet();
  if (FOffset == 0 && size == 0) return Stop(TLogReadStatus::NotALogFile, "empty file", true);
  if (FOffset >= size) {
    if (FOffset == 0) return Stop(TLogReadStatus::NotALogFile, "empty file", true);
    return Stop(TLogReadStatus::End, std::string());
  }
  unsigned char head[kRecordHeaderSize];
  const std::uint64_t left = size - FOffset;
  const size_t peek = left < 8 ? static_cast<size_t>(left) : 8;
  if (!FSource.ReadAt(FOffset, head, peek)) return Stop(TLogReadStatus::DamagedTail, "the file cannot be read", true);
  // A segment header: at the start, and wherever a writer began to append again.
  if (peek == 8 ? std::memcmp(head, kMagic, 8) == 0 : std::memcmp(head, kMagic, peek) == 0) return SegmentStart(size);
  if (FOffset == 0) return Stop(TLogReadStatus::NotALogFile, "no log file signature");
  if (left < kRecordHeaderSize) {
    if (std::memcmp(head, kRecordMagic, peek < 4 ? peek : 4) == 0) return Stop(TLogReadStatus::DamagedTail, "record cut short", true);
    return Stop(TLogReadStatus::DamagedTail, "no record at this offset");
  }
  if (!FSource.ReadAt(FOffset, head, kRecordHeaderSize)) return Stop(TLogReadStatus::DamagedTail, "the file cannot be read", true);
  if (std::memcmp(head, kRecordMagic, 4) != 0) return Stop(TLogReadStatus::DamagedTail, "no record at this offset");
  const std::uint64_t payload = Get32(head + 4);
  const std::uint64_t sequence = Get64(head + 8);
  const size_t check = RecordCheckSize(FCipher.Encrypted());
  if (payload > kRecordPayloadMax) return Stop(TLogReadStatus::DamagedTail, "record length out of range");
  if (sequence != FSequence + 1) return Stop(TLogReadStatus::DamagedTail, "record out of sequence");
  const std::uint64_t total = kRecordHeaderSize + payload + check;
  // Checked before the buffer grows: no allocation beyond what the file holds.
  if (total > left) return Stop(TLogReadStatus::DamagedTail, "record cut short", true);
  FRecord.Resize(static_cast<size_t>(total));
  if (!FSource.ReadAt(FOffset, FRecord.Data(), static_cast<size_t>(total)))
    return Stop(TLogReadStatus::DamagedTail, "the file cannot be read", true);
  unsigned char* record = FRecord.Data();
  if (!FCipher.Open(record, static_cast<size_t>(payload), sequence, record + kRecordHeaderSize + payload))
    return Stop(TLogReadStatus::DamagedTail, "record " + std::to_string(sequence) + " is not authentic");
  if (!PayloadParse(record + kRecordHeaderSize, static_cast<size_t>(payload))) {
    FEntries.clear();
    return Stop(TLogReadStatus::DamagedTail, "record " + std::to_string(sequence) + " holds malformed entries");
  }
  FSequence = sequence;
  FOffset += total;
  return true;
}

bool TLogFileReader::PayloadParse(const unsigned char* p, size_t aSize) {
  return EntriesParse(p, aSize, [this](TLogEntry&& e) { FEntries.push_back(std::move(e)); });
}

std::string LogTimeText(std::uint64_t aTime) {
  // Days since 1601-01-01 to a civil date (proleptic Gregorian), by 400-year eras.
  std::uint64_t ticks = aTime % 10000000ULL;
  std::uint64_t seconds = aTime / 10000000ULL;
  std::uint64_t days = seconds / 86400;
  unsigned secondOfDay = static_cast<unsigned>(seconds % 86400);
  // Shift to 0000-03-01 based counting: 1601-01-01 is day 584694 of that count.
  std::int64_t z = static_cast<std::int64_t>(days) + 584694;
  std::int64_t era = z / 146097;
  unsigned doe = static_cast<unsigned>(z - era * 146097);
  unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t year = static_cast<std::int64_t>(yoe) + era * 400;
  unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  unsigned mp = (5 * doy + 2) / 153;
  unsigned day = doy - (153 * mp + 2) / 5 + 1;
  unsigned month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2) ++year;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02u:%02u:%02u.%07llu", static_cast<long long>(year), month, day,
                secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60, static_cast<unsigned long long>(ticks));
  return buf;
}
