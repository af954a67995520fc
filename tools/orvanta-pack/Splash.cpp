#include "Splash.h"

#include <cstdint>

namespace pack {

namespace {

void PutLE(std::string& s, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::string SplashBitmapBuild(int iWidth, int iHeight) {
  std::uint32_t rowSize = (static_cast<std::uint32_t>(iWidth) * 3 + 3) & ~3u;
  std::uint32_t pixels = rowSize * static_cast<std::uint32_t>(iHeight);
  std::string s;
  s += "BM";
  PutLE(s, 14 + 40 + pixels, 4);
  PutLE(s, 0, 4);
  PutLE(s, 14 + 40, 4);
  PutLE(s, 40, 4);  // BITMAPINFOHEADER
  PutLE(s, static_cast<std::uint32_t>(iWidth), 4);
  PutLE(s, static_cast<std::uint32_t>(iHeight), 4);  // bottom-up
  PutLE(s, 1, 2);
  PutLE(s, 24, 2);
  PutLE(s, 0, 4);  // BI_RGB
  PutLE(s, pixels, 4);
  PutLE(s, 2835, 4);  // 72 dpi
  PutLE(s, 2835, 4);
  PutLE(s, 0, 4);
  PutLE(s, 0, 4);
  for (int y = 0; y < iHeight; ++y) {
    std::uint32_t row = 0;
    for (int x = 0; x < iWidth; ++x) {
      // A dark blue gradient with a light band across the middle.
      int band = (y > iHeight * 2 / 5 && y < iHeight * 3 / 5) ? 1 : 0;
      auto b = static_cast<unsigned char>(band ? 230 : 90 + 120 * x / iWidth);
      auto g = static_cast<unsigned char>(band ? 220 : 30 + 60 * y / iHeight);
      auto r = static_cast<unsigned char>(band ? 200 : 20);
      s.push_back(static_cast<char>(b));
      s.push_back(static_cast<char>(g));
      s.push_back(static_cast<char>(r));
      row += 3;
    }
    for (; row < rowSize; ++row) s.push_back(0);
  }
  return s;
}

}  // namespace pack
