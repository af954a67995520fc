// Integer ranges: a stretch of 64-bit positions (start and length) with block alignment.
//
// Every sum and difference is checked: an overflow raises EIntOverflow instead of wrapping,
// so a range never silently turns into a different one. A zero block size raises EDivByZero.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "rtl/Exception.h"

class TIntegerList;
class TRanges;

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
  // The pieces that do not fill whole blocks: the part before the first block boundary and
  // the part after the last one (the range itself when it lies inside one block).
  std::unique_ptr<TRanges> NonAlignedRanges(std::int64_t iBlockSize) const;

  // "1,024 - 2,047 (1,024)".
  Text ToString() const;

  // Equal starts and equal ends.
  friend bool operator==(const TRange& a, const TRange& b) { return a.IsSame(b); }

 private:
  std::int64_t FStart = 0;
  std::int64_t FLength = 0;
};

namespace rangesdetail {

// The list of a TRanges: owned range records in chunks of at most kChunk, with the starts
// kept beside them, so that an insertion moves at most one chunk and a search by start reads
// contiguous numbers. Indexes are over the whole list; walking it in order is cheap.
class TRangeStore {
 public:
  static constexpr std::size_t kChunk = 512;

  TRangeStore() = default;
  TRangeStore(const TRangeStore&) = delete;
  TRangeStore& operator=(const TRangeStore&) = delete;
  ~TRangeStore() { clear(); }

  std::size_t size() const { return FCount; }
  bool empty() const { return FCount == 0; }
  TRange& operator[](std::size_t i) const;
  TRange& front() const { return (*this)[0]; }
  TRange& back() const { return (*this)[FCount - 1]; }
  void insert(std::size_t i, std::unique_ptr<TRange> aRange);
  // Removes [aFirst, aLast).
  void erase(std::size_t aFirst, std::size_t aLast);
  void clear();
  std::vector<TRange> Copies() const;
  void Assign(std::vector<std::unique_ptr<TRange>> aRanges);

  // The starts beside the records are trusted only while the owner says so; it records a
  // changed start with StartChanged or rebuilds all with StartsRebuild.
  void StartChanged(std::size_t i);
  void StartsRebuild();
  // The number of ranges whose start is <= x, for a list sorted by start.
  std::size_t CountStartsUpTo(std::int64_t x) const;

 private:
  struct TChunk {
    std::vector<std::int64_t> Starts;
    // Owned; raw pointers so that inserting moves them as plain words.
    std::vector<TRange*> Items;
  };
  // Chunk and offset of index i; remembers where the last lookup ended.
  std::pair<std::size_t, std::size_t> Locate(std::size_t i) const;
  std::vector<TChunk> FChunks;
  std::size_t FCount = 0;
  mutable std::size_t FFingerChunk = 0, FFingerBase = 0;
};

}  // namespace rangesdetail

// A sorted list of ranges. Merged (the default) keeps the ranges disjoint and not touching:
// an added range is joined with every range it overlaps or touches. Unmerged, added ranges
// stay separate, sorted by start (an equal start goes after the existing ones).
//
// Each range is allocated on its own, so a PRange from Ranges() stays valid until that range
// is removed. Sets returned by Copy, Intersection and NonAlignedRanges belong to the caller.
class TRanges {
 public:
  TRanges() = default;
  explicit TRanges(const TRange& aRange);
  TRanges(const TRanges&) = delete;
  TRanges& operator=(const TRanges&) = delete;
  ~TRanges();

  bool Merged = true;

  std::unique_ptr<TRanges> Copy() const;

  void AddByEnd(std::int64_t iStart, std::int64_t iEnd);
  void AddByLength(std::int64_t iStart, std::int64_t iLength);
  void AddRange(const TRange& aRange);
  void AddRange(const TRange* aRange);
  void AddRanges(const TRanges& aRanges);
  void AddBlock(std::int64_t aBlock, std::int64_t aBlockSize);
  void BlocksAdd(const TIntegerList& aBlocks, std::int32_t aBlockSize);

  void RemoveByEnd(std::int64_t iStart, std::int64_t iEnd);
  void RemoveByLength(std::int64_t iStart, std::int64_t iLength);
  void RemoveRange(const TRange& aRange);
  void RemoveRange(const TRange* aRange);
  void RemoveRanges(const TRanges& aRanges);
  void RemoveBlock(std::int64_t aBlock, std::int64_t aBlockSize);
  void BlocksRemove(const TIntegerList& aBlocks, std::int32_t aBlockSize);
  // Every range whose start is iStart.
  void RemoveByStart(std::int64_t iStart);
  void Remove(int iIdx);
  void Clear();

  int Count() const { return static_cast<int>(FRanges.size()); }
  bool IsEmpty() const { return FRanges.empty(); }
  bool IsNotEmpty() const { return !FRanges.empty(); }
  // Range iIdx, to read or change in place. An index outside the list raises.
  PRange FRangeGet(int iIdx);
  PRange Ranges(int iIdx) { return FRangeGet(iIdx); }
  TRange CopyRange(int iIdx) const;

  std::int64_t TotalLength() const;
  // The smallest start; -1 for an empty set.
  std::int64_t TotalStart() const;
  // The end of the last range; -1 for an empty set.
  std::int64_t TotalEnd() const;
  // The first range of the greatest length; null for an empty set.
  PRange Longest();
  // A copy of the last range (an empty range for an empty set).
  TRange Last() const;
  // Copy of the first or last range, removed from the set. An empty set is reported (Verify)
  // and gives an empty range.
  TRange ExtractFirst();
  TRange ExtractLast();

  // Keeps the first aTotalLength positions, in list order; returns the new total length.
  std::int64_t TrimToLength(std::int64_t aTotalLength);
  void ShiftAll(std::int64_t aShift);
  // A range that intersects the one before it is moved to start right after it.
  void ShiftIfOverlapping();
  // Joins neighbours whose gap leaves next start <= end + aMaximumDistance.
  void MergeNearby(std::int64_t aMaximumDistance);

  // The valid intersections of every range with aRange.
  std::unique_ptr<TRanges> Intersection(const TRange& aRange) const;
  std::unique_ptr<TRanges> Intersection(const TRange* aRange) const;
  // Both sets sorted and disjoint (merged).
  std::unique_ptr<TRanges> Intersection(const TRanges& aRanges) const;
  // The first range of Intersection(aRange), or an empty range.
  TRange IntersectionAsSingleRange(const TRange& aRange) const;

  // One range, the same as aRange.
  bool IsSame(const TRange* aRange) const;
  // Equal counts, and equal starts and lengths index by index.
  bool IsSame(const TRanges& aRanges) const;
  bool IsAdjacent(const TRange* aRange) const;

  // Ranges trimmed to whole blocks; those left empty are removed.
  void AlignByTrimming(std::int64_t iBlockSize);
  // Ranges extended to whole blocks, each joined with the one before it when adjacent.
  // True when any range changed.
  bool AlignByExtending(std::int64_t iBlockSize);
  std::unique_ptr<TRanges> NonAlignedRanges(std::int64_t iBlockSize) const;

  void GetBlockList(TIntegerList& aBlocks, std::int32_t aBlockSize) const;
  // The number of distinct blocks touched.
  int BlocksUsed(std::int32_t aBlockSize) const;
  // TRange::ToBlocks of every range; no merging afterwards.
  void ToBlocks(std::int32_t aBlockSize);
  // Keeps the parts of the ranges that lie in the listed blocks.
  void FilterByBlocks(const TIntegerList& aBlocks, std::int32_t aBlockSize);
  // Cuts every range at block boundaries; leaves Merged false.
  void SplitIntoBlocks(std::int32_t aBlockSize);

  // "[ Count = 2, Total Length: 15 ]" and one line per range, each line ended by CR LF.
  Text ToString() const;

 private:
  // True when the list is known to be sorted, disjoint and not touching: the merged
  // operations then find their place by binary search. Anything that may break the order
  // (an unmerged addition, a range handed out for writing, shifting) clears it, and the
  // next merged addition checks the list again.
  bool FNormal = true;
  rangesdetail::TRangeStore FRanges;

  void AddByEndWalk(std::int64_t iStart, std::int64_t iEnd);
  void AddByEndNormal(std::int64_t iStart, std::int64_t iEnd);
  void RemoveByEndWalk(std::int64_t iStart, std::int64_t iEnd);
  void RemoveByEndNormal(std::int64_t iStart, std::int64_t iEnd);
  bool CheckNormal() const;
  // FNormal from a check of the list; the starts beside the records are rebuilt when it holds.
  void Renormalize();
  void Insert(std::size_t aIndex, std::int64_t iStart, std::int64_t iEnd);
};
