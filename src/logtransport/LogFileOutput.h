// The file output: entries into size-limited, optionally encrypted log files.
//
// Entries are gathered into a record until BatchEnd (or until the record holds 64 KB) and the
// record is sealed and appended with one write. A file that exists already is appended to
// in a new segment, after a cut record at its end (a writer that died) is cut off; a file
// that is not a log file is never written to. When a record would take the file beyond
// maxsize the file is rotated:
//   maxparts = 1: the file is started afresh;
//   maxparts = n: X.log becomes X.1.log, X.1.log becomes X.2.log ... the part that would be
//                 number n is deleted, and a new X.log is started.
// A file that cannot be opened or written makes the output drop entries (and try to open it
// again every few seconds); it never throws and never blocks the program.
#pragma once

#include <cstdint>

#include "logtransport/LogConnections.h"
#include "logtransport/LogFileFormat.h"
#include "logtransport/LogOutput.h"
#include "platform/win32api_types.h"

// The name of part aPart of a rotated log file: aPart 0 is aFileName itself, aPart k > 0
// has ".k" before the extension ("X.log" -> "X.2.log"; without an extension: "X" -> "X.2").
Text LogFilePartName(const Text& aFileName, std::uint32_t aPart);

class TLogFileOutput : public TLogOutput {
 public:
  explicit TLogFileOutput(const TLogConnection& aConnection);
  ~TLogFileOutput() override;
  void Write(const TLogEntryView& aEntry) override;
  void BatchEnd() override { Seal(); }
  void Flush() override;
  void Close() override;

 private:
  bool EnsureOpen();
  bool OpenAppend(bool bTruncate);
  bool SegmentStart();
  void Seal();
  void Rotate();
  void Abandon();
  bool WriteAll(const unsigned char* aData, size_t aSize);
  std::uint64_t TailFind(std::uint64_t aSize);

  TLogConnection FConnection;
  Text FPath;  // with the long-path prefix
  win::HANDLE FHandle;
  bool FClosed = false;
  bool FFailed = false;
  std::uint64_t FRetryTick = 0;
  std::uint64_t FFileSize = 0;
  bool FHaveFileKey = false;
  unsigned char FSalt[logfile::kSaltSize] = {};
  unsigned char FFileKey[logfile::kKeySize] = {};
  logfile::TSegmentCipher FCipher;
  std::uint64_t FSequence = 0;
  logfile::TByteBuffer FRecord;  // record header space, then the payload being gathered
};
