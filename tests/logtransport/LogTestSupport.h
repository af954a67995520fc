// Shared by the log transport's tests: reading a log file back whole.
#pragma once

#include <string>
#include <vector>

#include "logtransport/LogFileReader.h"

struct TLogReadResult {
  std::vector<TLogEntry> Entries;
  TLogReadStatus Status = TLogReadStatus::Reading;
  std::uint64_t Offset = 0;
  std::string Problem;
};

inline TLogReadResult LogRead(TLogByteSource& aSource, const Text& aKey) {
  TLogReadResult r;
  TLogFileReader reader(aSource, aKey);
  TLogEntry e;
  while (reader.Next(e)) r.Entries.push_back(e);
  r.Status = reader.Status();
  r.Offset = reader.Offset();
  r.Problem = reader.Problem();
  return r;
}

inline TLogReadResult LogFileRead(const Text& aPath, const Text& aKey) {
  TLogWinFileSource source(aPath);
  return LogRead(source, aKey);
}

inline TLogReadResult LogBytesRead(const std::string& aBytes, const Text& aKey) {
  TLogMemorySource source(aBytes.data(), aBytes.size());
  return LogRead(source, aKey);
}
