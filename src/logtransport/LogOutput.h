// An output of the transport: where entries go (the log console's pipe, a log file).
#pragma once

#include "logtransport/LogEntry.h"

class TLogOutput {
 public:
  TLogOutput() = default;
  TLogOutput(const TLogOutput&) = delete;
  TLogOutput& operator=(const TLogOutput&) = delete;
  virtual ~TLogOutput() = default;

  // Takes one entry; an output may hold it until BatchEnd. Never throws, never blocks for
  // long: an output that cannot write drops what it cannot write.
  virtual void Write(const TLogEntryView& aEntry) = 0;
  // What was written so far goes out now (a file output seals its record).
  virtual void BatchEnd() {}
  // Everything taken so far is written and on its way to the disk.
  virtual void Flush() = 0;
  // Flush, then release the file or pipe. Safe to call twice; entries after it are dropped.
  virtual void Close() = 0;
};
