// Bitmaps of the simulated process. Nothing is painted here, so a decoded picture is only
// its size; the PNG data is still checked as a decoder would (signature, chunk structure
// and checksums, a header, image data and an end), so that a damaged picture fails here too.
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/win32api.h"

namespace win {

namespace {

struct Bitmaps {
  std::mutex Lock;
  std::map<HBITMAP, std::pair<LONG, LONG>> All;
  ULONG_PTR Next = 1;
};

Bitmaps& State() {
  static Bitmaps* b = new Bitmaps;
  return *b;
}

std::uint32_t Crc32(const BYTE* p, size_t n) {
  static std::uint32_t table[256];
  static std::once_flag once;
  std::call_once(once, [] {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
  });
  std::uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::uint32_t BigEndian(const BYTE* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// Width and height of a well-formed PNG image; false for anything else.
bool PngCheck(const BYTE* aData, size_t aSize, LONG& aWidth, LONG& aHeight) {
  static const BYTE kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (!aData || aSize < 8 || std::memcmp(aData, kSignature, 8) != 0) return false;
  size_t at = 8;
  bool header = false, data = false;
  while (at + 12 <= aSize) {
    std::uint32_t length = BigEndian(aData + at);
    if (length > 0x7FFFFFFF || length > aSize - at - 12) return false;
    const BYTE* type = aData + at + 4;
    if (BigEndian(aData + at + 8 + length) != Crc32(type, length + 4)) return false;
    if (!header) {
      if (std::memcmp(type, "IHDR", 4) != 0 || length != 13) return false;
      std::uint32_t w = BigEndian(type + 4), h = BigEndian(type + 8);
      if (w == 0 || h == 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return false;
      aWidth = static_cast<LONG>(w);
      aHeight = static_cast<LONG>(h);
      header = true;
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      data = true;
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      return data;
    }
    at += 12 + length;
  }
  return false;
}

}  // namespace

HBITMAP PngBitmapCreate(const BYTE* aData, DWORD aSize, LONG* aWidth, LONG* aHeight) {
  LONG w = 0, h = 0;
  if (!PngCheck(aData, aSize, w, h)) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  Bitmaps& b = State();
  std::lock_guard<std::mutex> g(b.Lock);
  // Even values well above the window handles' range, so they never look like one.
  HBITMAP handle = reinterpret_cast<HBITMAP>((ULONG_PTR(0x7F) << 40) | (b.Next++ << 1));
  b.All[handle] = {w, h};
  if (aWidth) *aWidth = w;
  if (aHeight) *aHeight = h;
  return handle;
}

BOOL DeleteObject(HANDLE ho) {
  Bitmaps& b = State();
  std::lock_guard<std::mutex> g(b.Lock);
  return b.All.erase(ho) ? TRUE : FALSE;
}

}  // namespace win
