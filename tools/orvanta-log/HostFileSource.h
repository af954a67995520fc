// A log file of the host, read while a writer may still append to it.
#pragma once

#include <sys/types.h>

#include <string>

#include "logtransport/LogByteSource.h"

class THostFileSource : public TLogByteSource {
 public:
  explicit THostFileSource(const std::string& aPath);
  ~THostFileSource() override;
  THostFileSource(const THostFileSource&) = delete;
  THostFileSource& operator=(const THostFileSource&) = delete;
  bool IsOpen() const { return FFd >= 0; }
  // The host's error text when the file could not be opened.
  const std::string& Error() const { return FError; }
  std::uint64_t SizeGet() override;
  bool ReadAt(std::uint64_t aOffset, void* aData, size_t aSize) override;
  // The file at the path is no longer the one open here (it was rotated away or replaced).
  bool Replaced() const;

 private:
  std::string FPath;
  int FFd = -1;
  std::string FError;
  dev_t FDevice = 0;
  ino_t FInode = 0;
};
