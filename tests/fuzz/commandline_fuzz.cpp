// Command lines: splitting and grouping take any text; grouping either succeeds or stops
// with "Empty commands are not yet supported"; a grouped array written back as a command
// line must read back as the same pairs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "params/uAppStartParams.h"
#include "platform/utf.h"

namespace {

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
