// Command lines: splitting and grouping take any text; grouping either succeeds or stops
// with "Empty commands are not yet supported"; a grouped array written back as a command
// line must read back as the same pairs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "params/uAppStartParams.h"
#include "FuzzSupport.h"
#include "platform/utf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  Text lInput = FuzzText(aData, aSize);
  for (const Text& lArg : CommandLineSplit(lInput)) {
    if (lArg.empty()) Fail("empty argument in the list", lInput);
    for (char16_t c : lArg)
      if (c == u'"' || c == 0) Fail("quote or zero inside an argument", lInput);
  }
  TFlexArray lGrouped;
  try {
    lGrouped = StartParamsGrouped(StartParamsFromCommandLine(lInput));
  } catch (const EDebugStop& e) {
    if (e.Message() != u"Error: Empty commands are not yet supported") Fail("unexpected stop", lInput);
    return 0;
  }
  // What came from a command line can always be written back.
  Text lWritten = StartParamsToCommandLine(lGrouped);
  TFlexArray lBack = StartParamsGrouped(StartParamsFromCommandLine(u"x " + lWritten));
  if (!SameEntries(lGrouped, lBack)) Fail("written command line reads back differently", lInput);
  return 0;
}
