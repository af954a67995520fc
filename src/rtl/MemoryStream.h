// A growable block of memory with a position: the runtime's memory stream. The payload units
// keep a container and the plain bytes of one file in it. SetSize allocates exactly once at
// the size given (fresh memory reads as zeros), so a decoder can write straight into
// Memory(). A stream can also view memory it does not own (SetPointer): it is read in place,
// and the first change takes a private copy, so the viewed memory is never written.
#pragma once

#include <cstdint>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TMemoryStream {
 public:
  TMemoryStream();
  ~TMemoryStream();
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  void* Memory() const;
  std::int64_t Size() const;
  // Keeps the first min(old, new) bytes; the position is kept (and may lie past the end).
  // Out of memory raises std::bad_alloc.
  void SetSize(std::int64_t iSize);
  std::int64_t Position() const;
  void SetPosition(std::int64_t iPosition);
  // A negative result position is refused (the position stays); returns the new position.
  std::int64_t Seek(std::int64_t iOffset, TSeekOrigin aOrigin);
  // Up to iCount bytes from the position on; returns how many were copied.
  std::int32_t Read(void* aBuffer, std::int32_t iCount);
  // Writes at the position, growing the stream (a gap before the position reads as zeros).
  std::int32_t Write(const void* aBuffer, std::int32_t iCount);
  void Clear();

  // Views iSize bytes at aMemory (a resource, a mapped file) without copying them; they must
  // stay valid while the stream views them. The position goes to 0. Write, SetSize and Clear
  // leave the view (the first two on a private copy); Memory() of a view is the viewed memory,
  // for reading only.
  void SetPointer(const void* aMemory, std::int64_t iSize);
  // False while the stream views memory it does not own.
  bool OwnsMemory() const { return FOwned; }

 private:
  void CapacitySet(std::int64_t iCapacity);
  unsigned char* FMemory;
  std::int64_t FSize;
  std::int64_t FCapacity;
  std::int64_t FPosition;
  bool FOwned;
};
