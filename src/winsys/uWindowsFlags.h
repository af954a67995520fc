// Names of Windows constants for log lines: Describe(3, u"MoveFile") gives
// "0x3 (MOVEFILE_REPLACE_EXISTING, MOVEFILE_COPY_ALLOWED)".
//
// The process-wide registry Constants is filled before main (this unit's tables, then
// uDrovaneHeaders'), only read afterwards, and destroyed at process end.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/win32api_types.h"
#include "rtl/Variant.h"

struct TConstantEntry {
  Text StringName;
  std::uint32_t Value = 0;
};

struct TConstantCategory {
  Text Category;         // without its marker character
  bool IsAFlag = false;  // bit flags; false: an enumeration
  std::vector<TConstantEntry> Entries;
};

class TConstants {
 public:
  std::vector<std::unique_ptr<TConstantCategory>> Categories;

  // One flat list: u">Name" opens a bit-flag category, u"=Name" an enumeration; any other
  // element is a value, and the element after it is its name. A value before any category
  // is a stop.
  void Add(const std::vector<Variant>& aList);
  // The value's name in the category (enumeration) or "0x" + hex + " (" + names + ")"
  // (bit flags); the "UNKNOWN_0x", "UNKNOWN_FLAG_0x" and "No flag names - category not
  // found" forms otherwise. Never fails for an unknown value or category.
  Text Describe(const Variant& aValueAsVariant, TextView aCategoryName) const;

  std::size_t EntryCount() const;

 private:
  // First category named exactly aName, or null.
  const TConstantCategory* CategoryFind(TextView aName) const;
};

extern TConstants* Constants;

// Constants->Describe; "0x" + hex + " (No flag names - category not found)" also when the
// registry does not exist (before start-up or after shut-down).
Text Describe(const Variant& aValueAsVariant, TextView aCategoryName);

// The tables of this unit, registered by its start-up.
void WindowsFlagsRegister(TConstants& aConstants);
