// Sample data and container helpers for the compression tests.
#pragma once

#include <cstdint>
#include <string>

#include "compression/LZMAStream.h"

namespace compressiontest {

// Deterministic bytes that do not compress.
inline std::string RandomBytes(std::size_t iSize, std::uint32_t iSeed) {
  std::string s(iSize, '\0');
  std::uint64_t x = 0x9E3779B97F4A7C15ull ^ iSeed;
  for (std::size_t i = 0; i < iSize; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

// Text-like bytes that compress well.
inline std::string TextBytes(std::size_t iSize) {
  static const char* words[] = {"installer ", "payload ", "Vexlon ", "driver\r\n", "folder ", "version 4.2 "};
  std::string s;
  std::uint32_t k = 7;
  while (s.size() < iSize) {
    k = k * 1103515245u + 12345u;
    s += words[(k >> 16) % 6];
  }
  s.resize(iSize);
  return s;
}

inline void StreamAssign(TMemoryStream& aStream, const std::string& aData) {
  aStream.Clear();
  aStream.Write(aData.data(), static_cast<std::int32_t>(aData.size()));
  aStream.SetPosition(0);
}

inline std::string StreamBytes(const TMemoryStream& aStream) {
  return std::string(static_cast<const char*>(aStream.Memory()), static_cast<std::size_t>(aStream.Size()));
}

// The container of aPlain, as TLZMAStream.Compress writes it.
inline std::string ContainerOf(const std::string& aPlain) {
  TLZMAStream s;
  s.PrepareStreams();
  StreamAssign(*s.Decompressed, aPlain);
  s.Compress();
  return StreamBytes(*s.Compressed);
}

// The plain bytes of a container; raises the decoder's exceptions.
inline std::string PlainOf(const std::string& aContainer) {
  TLZMAStream s;
  s.PrepareStreams();
  StreamAssign(*s.Compressed, aContainer);
  s.Decompress();
  return StreamBytes(*s.Decompressed);
}

inline std::string SizeHeader(std::uint64_t iSize) {
  std::string h(8, '\0');
  for (int i = 0; i < 8; ++i) h[i] = static_cast<char>(iSize >> (8 * i));
  return h;
}

}  // namespace compressiontest
