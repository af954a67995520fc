// UrlDecode: any text either decodes or raises EConvertError; what decodes survives
// UrlEncode then UrlDecode exactly, and UrlEncode writes only its kept set and escapes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "params/uMiscLean.h"
#include "FuzzSupport.h"
#include "platform/utf.h"

namespace {

bool EncodedCharIsValid(char16_t c) {
  if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) return true;
  return Text(u"!$'()*-.@_+%").find(c) != Text::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  Text lInput = FuzzText(aData, aSize);
  Text lDecoded;
  try {
    lDecoded = UrlDecode(lInput);
  } catch (const EConvertError& e) {
    if (e.Message() != u"EConvertError") Fail("unexpected error message", lInput);
    return 0;
  }
  // The input itself, taken as plain text, must survive the encoding too.
  for (const Text* t : {&lDecoded, &lInput}) {
    Text lEncoded = UrlEncode(*t);
    for (char16_t c : lEncoded)
      if (!EncodedCharIsValid(c)) Fail("UrlEncode wrote a character outside its set", *t);
    if (UrlDecode(lEncoded) != *t) Fail("UrlEncode then UrlDecode changed the text", *t);
  }
  return 0;
}
