// The compact text form: whatever SetFromString reads, ToString must write so that it reads
// back as the same entries (keys, kinds and values), and the display form must not fail.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "params/uFlexArray.h"
#include "platform/utf.h"

namespace {

// Bytes as code units, so that the ASCII structure is easy to reach; 0xFF and two more
// bytes give any code unit (surrogates included).
Text FuzzText(const std::uint8_t* aData, std::size_t aSize) {
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

[[noreturn]] void Fail(const char* aWhat, const Text& aInput) {
  std::fprintf(stderr, "%s: %s\n", aWhat, TextToUtf8(aInput).c_str());
  std::abort();
}

bool SameEntries(const TFlexArray& a, const TFlexArray& b) {
  if (a.Count() != b.Count()) return false;
  for (int i = 0; i < a.Count(); ++i)
    if (a.GetKeyByIndex(i) != b.GetKeyByIndex(i) || !(a.GetValueByIndex(i) == b.GetValueByIndex(i))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  Text lInput = FuzzText(aData, aSize);
  TFlexArray a;
  a.SetFromString(lInput);  // never fails: malformed entries are skipped
  Text lWritten = a.ToString();
  TFlexArray b;
  b.SetFromString(lWritten);
  if (!SameEntries(a, b)) Fail("round trip changed the entries", lInput);
  if (b.ToString() != lWritten) Fail("second writing differs", lInput);
  if (!a.IsSameAs(b)) Fail("IsSameAs disagrees with the entries", lInput);
  (void)a.AsStringForDisplay();
  return 0;
}
