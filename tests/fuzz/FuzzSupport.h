// Pieces the text fuzz targets share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "params/uFlexArray.h"
#include "platform/utf.h"

// Bytes as code units, so that the ASCII structure is easy to reach; 0xFF and two more
// bytes give any code unit (surrogates included).
inline Text FuzzText(const std::uint8_t* aData, std::size_t aSize) {
  Text t;
  t.reserve(aSize);
  for (std::size_t i = 0; i < aSize; ++i) {
    if (aData[i] == 0xFF && i + 2 < aSize) {
      t.push_back(static_cast<char16_t>(aData[i + 1] | (aData[i + 2] << 8)));
      i += 2;
    } else {
      t.push_back(aData[i]);
    }
  }
  return t;
}

// A broken property: says which, with the input, and ends the run as a crash.
[[noreturn]] inline void Fail(const char* aWhat, const Text& aInput) {
  std::fprintf(stderr, "%s: %s\n", aWhat, TextToUtf8(aInput).c_str());
  std::abort();
}

// The same keys, kinds and values, in the same order.
inline bool SameEntries(const TFlexArray& a, const TFlexArray& b) {
  if (a.Count() != b.Count()) return false;
  for (int i = 0; i < a.Count(); ++i)
    if (a.GetKeyByIndex(i) != b.GetKeyByIndex(i) || !(a.GetValueByIndex(i) == b.GetValueByIndex(i))) return false;
  return true;
}
