// Conversions between our declarations and <windows.h>'s (Windows build only).
#pragma once

#include <type_traits>

namespace win {

// Our WCHAR is char16_t; the Windows headers use wchar_t, also 16 bits there.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is 16-bit on Windows");
inline wchar_t* W(char16_t* p) { return reinterpret_cast<wchar_t*>(p); }
inline const wchar_t* W(const char16_t* p) { return reinterpret_cast<const wchar_t*>(p); }

// Structures we declare with the same layout as Windows.
template <class Ours, class Theirs>
Theirs* Same(Ours* p) {
  static_assert(sizeof(Ours) == sizeof(Theirs), "layouts differ");
  return reinterpret_cast<Theirs*>(p);
}

}  // namespace win
