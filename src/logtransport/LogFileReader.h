// Reads log files: checks the signature and the key, yields the entries of every whole
// record, and tells a clean end from a damaged or cut-off tail.
//
// Never trusts the file: every length is checked against what is left of it before anything
// is allocated, so that no input makes it crash, hang or allocate more than the file's size.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "logtransport/LogByteSource.h"
#include "logtransport/LogEntry.h"
#include "logtransport/LogFileFormat.h"

enum class TLogReadStatus {
  Reading,      // entries may follow
  End,          // every record was whole and has been read
  NotALogFile,  // no log header at the start
  WrongKey,     // the key does not open the file
  DamagedTail,  // a record that is cut short or not authentic; everything before it was read
};

class TLogFileReader {
 public:
  TLogFileReader(TLogByteSource& aSource, const Text& aKey);
  // The next entry; false once no entry follows (Status tells why).
  bool Next(TLogEntry& aEntry);
  TLogReadStatus Status() const { return FStatus; }
  // Where reading stopped: the end of the last whole record (the damage's offset).
  std::uint64_t Offset() const { return FOffset; }
  // What is wrong, for messages ("record 12 is not authentic" ...); empty at a clean end.
  const std::string& Problem() const { return FProblem; }
  // The damage is a record that runs past the end of the data: a writer may still be
  // writing it (or died while it did).
  bool TailIsCut() const { return FTailCut; }
  // After End or a cut tail: reading goes on from Offset, for data appended since.
  void Resume();

 private:
  bool RecordRead();
  bool SegmentStart(std::uint64_t aSize);
  bool PayloadParse(const unsigned char* p, size_t aSize);
  bool Stop(TLogReadStatus aStatus, const std::string& aProblem, bool bCut = false);

  TLogByteSource& FSource;
  Text FKey;
  TLogReadStatus FStatus = TLogReadStatus::Reading;
  std::string FProblem;
  bool FTailCut = false;
  std::uint64_t FOffset = 0;
  bool FInSegment = false;
  std::uint64_t FSequence = 0;
  logfile::TSegmentCipher FCipher;
  // The last file key derived, by salt and iterations: the derivation is the costly part.
  bool FKeyCached = false;
  unsigned char FKeySalt[logfile::kSaltSize] = {};
  std::uint32_t FKeyIterations = 0;
  unsigned char FFileKey[logfile::kKeySize] = {};
  logfile::TByteBuffer FRecord;
  std::deque<TLogEntry> FEntries;
};

// "2024-05-17 09:41:07.1234567" (UTC) for a time of an entry.
std::string LogTimeText(std::uint64_t aTime);
