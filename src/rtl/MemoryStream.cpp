#include "rtl/MemoryStream.h"

#include <cstdlib>
#include <cstring>
#include <new>

TMemoryStream::TMemoryStream() : FMemory(nullptr), FSize(0), FCapacity(0), FPosition(0), FOwned(true) {}

TMemoryStream::~TMemoryStream() {
  if (FOwned) std::free(FMemory);
}

void TMemoryStream::SetPointer(const void* aMemory, std::int64_t iSize) {
  if (FOwned) std::free(FMemory);
  FMemory = static_cast<unsigned char*>(const_cast<void*>(aMemory));
  FSize = FCapacity = aMemory && iSize > 0 ? iSize : 0;
  FPosition = 0;
  FOwned = false;
}

void* TMemoryStream::Memory() const { return FMemory; }
std::int64_t TMemoryStream::Size() const { return FSize; }
std::int64_t TMemoryStream::Position() const { return FPosition; }

void TMemoryStream::CapacitySet(std::int64_t iCapacity) {
  if (!FOwned) {
    // Leaving a view: the bytes kept are copied into memory of the stream's own (and the
    // view stays as it was when that memory cannot be had).
    const std::int64_t keep = FSize < iCapacity ? FSize : iCapacity;
    unsigned char* p = nullptr;
    if (iCapacity > 0) {
      if (static_cast<std::uint64_t>(iCapacity) > SIZE_MAX) throw std::bad_alloc();
      p = static_cast<unsigned char*>(std::calloc(static_cast<std::size_t>(iCapacity), 1));
      if (!p) throw std::bad_alloc();
      if (keep > 0) std::memcpy(p, FMemory, static_cast<std::size_t>(keep));
    }
    FMemory = p;
    FCapacity = iCapacity > 0 ? iCapacity : 0;
    FSize = keep > 0 ? keep : 0;
    FOwned = true;
    return;
  }
  if (iCapacity == FCapacity) return;
  if (iCapacity <= 0) {
    std::free(FMemory);
    FMemory = nullptr;
    FCapacity = 0;
    return;
  }
  if (static_cast<std::uint64_t>(iCapacity) > SIZE_MAX) throw std::bad_alloc();
  unsigned char* p;
  if (!FMemory) {
    // calloc: large blocks come as fresh zero pages, touched only where data is written.
    p = static_cast<unsigned char*>(std::calloc(static_cast<std::size_t>(iCapacity), 1));
  } else {
    p = static_cast<unsigned char*>(std::realloc(FMemory, static_cast<std::size_t>(iCapacity)));
    if (p && iCapacity > FCapacity)
      std::memset(p + FCapacity, 0, static_cast<std::size_t>(iCapacity - FCapacity));
  }
  if (!p) throw std::bad_alloc();
  FMemory = p;
  FCapacity = iCapacity;
}

void TMemoryStream::SetSize(std::int64_t iSize) {
  if (iSize < 0) iSize = 0;
  if (!FOwned) CapacitySet(iSize);
  if (iSize > FCapacity || (iSize < FCapacity && iSize == 0)) CapacitySet(iSize);
  // Bytes beyond a shrunk size must read as zeros when the stream grows again (a size of 0
  // has released the memory: there are none).
  if (iSize < FSize && FMemory) std::memset(FMemory + iSize, 0, static_cast<std::size_t>(FSize - iSize));
  FSize = iSize;
}

void TMemoryStream::SetPosition(std::int64_t iPosition) {
  if (iPosition >= 0) FPosition = iPosition;
}

std::int64_t TMemoryStream::Seek(std::int64_t iOffset, TSeekOrigin aOrigin) {
  std::int64_t base = aOrigin == TSeekOrigin::soBeginning ? 0 : aOrigin == TSeekOrigin::soCurrent ? FPosition : FSize;
  std::int64_t target = base + iOffset;
  if (target >= 0) FPosition = target;
  return FPosition;
}

std::int32_t TMemoryStream::Read(void* aBuffer, std::int32_t iCount) {
  if (iCount <= 0 || FPosition >= FSize) return 0;
  std::int64_t n = FSize - FPosition;
  if (n > iCount) n = iCount;
  std::memcpy(aBuffer, FMemory + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  return static_cast<std::int32_t>(n);
}

std::int32_t TMemoryStream::Write(const void* aBuffer, std::int32_t iCount) {
  if (iCount <= 0) return 0;
  std::int64_t end = FPosition + iCount;
  if (!FOwned) CapacitySet(end > FSize ? end : FSize);
  if (end > FCapacity) {
    // Geometric growth, so that appending in pieces stays linear.
    std::int64_t grown = FCapacity + FCapacity / 2;
    CapacitySet(end > grown ? end : grown);
  }
  std::memcpy(FMemory + FPosition, aBuffer, static_cast<std::size_t>(iCount));
  if (end > FSize) FSize = end;
  FPosition = end;
  return iCount;
}

void TMemoryStream::Clear() {
  if (!FOwned) {
    FMemory = nullptr;
    FCapacity = 0;
    FOwned = true;
  }
  CapacitySet(0);
  FSize = 0;
  FPosition = 0;
}
