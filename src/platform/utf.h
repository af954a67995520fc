// UTF-8 <-> UTF-16, for text that leaves the program (host paths, standard output).
#pragma once

#include <string>
#include <string_view>

#include "platform/win32api_types.h"

// Unpaired surrogates and malformed bytes become U+FFFD.
Text Utf8ToText(std::string_view s);
std::string TextToUtf8(TextView t);
// Converts an ASCII or UTF-8 literal; for tests and messages.
inline Text T(std::string_view s) { return Utf8ToText(s); }
