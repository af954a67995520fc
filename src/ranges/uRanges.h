// Integer ranges: a stretch of 64-bit positions (start and length) with block alignment.
//
// Every sum and difference is checked: an overflow raises EIntOverflow instead of wrapping,
// so a range never silently turns into a different one. A zero block size raises EDivByZero.
#pragma once

#include <cstdint>

#include "rtl/Exception.h"

class TIntegerList;

// A 64-bit sum, difference or product that does not fit.
class EIntOverflow : public Exception {
 public:
  EIntOverflow() : Exception(u"Integer overflow") {}
  using Exception::Exception;
};

// A division or remainder by zero (a block size of 0).
class EDivByZero : public Exception {
 public:
  EDivByZero() : Exception(u"Division by zero") {}
  using Exception::Exception;
};

// Checked 64-bit arithmetic shared by the range units.
namespace rangemath {
std::int64_t Add(std::int64_t a, std::int64_t b);
std::int64_t Sub(std::int64_t a, std::int64_t b);
std::int64_t Mul(std::int64_t a, std::int64_t b);
// Signed, truncating towards zero.
std::int64_t Div(std::int64_t a, std::int64_t b);
std::int64_t Mod(std::int64_t a, std::int64_t b);
}  // namespace rangemath

struct TRange;
using PRange = TRange*;

struct TRange {
  // Stands for a range that runs to the last representable position.
  static constexpr std::int64_t kHigh = INT64_MAX;

  constexpr TRange() = default;
  static TRange ByLength(std::int64_t iStart, std::int64_t iLength);
  static TRange ByEnd(std::int64_t iStart, std::int64_t iEnd);

  std::int64_t Start() const { return FStart; }
  std::int64_t Length() const { return FLength; }
  // Inclusive: (start 10, length 5) ends at 14.
  std::int64_t EndGet() const;

  // Setting; each overwrites both fields.
  void SetByLength(std::int64_t iStart, std::int64_t iLength);
  void SetByEnd(std::int64_t iStart, std::int64_t iEnd);
  void SetByEndAndLength(std::int64_t aEnd, std::int64_t aLength);
  void SetByRange(const TRange& aRange);
  void SetByRange(const TRange* aRange);
  void SetByBlock(std::int32_t iBlock, std::int32_t iBlockSize);
  void SetByBlocks(std::int32_t iStartBlock, std::int32_t iEndBlock, std::int32_t iBlockSize);
  void SetByBlockList(const TIntegerList& aBlockList, std::int32_t iBlockSize);
  TRange Copy() const { return *this; }
  void Invalidate() { FLength = 0; }

  // Moving and resizing.
  void MoveEndTo(std::int64_t aEnd);
  void MoveStartTo(std::int64_t aStart);
  void MoveStartBy(std::int64_t aOffset);
  void MoveEndBy(std::int64_t aOffset);
  void ShiftTo(std::int64_t aStartNew) { FStart = aStartNew; }
  void Shift(std::int64_t iOffset);
  TRange ShiftedBy(std::int64_t iOffset) const;
  void ExtendBy(std::int64_t aLength);
  void ShrinkBy(std::int64_t aLength);
  void ExtendByFromStartBackwards(std::int64_t aLength);
  void ShrinkByFromStartForwards(std::int64_t aLength);
  bool Trim(std::int64_t iLength);
  void TranslateUsing(const TRange& aSource, const TRange& aTarget);
  TRange TranslatedUsing(const TRange& aSource, const TRange& aTarget) const;

  // Relations; "this" is a, the argument b.
  bool IsValid() const { return FLength > 0; }
  bool IsNotValid() const { return !IsValid(); }
  bool IsSame(const TRange* aRange) const;
  bool IsSame(const TRange& aRange) const;
  bool IsSameOrSubset(const TRange& aRange) const;
  bool IsIntersecting(const TRange* aRange) const;
  bool IsIntersecting(const TRange& aRange) const;
  bool IsNotIntersecting(const TRange& aRange) const { return !IsIntersecting(aRange); }
  bool IsRightBefore(const TRange& aRange) const;
  bool IsRightAfter(const TRange& aRange) const;
  bool IsAdjacent(const TRange& aRange) const { return IsRightBefore(aRange) || IsRightAfter(aRange); }
  bool IsBeginningOf(const TRange& aRange) const;
  bool IsAlignedStart(std::int64_t aBlockSize) const;
  bool IsAlignedEnd(std::int64_t aBlockSize) const;
  bool IsAligned(std::int64_t iBlockSize) const { return IsAlignedStart(iBlockSize) && IsAlignedEnd(iBlockSize); }

  // Combining. A null aRangeB stands for this range itself.
  void Intersect(const TRange* aRangeA, const TRange* aRangeB = nullptr);
  void Intersect(const TRange& aRangeA, const TRange& aRangeB);
  TRange Intersection(const TRange* aRange) const;
  TRange Intersection(const TRange& aRange) const;
  void Join(const TRange* aRange);
  void Join(const TRange& aRange);
  void CutOffRange(const TRange* aRangeToCutOff);
  void CutOffRange(const TRange& aRangeToCutOff);
  TRange CopyBlock(std::int64_t iBlock, std::int64_t iBlockSize) const;

  // Blocks: block n of size s covers n * s to (n + 1) * s - 1.
  std::int32_t FirstBlock(std::int32_t iBlockSize) const;
  void ToBlocks(std::int32_t aBlockSize);
  void GetBlockList(TIntegerList& aBlocks, std::int32_t aBlockSize) const;
  bool Align(std::int64_t iBlockSize, bool bExtend);
  bool AlignByTrimming(std::int64_t iBlockSize) { return Align(iBlockSize, false); }
  bool AlignByExtending(std::int64_t iBlockSize) { return Align(iBlockSize, true); }
  TRange AlignedByTrimming(std::int64_t aBlockSize) const;
  TRange AlignedByExtending(std::int64_t aBlockSize) const;
  bool TrimToBlocks(std::int32_t iBlocks, std::int32_t iBlockSize);

  // "1,024 - 2,047 (1,024)".
  Text ToString() const;

  // Equal starts and equal ends.
  friend bool operator==(const TRange& a, const TRange& b) { return a.IsSame(b); }

 private:
  std::int64_t FStart = 0;
  std::int64_t FLength = 0;
};
