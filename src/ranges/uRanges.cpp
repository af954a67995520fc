#include "ranges/uRanges.h"

#include <algorithm>
#include <string>
#include <vector>

#include "params/uMiscLean.h"
#include "diag/uMisc.h"
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

std::unique_ptr<TRanges> TRange::NonAlignedRanges(std::int64_t iBlockSize) const {
  auto result = std::make_unique<TRanges>();
  std::int64_t startMod = Mod(FStart, iBlockSize);
  if (startMod != 0) result->AddByLength(FStart, std::min(FLength, Sub(iBlockSize, startMod)));
  std::int64_t end = EndGet();
  std::int64_t endMod = Mod(Add(end, 1), iBlockSize);
  if (endMod != 0) result->AddByEnd(std::max(FStart, Add(Sub(end, endMod), 1)), end);
  return result;
}

Text TRange::ToString() const {
  return VariantToTextGrouped(Variant(FStart)) + u" - " + VariantToTextGrouped(Variant(EndGet())) + u" (" +
         VariantToTextGrouped(Variant(FLength)) + u")";
}

// --- TRanges ---

namespace {

// The end of a range without raising; false when it does not fit.
bool EndOf(const TRange& r, std::int64_t& aEnd) {
  if (r.Length() == TRange::kHigh) {
    aEnd = TRange::kHigh;
    return true;
  }
  std::int64_t sum;
  if (__builtin_add_overflow(r.Start(), r.Length(), &sum)) return false;
  aEnd = sum - 1;  // sum > Start() >= INT64_MIN for a valid range
  return true;
}

[[noreturn]] void RangeIndexError(int iIdx) {
  throw Exception(u"List index out of bounds (" + T(std::to_string(iIdx)) + u")");
}

// a ends before b starts, with a gap of at least one position (a's end + 1 < b's start).
bool Apart(std::int64_t aEnd, std::int64_t bStart) { return aEnd < bStart && bStart - aEnd > 1; }

}  // namespace

namespace rangesdetail {

std::pair<std::size_t, std::size_t> TRangeStore::Locate(std::size_t i) const {
  std::size_t c = FFingerChunk, base = FFingerBase;
  if (c >= FChunks.size() || i < base) c = 0, base = 0;
  while (i >= base + FChunks[c].Items.size()) base += FChunks[c++].Items.size();
  FFingerChunk = c;
  FFingerBase = base;
  return {c, i - base};
}

TRange& TRangeStore::operator[](std::size_t i) const {
  auto [c, o] = Locate(i);
  return *FChunks[c].Items[o];
}

void TRangeStore::insert(std::size_t i, std::unique_ptr<TRange> aRange) {
  std::size_t c = 0, o = 0;
  if (FChunks.empty()) {
    FChunks.emplace_back();
  } else if (i == FCount) {
    c = FChunks.size() - 1;
    o = FChunks[c].Items.size();
  } else {
    std::tie(c, o) = Locate(i);
  }
  TChunk& chunk = FChunks[c];
  chunk.Starts.insert(chunk.Starts.begin() + static_cast<std::ptrdiff_t>(o), aRange->Start());
  chunk.Items.insert(chunk.Items.begin() + static_cast<std::ptrdiff_t>(o), aRange.release());
  ++FCount;
  if (chunk.Items.size() > kChunk) {
    TChunk upper;
    const auto half = static_cast<std::ptrdiff_t>(kChunk / 2);
    upper.Starts.assign(chunk.Starts.begin() + half, chunk.Starts.end());
    upper.Items.assign(chunk.Items.begin() + half, chunk.Items.end());
    chunk.Starts.resize(kChunk / 2);
    chunk.Items.resize(kChunk / 2);
    FChunks.insert(FChunks.begin() + static_cast<std::ptrdiff_t>(c) + 1, std::move(upper));
  }
  if (c < FFingerChunk || FFingerChunk >= FChunks.size()) FFingerChunk = 0, FFingerBase = 0;
}

void TRangeStore::erase(std::size_t aFirst, std::size_t aLast) {
  while (aFirst < aLast) {
    auto [c, o] = Locate(aFirst);
    TChunk& chunk = FChunks[c];
    std::size_t n = std::min(aLast - aFirst, chunk.Items.size() - o);
    for (std::size_t k = o; k < o + n; ++k) delete chunk.Items[k];
    chunk.Starts.erase(chunk.Starts.begin() + static_cast<std::ptrdiff_t>(o),
                       chunk.Starts.begin() + static_cast<std::ptrdiff_t>(o + n));
    chunk.Items.erase(chunk.Items.begin() + static_cast<std::ptrdiff_t>(o),
                      chunk.Items.begin() + static_cast<std::ptrdiff_t>(o + n));
    FCount -= n;
    aLast -= n;
    if (chunk.Items.empty()) FChunks.erase(FChunks.begin() + static_cast<std::ptrdiff_t>(c));
    FFingerChunk = 0, FFingerBase = 0;
  }
}

void TRangeStore::clear() {
  for (TChunk& chunk : FChunks)
    for (TRange* r : chunk.Items) delete r;
  FChunks.clear();
  FCount = 0;
  FFingerChunk = 0, FFingerBase = 0;
}

std::vector<TRange> TRangeStore::Copies() const {
  std::vector<TRange> out;
  out.reserve(FCount);
  for (const TChunk& chunk : FChunks)
    for (const auto& r : chunk.Items) out.push_back(*r);
  return out;
}

void TRangeStore::Assign(std::vector<std::unique_ptr<TRange>> aRanges) {
  clear();
  for (std::size_t i = 0; i < aRanges.size(); i += kChunk / 2) {
    TChunk chunk;
    std::size_t n = std::min(kChunk / 2, aRanges.size() - i);
    for (std::size_t k = i; k < i + n; ++k) {
      chunk.Starts.push_back(aRanges[k]->Start());
      chunk.Items.push_back(aRanges[k].release());
    }
    FChunks.push_back(std::move(chunk));
  }
  FCount = aRanges.size();
}

void TRangeStore::StartChanged(std::size_t i) {
  auto [c, o] = Locate(i);
  FChunks[c].Starts[o] = FChunks[c].Items[o]->Start();
}

void TRangeStore::StartsRebuild() {
  for (TChunk& chunk : FChunks)
    for (std::size_t k = 0; k < chunk.Items.size(); ++k) chunk.Starts[k] = chunk.Items[k]->Start();
}

std::size_t TRangeStore::CountStartsUpTo(std::int64_t x) const {
  // The last chunk whose first start is <= x holds the answer's boundary.
  auto chunk = std::partition_point(FChunks.begin(), FChunks.end(),
                                    [&](const TChunk& k) { return k.Starts.front() <= x; });
  if (chunk == FChunks.begin()) return 0;
  --chunk;
  std::size_t base = 0;
  for (auto k = FChunks.begin(); k != chunk; ++k) base += k->Items.size();
  return base + static_cast<std::size_t>(std::upper_bound(chunk->Starts.begin(), chunk->Starts.end(), x) -
                                         chunk->Starts.begin());
}

}  // namespace rangesdetail

TRanges::TRanges(const TRange& aRange) { AddRange(aRange); }

TRanges::~TRanges() { Clear(); }

std::unique_ptr<TRanges> TRanges::Copy() const {
  auto result = std::make_unique<TRanges>();
  for (std::size_t i = 0; i < FRanges.size(); ++i) result->AddRange(FRanges[i]);
  return result;
}

bool TRanges::CheckNormal() const {
  std::int64_t prevEnd = 0;
  for (std::size_t i = 0; i < FRanges.size(); ++i) {
    const TRange& r = FRanges[i];
    std::int64_t end;
    if (!r.IsValid() || !EndOf(r, end)) return false;
    if (i > 0 && !Apart(prevEnd, r.Start())) return false;
    prevEnd = end;
  }
  return true;
}

void TRanges::Renormalize() {
  FNormal = CheckNormal();
  if (FNormal) FRanges.StartsRebuild();
}

void TRanges::Insert(std::size_t aIndex, std::int64_t iStart, std::int64_t iEnd) {
  auto r = std::make_unique<TRange>();
  r->SetByEnd(iStart, iEnd);
  FRanges.insert(aIndex, std::move(r));
}

void TRanges::AddByEnd(std::int64_t iStart, std::int64_t iEnd) {
  if (iEnd < iStart) return;
  if (Merged) {
    if (!FNormal) Renormalize();
    if (FNormal) {
      AddByEndNormal(iStart, iEnd);
    } else {
      AddByEndWalk(iStart, iEnd);
      Renormalize();
    }
    return;
  }
  if (!FNormal) {
    AddByEndWalk(iStart, iEnd);
    return;
  }
  // Unmerged on an ordered list: after every range that starts at or before iStart.
  const std::size_t idx = FRanges.CountStartsUpTo(iStart);
  Insert(idx, iStart, iEnd);
  // Still ordered unless the new range overlaps or touches a neighbour.
  if (idx > 0 && !Apart(FRanges[idx - 1].EndGet(), iStart)) FNormal = false;
  if (idx + 1 < FRanges.size() && !Apart(iEnd, FRanges[idx + 1].Start())) FNormal = false;
}

// Merged addition by the plain walk, for a list that is not (known to be) ordered: the
// first range that overlaps or touches widens the new one and is removed, and the walk
// starts again; the last range of the list takes the widened bounds in place.
void TRanges::AddByEndWalk(std::int64_t iStart, std::int64_t iEnd) {
restart:
  for (std::size_t i = 0; i < FRanges.size(); ++i) {
    TRange& r = FRanges[i];
    if (Merged && Add(iEnd, 1) >= r.Start() && r.EndGet() >= Sub(iStart, 1)) {
      iStart = std::min(iStart, r.Start());
      iEnd = std::max(iEnd, r.EndGet());
      if (i + 1 < FRanges.size()) {
        FRanges.erase(i, i + 1);
        goto restart;
      }
      r.SetByEnd(iStart, iEnd);
      return;
    }
    if (iStart < r.Start()) {
      Insert(i, iStart, iEnd);
      return;
    }
  }
  Insert(FRanges.size(), iStart, iEnd);
}

// Merged addition on an ordered list: the ranges that overlap or touch the new one are a
// run [lo, hi), found by binary search on the starts; the first of them takes the joined
// bounds and the others go.
void TRanges::AddByEndNormal(std::int64_t iStart, std::int64_t iEnd) {
  if (FRanges.empty()) {
    Insert(0, iStart, iEnd);
    return;
  }
  const std::int64_t endPlus = Add(iEnd, 1);
  if (endPlus < FRanges.front().Start()) {
    Insert(0, iStart, iEnd);
    return;
  }
  const std::int64_t startMinus = Sub(iStart, 1);
  // hi: the first range starting after iEnd + 1. lo: the first range ending at or after
  // iStart - 1; in an ordered list only the range before that start can still reach it.
  const std::size_t hi = FRanges.CountStartsUpTo(endPlus);
  std::size_t lo = FRanges.CountStartsUpTo(startMinus);
  if (lo > 0 && FRanges[lo - 1].EndGet() >= startMinus) --lo;
  if (lo == hi) {
    Insert(lo, iStart, iEnd);
    return;
  }
  TRange& first = FRanges[lo];
  const std::int64_t start = std::min(iStart, first.Start());
  const std::int64_t end = std::max(iEnd, FRanges[hi - 1].EndGet());
  first.SetByEnd(start, end);
  FRanges.StartChanged(lo);
  FRanges.erase(lo + 1, hi);
}

void TRanges::AddByLength(std::int64_t iStart, std::int64_t iLength) { AddByEnd(iStart, Add(iStart, Sub(iLength, 1))); }
void TRanges::AddRange(const TRange& aRange) { AddByEnd(aRange.Start(), aRange.EndGet()); }
void TRanges::AddRange(const TRange* aRange) { AddRange(Deref(aRange)); }

void TRanges::AddRanges(const TRanges& aRanges) {
  for (const TRange& r : aRanges.FRanges.Copies()) AddRange(r);  // aRanges may be this set
}

void TRanges::AddBlock(std::int64_t aBlock, std::int64_t aBlockSize) { AddByLength(Mul(aBlock, aBlockSize), aBlockSize); }

void TRanges::BlocksAdd(const TIntegerList& aBlocks, std::int32_t aBlockSize) {
  for (int i = 0; i < aBlocks.Count(); ++i) AddBlock(aBlocks.Items(i), aBlockSize);
}

void TRanges::RemoveByEnd(std::int64_t iStart, std::int64_t iEnd) {
  if (iEnd < iStart) return;
  if (FNormal) {
    RemoveByEndNormal(iStart, iEnd);
  } else {
    RemoveByEndWalk(iStart, iEnd);
    Renormalize();
  }
}

void TRanges::RemoveByEndWalk(std::int64_t iStart, std::int64_t iEnd) {
  for (std::size_t i = 0; i < FRanges.size();) {
    TRange& r = FRanges[i];
    const std::int64_t start = r.Start(), end = r.EndGet();
    if (start >= iStart && end <= iEnd) {
      FRanges.erase(i, i + 1);
      continue;
    }
    if (start < iStart && end > iEnd) {
      r.SetByEnd(start, Sub(iStart, 1));
      TRange rest;
      rest.SetByEnd(Add(iEnd, 1), end);
      AddRange(rest);
    } else if (iEnd >= start && iEnd < end) {
      r.SetByEnd(Add(iEnd, 1), end);
    } else if (start < iStart && end >= iStart) {
      r.SetByEnd(start, Sub(iStart, 1));
    }
    ++i;
  }
}

// Removal on an ordered list: the ranges that meet (iStart .. iEnd) are a run [lo, hi); the
// first and the last may keep a part, the rest go.
void TRanges::RemoveByEndNormal(std::int64_t iStart, std::int64_t iEnd) {
  const std::size_t hiAll = FRanges.CountStartsUpTo(iEnd);
  std::size_t lo = FRanges.CountStartsUpTo(iStart);
  if (lo > 0 && FRanges[lo - 1].EndGet() >= iStart) --lo;
  std::size_t hi = hiAll;
  if (lo >= hi) return;
  TRange& first = FRanges[lo];
  if (first.Start() < iStart) {
    const std::int64_t end = first.EndGet();
    if (end > iEnd) {  // split in two
      TRange rest;
      rest.SetByEnd(Add(iEnd, 1), end);
      first.SetByEnd(first.Start(), Sub(iStart, 1));
      Insert(lo + 1, rest.Start(), rest.EndGet());
      return;
    }
    first.SetByEnd(first.Start(), Sub(iStart, 1));
    ++lo;
  }
  if (lo < hi) {
    TRange& last = FRanges[hi - 1];
    const std::int64_t end = last.EndGet();
    if (end > iEnd) {
      last.SetByEnd(Add(iEnd, 1), end);
      FRanges.StartChanged(hi - 1);
      --hi;
    }
  }
  FRanges.erase(lo, hi);
}

void TRanges::RemoveByLength(std::int64_t iStart, std::int64_t iLength) {
  RemoveByEnd(iStart, Add(iStart, Sub(iLength, 1)));
}
void TRanges::RemoveRange(const TRange& aRange) { RemoveByEnd(aRange.Start(), aRange.EndGet()); }
void TRanges::RemoveRange(const TRange* aRange) { RemoveRange(Deref(aRange)); }

void TRanges::RemoveRanges(const TRanges& aRanges) {
  for (const TRange& r : aRanges.FRanges.Copies()) RemoveRange(r);  // aRanges may be this set
}

void TRanges::RemoveBlock(std::int64_t aBlock, std::int64_t aBlockSize) {
  RemoveByLength(Mul(aBlock, aBlockSize), aBlockSize);
}

void TRanges::BlocksRemove(const TIntegerList& aBlocks, std::int32_t aBlockSize) {
  for (int i = 0; i < aBlocks.Count(); ++i) RemoveBlock(aBlocks.Items(i), aBlockSize);
}

void TRanges::RemoveByStart(std::int64_t iStart) {
  for (std::size_t i = 0; i < FRanges.size();)
    if (FRanges[i].Start() == iStart)
      FRanges.erase(i, i + 1);
    else
      ++i;
}

void TRanges::Remove(int iIdx) {
  if (iIdx < 0 || iIdx >= Count()) RangeIndexError(iIdx);
  FRanges.erase(static_cast<std::size_t>(iIdx), static_cast<std::size_t>(iIdx) + 1);
}

void TRanges::Clear() {
  FRanges.clear();
  FNormal = true;
}

PRange TRanges::FRangeGet(int iIdx) {
  if (iIdx < 0 || iIdx >= Count()) RangeIndexError(iIdx);
  FNormal = false;  // the caller may change it
  return &FRanges[static_cast<std::size_t>(iIdx)];
}

TRange TRanges::CopyRange(int iIdx) const {
  if (iIdx < 0 || iIdx >= Count()) RangeIndexError(iIdx);
  return FRanges[static_cast<std::size_t>(iIdx)];
}

std::int64_t TRanges::TotalLength() const {
  std::int64_t sum = 0;
  for (std::size_t i = 0; i < FRanges.size(); ++i) sum = Add(sum, FRanges[i].Length());
  return sum;
}

std::int64_t TRanges::TotalStart() const {
  if (FRanges.empty()) return -1;
  std::int64_t start = FRanges.front().Start();
  for (std::size_t i = 0; i < FRanges.size(); ++i) start = std::min(start, FRanges[i].Start());
  return start;
}

std::int64_t TRanges::TotalEnd() const { return FRanges.empty() ? -1 : FRanges.back().EndGet(); }

PRange TRanges::Longest() {
  int best = -1;
  std::int64_t bestLength = 0;
  for (int i = 0; i < Count(); ++i) {
    std::int64_t length = FRanges[static_cast<std::size_t>(i)].Length();
    if (best < 0 || length > bestLength) best = i, bestLength = length;
  }
  return best < 0 ? nullptr : FRangeGet(best);
}

TRange TRanges::Last() const { return FRanges.empty() ? TRange() : FRanges.back(); }

TRange TRanges::ExtractFirst() {
  if (!Verify(IsNotEmpty())) return TRange();
  TRange r = FRanges.front();
  FRanges.erase(0, 1);
  return r;
}

TRange TRanges::ExtractLast() {
  if (!Verify(IsNotEmpty())) return TRange();
  TRange r = FRanges.back();
  FRanges.erase(FRanges.size() - 1, FRanges.size());
  return r;
}

std::int64_t TRanges::TrimToLength(std::int64_t aTotalLength) {
  std::int64_t sum = 0;
  for (std::size_t k = 0; k < FRanges.size(); ++k) {
    sum = Add(sum, FRanges[k].Length());
    if (sum < aTotalLength) continue;
    FRanges[k].ShrinkBy(Sub(sum, aTotalLength));
    FRanges.erase(k + 1, FRanges.size());
    // A target of 0 or less leaves nothing: no range of zero or negative length stays.
    if (FRanges[k].Length() <= 0) FRanges.erase(k, k + 1);
    return std::max<std::int64_t>(aTotalLength, 0);
  }
  return sum;
}

void TRanges::ShiftAll(std::int64_t aShift) {
  // All or nothing: an overflow leaves every range where it was.
  std::vector<std::int64_t> starts;
  starts.reserve(FRanges.size());
  for (std::size_t i = 0; i < FRanges.size(); ++i) starts.push_back(Add(FRanges[i].Start(), aShift));
  for (std::size_t i = 0; i < FRanges.size(); ++i) FRanges[i].ShiftTo(starts[i]);
  Renormalize();
}

void TRanges::ShiftIfOverlapping() {
  for (std::size_t i = 1; i < FRanges.size(); ++i)
    if (FRanges[i].IsIntersecting(FRanges[i - 1])) FRanges[i].ShiftTo(Add(FRanges[i - 1].EndGet(), 1));
  Renormalize();
}

void TRanges::MergeNearby(std::int64_t aMaximumDistance) {
  for (std::size_t i = 0; i + 1 < FRanges.size();) {
    if (FRanges[i + 1].Start() <= Add(FRanges[i].EndGet(), aMaximumDistance)) {
      FRanges[i].Join(FRanges[i + 1]);
      FRanges.erase(i + 1, i + 2);
    } else {
      ++i;
    }
  }
  Renormalize();
}

std::unique_ptr<TRanges> TRanges::Intersection(const TRange& aRange) const {
  auto result = std::make_unique<TRanges>();
  for (std::size_t i = 0; i < FRanges.size(); ++i) {
    TRange x = FRanges[i].Intersection(aRange);
    if (x.IsValid()) result->AddRange(x);
  }
  return result;
}

std::unique_ptr<TRanges> TRanges::Intersection(const TRange* aRange) const { return Intersection(Deref(aRange)); }

std::unique_ptr<TRanges> TRanges::Intersection(const TRanges& aRanges) const {
  auto result = std::make_unique<TRanges>();
  std::size_t i = 0, j = 0;
  while (i < FRanges.size() && j < aRanges.FRanges.size()) {
    const TRange& a = FRanges[i];
    const TRange& b = aRanges.FRanges[j];
    TRange x = a.Intersection(b);
    if (x.IsValid()) result->AddRange(x);
    if (b.EndGet() < a.EndGet())
      ++j;
    else
      ++i;
  }
  return result;
}

TRange TRanges::IntersectionAsSingleRange(const TRange& aRange) const {
  auto all = Intersection(aRange);
  return all->IsEmpty() ? TRange() : all->CopyRange(0);
}

bool TRanges::IsSame(const TRange* aRange) const {
  return FRanges.size() == 1 && FRanges.front().IsSame(Deref(aRange));
}

bool TRanges::IsSame(const TRanges& aRanges) const {
  if (FRanges.size() != aRanges.FRanges.size()) return false;
  for (std::size_t i = 0; i < FRanges.size(); ++i)
    if (FRanges[i].Start() != aRanges.FRanges[i].Start() || FRanges[i].Length() != aRanges.FRanges[i].Length())
      return false;
  return true;
}

bool TRanges::IsAdjacent(const TRange* aRange) const {
  const TRange& a = Deref(aRange);
  for (std::size_t i = 0; i < FRanges.size(); ++i)
    if (FRanges[i].IsAdjacent(a)) return true;
  return false;
}

void TRanges::AlignByTrimming(std::int64_t iBlockSize) {
  for (std::size_t i = 0; i < FRanges.size(); ++i) FRanges[i].AlignByTrimming(iBlockSize);
  for (std::size_t i = 0; i < FRanges.size();)
    if (!FRanges[i].IsValid())
      FRanges.erase(i, i + 1);
    else
      ++i;
  Renormalize();
}

bool TRanges::AlignByExtending(std::int64_t iBlockSize) {
  bool changed = false;
  for (std::size_t i = 0; i < FRanges.size();) {
    if (FRanges[i].AlignByExtending(iBlockSize)) changed = true;
    if (i > 0 && FRanges[i].IsAdjacent(FRanges[i - 1])) {
      FRanges[i - 1].Join(FRanges[i]);
      FRanges.erase(i, i + 1);
      changed = true;
      continue;
    }
    ++i;
  }
  Renormalize();
  return changed;
}

std::unique_ptr<TRanges> TRanges::NonAlignedRanges(std::int64_t iBlockSize) const {
  auto result = std::make_unique<TRanges>();
  for (std::size_t i = 0; i < FRanges.size(); ++i) result->AddRanges(*FRanges[i].NonAlignedRanges(iBlockSize));
  return result;
}

void TRanges::GetBlockList(TIntegerList& aBlocks, std::int32_t aBlockSize) const {
  for (std::size_t i = 0; i < FRanges.size(); ++i) FRanges[i].GetBlockList(aBlocks, aBlockSize);
}

int TRanges::BlocksUsed(std::int32_t aBlockSize) const {
  // The block numbers touched form one run per range; the runs, sorted and joined, count
  // each block once without listing them.
  std::vector<std::pair<std::int64_t, std::int64_t>> runs;
  for (std::size_t i = 0; i < FRanges.size(); ++i) {
    const TRange& r = FRanges[i];
    if (r.IsValid()) runs.emplace_back(BlockNumber(Div(r.Start(), aBlockSize)), BlockNumber(Div(r.EndGet(), aBlockSize)));
  }
  std::sort(runs.begin(), runs.end());
  std::int64_t count = 0, coveredTo = INT64_MIN;
  for (auto [first, last] : runs) {
    if (last <= coveredTo) continue;
    count += last - std::max(first, coveredTo + 1) + 1;
    coveredTo = last;
  }
  if (count > INT32_MAX) throw EIntOverflow();
  return static_cast<int>(count);
}

void TRanges::ToBlocks(std::int32_t aBlockSize) {
  for (std::size_t i = 0; i < FRanges.size(); ++i) FRanges[i].ToBlocks(aBlockSize);
  Renormalize();
}

void TRanges::FilterByBlocks(const TIntegerList& aBlocks, std::int32_t aBlockSize) {
  TRanges blocks;
  blocks.BlocksAdd(aBlocks, aBlockSize);
  auto inside = Intersection(blocks);
  if (inside->TotalLength() < TotalLength()) {
    Clear();
    AddRanges(*inside);
  }
}

void TRanges::SplitIntoBlocks(std::int32_t aBlockSize) {
  Merged = false;
  if (FNormal) {
    // Ordered and disjoint: every piece lands right after the range it was cut from, so the
    // list is rebuilt in one pass.
    std::vector<std::unique_ptr<TRange>> pieces;
    pieces.reserve(FRanges.size());
    for (std::size_t i = 0; i < FRanges.size(); ++i) {
      std::int64_t start = FRanges[i].Start();
      const std::int64_t end = FRanges[i].EndGet();
      for (;;) {
        const std::int64_t boundary = Sub(Mul(Add(Div(start, aBlockSize), 1), aBlockSize), 1);
        auto piece = std::make_unique<TRange>();
        piece->SetByEnd(start, std::min(boundary, end));
        pieces.push_back(std::move(piece));
        if (boundary >= end) break;
        start = Add(boundary, 1);
      }
    }
    FRanges.Assign(std::move(pieces));
  } else {
    for (std::size_t i = 0; i < FRanges.size(); ++i) {
      TRange& r = FRanges[i];
      const std::int64_t end = r.EndGet();
      const std::int64_t boundary = Sub(Mul(Add(Div(r.Start(), aBlockSize), 1), aBlockSize), 1);
      if (boundary < end) {
        AddByEnd(Add(boundary, 1), end);
        FRanges[i].MoveEndTo(boundary);
      }
    }
  }
  Renormalize();
}

Text TRanges::ToString() const {
  Text result = u"[ Count = " + VariantToText(Variant(std::int64_t(Count()))) + u", Total Length: " +
                VariantToText(Variant(TotalLength())) + u" ]\r\n";
  for (std::size_t i = 0; i < FRanges.size(); ++i) result += FRanges[i].ToString() + u"\r\n";
  return result;
}
