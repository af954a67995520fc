#include "ranges/uBlocks.h"

#include <algorithm>
#include <string>
#include <unordered_set>

void TIntegerList::IndexCheck(int iIndex) const {
  if (iIndex < 0 || iIndex >= Count())
    throw EIntegerListError(u"List index out of bounds (" + T(std::to_string(iIndex)) + u")");
}

void TIntegerList::CountSet(int iCount) {
  if (iCount < 0) throw EIntegerListError(u"List count out of bounds (" + T(std::to_string(iCount)) + u")");
  FItems.resize(static_cast<std::size_t>(iCount), 0);
}

void TIntegerList::Delete(int iIndex) {
  IndexCheck(iIndex);
  FItems.erase(FItems.begin() + iIndex);
}

int TIntegerList::Add(std::int32_t iNumber) {
  FItems.push_back(iNumber);
  return Count() - 1;
}

void TIntegerList::AddList(const TIntegerList& aList) {
  // A copy first: aList may be this list.
  std::vector<std::int32_t> items = aList.FItems;
  FItems.insert(FItems.end(), items.begin(), items.end());
}

void TIntegerList::Subtract(const TIntegerList& aIntegerList) {
  std::unordered_set<std::int32_t> gone(aIntegerList.FItems.begin(), aIntegerList.FItems.end());
  FItems.erase(std::remove_if(FItems.begin(), FItems.end(), [&](std::int32_t v) { return gone.count(v) != 0; }),
               FItems.end());
}

int TIntegerList::IndexOf(std::int32_t aInteger) const {
  auto it = std::find(FItems.begin(), FItems.end(), aInteger);
  return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

std::int32_t TIntegerList::Smallest() const {
  std::int32_t r = INT32_MAX;
  for (std::int32_t v : FItems) r = std::min(r, v);
  return r;
}

std::int32_t TIntegerList::Largest() const {
  std::int32_t r = INT32_MIN;
  for (std::int32_t v : FItems) r = std::max(r, v);
  return r;
}

Text TIntegerList::ToString() const {
  std::string s;
  for (std::size_t i = 0; i < FItems.size(); ++i) {
    if (i) s += ", ";
    s += std::to_string(FItems[i]);
  }
  return T(s);
}

std::int32_t TIntegerList::FItemGet(int iIndex) const {
  IndexCheck(iIndex);
  return FItems[static_cast<std::size_t>(iIndex)];
}

void TIntegerList::FItemSet(int iIndex, std::int32_t aValue) {
  IndexCheck(iIndex);
  FItems[static_cast<std::size_t>(iIndex)] = aValue;
}
