#include "ranges/uRanges.h"

#include <algorithm>
#include <vector>

#include "params/uMiscLean.h"
#include "ranges/uBlocks.h"
#include "rtl/Variant.h"

namespace rangemath {

std::int64_t Add(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_add_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}

std::int64_t Sub(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_sub_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}

std::int64_t Mul(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}

std::int64_t Div(std::int64_t a, std::int64_t b) {
  if (b == 0) throw EDivByZero();
  if (b == -1 && a == INT64_MIN) throw EIntOverflow();
  return a / b;
}

std::int64_t Mod(std::int64_t a, std::int64_t b) {
  if (b == 0) throw EDivByZero();
  if (b == -1) return 0;  // INT64_MIN % -1 traps on x86
  return a % b;
}

}  // namespace rangemath

using namespace rangemath;

namespace {

const TRange& Deref(const TRange* aRange) {
  if (!aRange) throw Exception(u"TRange: no range given");
  return *aRange;
}

// A block number as the 32-bit lists keep it; one that does not fit is an overflow, not a
// different block.
std::int32_t BlockNumber(std::int64_t iBlock) {
  if (iBlock < INT32_MIN || iBlock > INT32_MAX) throw EIntOverflow();
  return static_cast<std::int32_t>(iBlock);
}

}  // namespace

TRange TRange::ByLength(std::int64_t iStart, std::int64_t iLength) {
  TRange r;
  r.SetByLength(iStart, iLength);
  return r;
}

TRange TRange::ByEnd(std::int64_t iStart, std::int64_t iEnd) {
  TRange r;
  r.SetByEnd(iStart, iEnd);
  return r;
}

std::int64_t TRange::EndGet() const {
  if (FLength == kHigh) return kHigh;
  return Sub(Add(FStart, FLength), 1);
}

void TRange::SetByLength(std::int64_t iStart, std::int64_t iLength) {
  FStart = iStart;
  FLength = iLength;
}

void TRange::SetByEnd(std::int64_t iStart, std::int64_t iEnd) {
  std::int64_t len = iEnd == kHigh ? kHigh : Add(Sub(iEnd, iStart), 1);
  FStart = iStart;
  FLength = len;
}

void TRange::SetByEndAndLength(std::int64_t aEnd, std::int64_t aLength) {
  FStart = Add(Sub(aEnd, aLength), 1);
  FLength = aLength;
}

void TRange::SetByRange(const TRange& aRange) { SetByEnd(aRange.FStart, aRange.EndGet()); }
void TRange::SetByRange(const TRange* aRange) { SetByRange(Deref(aRange)); }

void TRange::SetByBlock(std::int32_t iBlock, std::int32_t iBlockSize) { SetByBlocks(iBlock, iBlock, iBlockSize); }

void TRange::SetByBlocks(std::int32_t iStartBlock, std::int32_t iEndBlock, std::int32_t iBlockSize) {
  // 32-bit factors: the 64-bit products cannot overflow.
  std::int64_t start = static_cast<std::int64_t>(iStartBlock) * iBlockSize;
  std::int64_t end = (static_cast<std::int64_t>(iEndBlock) + 1) * iBlockSize - 1;
  SetByEnd(start, end);
}

void TRange::SetByBlockList(const TIntegerList& aBlockList, std::int32_t iBlockSize) {
  if (aBlockList.Count() == 0) {
    Invalidate();
    return;
  }
  SetByBlocks(aBlockList.Smallest(), aBlockList.Largest(), iBlockSize);
}

void TRange::MoveEndTo(std::int64_t aEnd) { FLength = Add(Sub(aEnd, FStart), 1); }

void TRange::MoveStartTo(std::int64_t aStart) {
  FLength = Sub(Add(FStart, FLength), aStart);
  FStart = aStart;
}

void TRange::MoveStartBy(std::int64_t aOffset) { MoveStartTo(Add(FStart, aOffset)); }
void TRange::MoveEndBy(std::int64_t aOffset) { MoveEndTo(Add(EndGet(), aOffset)); }
void TRange::Shift(std::int64_t iOffset) { FStart = Add(FStart, iOffset); }

TRange TRange::ShiftedBy(std::int64_t iOffset) const {
  TRange r = *this;
  r.Shift(iOffset);
  return r;
}

void TRange::ExtendBy(std::int64_t aLength) { FLength = Add(FLength, aLength); }
void TRange::ShrinkBy(std::int64_t aLength) { FLength = Sub(FLength, aLength); }

void TRange::ExtendByFromStartBackwards(std::int64_t aLength) {
  // Computed on a copy so that an overflow in the second step leaves the range as it was.
  TRange r = *this;
  r.Shift(Sub(0, aLength));
  r.ExtendBy(aLength);
  *this = r;
}

void TRange::ShrinkByFromStartForwards(std::int64_t aLength) {
  TRange r = *this;
  r.Shift(aLength);
  r.ShrinkBy(aLength);
  *this = r;
}

bool TRange::Trim(std::int64_t iLength) {
  if (iLength >= FLength) return false;
  FLength = iLength <= 0 ? 0 : iLength;
  return true;
}

void TRange::TranslateUsing(const TRange& aSource, const TRange& aTarget) {
  FStart = Add(Sub(FStart, aSource.FStart), aTarget.FStart);
}

TRange TRange::TranslatedUsing(const TRange& aSource, const TRange& aTarget) const {
  TRange r = *this;
  r.TranslateUsing(aSource, aTarget);
  return r;
}

bool TRange::IsSame(const TRange* aRange) const { return IsSame(Deref(aRange)); }
bool TRange::IsSame(const TRange& aRange) const {
  return FStart == aRange.FStart && EndGet() == aRange.EndGet();
}

bool TRange::IsSameOrSubset(const TRange& aRange) const {
  return FStart >= aRange.FStart && EndGet() <= aRange.EndGet();
}

bool TRange::IsIntersecting(const TRange* aRange) const { return IsIntersecting(Deref(aRange)); }
bool TRange::IsIntersecting(const TRange& aRange) const {
  return EndGet() >= aRange.FStart && aRange.EndGet() >= FStart;
}

bool TRange::IsRightBefore(const TRange& aRange) const { return Add(EndGet(), 1) == aRange.FStart; }
bool TRange::IsRightAfter(const TRange& aRange) const { return Add(aRange.EndGet(), 1) == FStart; }

bool TRange::IsBeginningOf(const TRange& aRange) const {
  return FStart == aRange.FStart && FLength < aRange.FLength;
}

bool TRange::IsAlignedStart(std::int64_t aBlockSize) const { return Mod(FStart, aBlockSize) == 0; }
bool TRange::IsAlignedEnd(std::int64_t aBlockSize) const { return Mod(Add(EndGet(), 1), aBlockSize) == 0; }

void TRange::Intersect(const TRange* aRangeA, const TRange* aRangeB) {
  const TRange a = Deref(aRangeA);
  const TRange b = aRangeB ? *aRangeB : *this;
  Intersect(a, b);
}

void TRange::Intersect(const TRange& aRangeA, const TRange& aRangeB) {
  const TRange a = aRangeA, b = aRangeB;  // either may be this range
  if (!a.IsIntersecting(b)) {
    Invalidate();
    return;
  }
  SetByEnd(std::max(a.FStart, b.FStart), std::min(a.EndGet(), b.EndGet()));
}

TRange TRange::Intersection(const TRange* aRange) const { return Intersection(Deref(aRange)); }
TRange TRange::Intersection(const TRange& aRange) const {
  TRange r = *this;
  r.Intersect(*this, aRange);
  return r;
}

void TRange::Join(const TRange* aRange) { Join(Deref(aRange)); }
void TRange::Join(const TRange& aRange) {
  if (!IsValid()) {
    *this = aRange;
    return;
  }
  SetByEnd(std::min(FStart, aRange.FStart), std::max(EndGet(), aRange.EndGet()));
}

void TRange::CutOffRange(const TRange* aRangeToCutOff) { CutOffRange(Deref(aRangeToCutOff)); }
void TRange::CutOffRange(const TRange& aRangeToCutOff) {
  const TRange c = aRangeToCutOff;
  if (!IsIntersecting(c)) return;
  if (FStart < c.FStart && c.EndGet() < EndGet())
    throw Exception(u"Splitting TRange into 2 Ranges, use TRanges class instead");
  if (FStart < c.FStart)
    MoveEndTo(Sub(c.FStart, 1));
  else
    MoveStartTo(Add(c.EndGet(), 1));
}

TRange TRange::CopyBlock(std::int64_t iBlock, std::int64_t iBlockSize) const {
  TRange block;
  block.SetByEnd(Mul(iBlock, iBlockSize), Sub(Mul(Add(iBlock, 1), iBlockSize), 1));
  return Intersection(block);
}

std::int32_t TRange::FirstBlock(std::int32_t iBlockSize) const {
  return static_cast<std::int32_t>(Div(FStart, iBlockSize));
}

void TRange::ToBlocks(std::int32_t aBlockSize) {
  if (!IsValid()) return;
  SetByEnd(Div(FStart, aBlockSize), Div(EndGet(), aBlockSize));
}

void TRange::GetBlockList(TIntegerList& aBlocks, std::int32_t aBlockSize) const {
  if (!IsValid()) return;
  std::int32_t first = BlockNumber(Div(FStart, aBlockSize));
  std::int32_t last = BlockNumber(Div(EndGet(), aBlockSize));
  // Sorted copy of what the list already holds, so that a long range costs n log n, not n².
  std::vector<std::int32_t> present;
  present.reserve(static_cast<std::size_t>(aBlocks.Count()));
  for (int i = 0; i < aBlocks.Count(); ++i) present.push_back(aBlocks.Items(i));
  std::sort(present.begin(), present.end());
  for (std::int64_t b = first; b <= last; ++b) {
    auto n = static_cast<std::int32_t>(b);
    if (!std::binary_search(present.begin(), present.end(), n)) aBlocks.Add(n);
  }
}

bool TRange::Align(std::int64_t iBlockSize, bool bExtend) {
  bool result = false;
  TRange r = *this;  // unchanged on an overflow or a zero block size
  if (Mod(r.FStart, iBlockSize) != 0) {
    r.MoveStartTo(Sub(r.FStart, Mod(r.FStart, iBlockSize)));
    if (!bExtend) r.MoveStartTo(Add(r.FStart, iBlockSize));
    result = true;
  }
  std::int64_t endMod = Mod(Add(r.EndGet(), 1), iBlockSize);
  if (endMod != 0) {
    r.MoveEndTo(Sub(r.EndGet(), endMod));
    if (bExtend) r.MoveEndTo(Add(r.EndGet(), iBlockSize));
    result = true;
  }
  *this = r;
  return result;
}

TRange TRange::AlignedByTrimming(std::int64_t aBlockSize) const {
  TRange r = *this;
  r.AlignByTrimming(aBlockSize);
  return r;
}

TRange TRange::AlignedByExtending(std::int64_t aBlockSize) const {
  TRange r = *this;
  r.AlignByExtending(aBlockSize);
  return r;
}

bool TRange::TrimToBlocks(std::int32_t iBlocks, std::int32_t iBlockSize) {
  // The blocks touched are first..last; counted instead of listed, which gives the same
  // answer as listing them without building a list as long as the range.
  std::int64_t count = 0, first = 0;
  if (IsValid()) {
    first = BlockNumber(Div(FStart, iBlockSize));
    count = BlockNumber(Div(EndGet(), iBlockSize)) - first + 1;
  }
  if (count <= iBlocks) return false;
  TIntegerList kept;
  for (std::int64_t b = first; b < first + std::max<std::int64_t>(iBlocks, 0); ++b)
    kept.Add(static_cast<std::int32_t>(b));
  TRange r = *this;
  r.SetByBlockList(kept, iBlockSize);
  r.Intersect(r, *this);
  *this = r;
  return true;
}

Text TRange::ToString() const {
  return VariantToTextGrouped(Variant(FStart)) + u" - " + VariantToTextGrouped(Variant(EndGet())) + u" (" +
         VariantToTextGrouped(Variant(FLength)) + u")";
}
