// Lists of 32-bit integers, used for lists of block numbers.
#pragma once

#include <cstdint>
#include <vector>

#include "rtl/Exception.h"

// An index outside the list.
class EIntegerListError : public Exception {
 public:
  using Exception::Exception;
};

class TIntegerList {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  // Growing fills with 0; a negative count is refused.
  void CountSet(int iCount);
  void Delete(int iIndex);
  void Clear() { FItems.clear(); }

  // Appends and returns the new index.
  int Add(std::int32_t iNumber);
  void AddList(const TIntegerList& aList);
  // Removes every occurrence of every item of aIntegerList.
  void Subtract(const TIntegerList& aIntegerList);
  int IndexOf(std::int32_t aInteger) const;
  // 2147483647 for an empty list.
  std::int32_t Smallest() const;
  // -2147483648 for an empty list.
  std::int32_t Largest() const;
  // "1, 2, 3".
  Text ToString() const;

  std::int32_t Items(int iIndex) const { return FItemGet(iIndex); }
  std::int32_t FItemGet(int iIndex) const;
  void FItemSet(int iIndex, std::int32_t aValue);

 private:
  void IndexCheck(int iIndex) const;
  std::vector<std::int32_t> FItems;
};
