// Helpers the parameter tests share.
#pragma once

#include <string>

#include "params/uFlexArray.h"
#include "params/uMiscLean.h"
#include "platform/utf.h"
#include "rtl/Exception.h"

namespace paramstest {

// Every entry as key=Kind:text, so that a comparison sees kinds as well as contents.
inline std::string Describe(const TFlexArray& a) {
  std::string r;
  for (int i = 0; i < a.Count(); ++i) {
    if (i) r += " ";
    Variant v = a.GetValueByIndex(i);
    r += TextToUtf8(a.GetKeyByIndex(i)) + "=" + TextToUtf8(VarKindName(v.Kind())) + ":" +
         TextToUtf8(FlexValueToText(v));
  }
  return r;
}

// The message of the stop that f raises, or "(no stop)".
template <class F>
std::string StopMessage(F f) {
  try {
    f();
  } catch (const EDebugStop& e) {
    return TextToUtf8(e.Message());
  }
  return "(no stop)";
}

}  // namespace paramstest
