// UTF-8 <-> UTF-16, for text that leaves the program (host paths, standard output).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/win32api_types.h"

// Unpaired surrogates and malformed bytes become U+FFFD.
Text Utf8ToText(std::string_view s);
std::string TextToUtf8(TextView t);
// UTF-8 text as a JSON string, quotes included.
std::string JsonQuote(const std::string& aUtf8);
// TextToUtf8 into aOut, which has room for three bytes per code unit (the most one takes);
// the bytes written. For writers that fill a buffer of their own.
std::size_t TextToUtf8Into(TextView aText, char* aOut);
// Converts an ASCII or UTF-8 literal; for tests and messages.
inline Text T(std::string_view s) { return Utf8ToText(s); }
