// Where a log reader takes its bytes from: a file through the platform, or memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32api_types.h"

class TLogByteSource {
 public:
  virtual ~TLogByteSource() = default;
  // The size now; it may grow while a writer appends.
  virtual std::uint64_t SizeGet() = 0;
  // Exactly aSize bytes at aOffset; false when they cannot all be read.
  virtual bool ReadAt(std::uint64_t aOffset, void* aData, size_t aSize) = 0;
};

class TLogMemorySource : public TLogByteSource {
 public:
  TLogMemorySource(const void* aData, size_t aSize) : FData(static_cast<const unsigned char*>(aData)), FSize(aSize) {}
  std::uint64_t SizeGet() override { return FSize; }
  bool ReadAt(std::uint64_t aOffset, void* aData, size_t aSize) override;

 private:
  const unsigned char* FData;
  size_t FSize;
};

// A file opened for reading while a writer may still hold it (the long-path prefix is added).
class TLogWinFileSource : public TLogByteSource {
 public:
  explicit TLogWinFileSource(const Text& aPath);
  ~TLogWinFileSource() override;
  TLogWinFileSource(const TLogWinFileSource&) = delete;
  TLogWinFileSource& operator=(const TLogWinFileSource&) = delete;
  // False when the file could not be opened (the last error tells why).
  bool IsOpen() const;
  std::uint64_t SizeGet() override;
  bool ReadAt(std::uint64_t aOffset, void* aData, size_t aSize) override;

 private:
  win::HANDLE FHandle;
};
