// The compact text form: whatever SetFromString reads, ToString must write so that it reads
// back as the same entries (keys, kinds and values), and the display form must not fail.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "params/uFlexArray.h"
#include "FuzzSupport.h"
#include "platform/utf.h"

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
