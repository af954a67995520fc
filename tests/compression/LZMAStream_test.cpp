#include "compression/LZMAStream.h"

#include <lzma.h>

#include <cstring>
#include <string>

#include "CompressionTestData.h"
#include "TestSupport.h"

using namespace compressiontest;

namespace {

int DataErrorCode(const std::string& aContainer) {
  try {
    PlainOf(aContainer);
  } catch (const ECompressDataError& e) {
    EXPECT_EQ(e.Message(), u"lzmadecomp: Compressed data is corrupted (" + T(std::to_string(e.Code())) + u")");
    return e.Code();
  }
  return 0;
}

TEST(LZMAStream, RoundTripsKeepEveryByte) {
  std::string mixed = TextBytes(3 << 20) + RandomBytes(2 << 20, 1) + std::string(1 << 20, '\0') + TextBytes(77);
  const std::string cases[] = {std::string(), std::string("x"), TextBytes(1000), RandomBytes(70000, 2), mixed};
  for (const std::string& plain : cases) {
    std::string c = ContainerOf(plain);
    ASSERT_GE(c.size(), 10u);
    EXPECT_EQ(c.substr(0, 8), SizeHeader(plain.size()));
    EXPECT_EQ(static_cast<unsigned char>(c[8]), 26) << "level 4 uses a 32 MiB dictionary";
    EXPECT_EQ(c.back(), '\0') << "the LZMA2 end byte";
    EXPECT_EQ(PlainOf(c), plain) << plain.size();
  }
  // Text compresses, random data grows only by the chunk headers.
  EXPECT_LT(ContainerOf(TextBytes(1 << 20)).size(), (1u << 20) / 10);
  EXPECT_LT(ContainerOf(RandomBytes(1 << 20, 3)).size(), (1u << 20) + 200);
}

TEST(LZMAStream, EmptyFileContainerIsHeaderPropertyAndEndByte) {
  EXPECT_EQ(ContainerOf(std::string()), SizeHeader(0) + std::string("\x1A\x00", 2));
  EXPECT_EQ(PlainOf(SizeHeader(0) + std::string("\x1A\x00", 2)), "");
  // The property byte of an empty file is still read and checked.
  EXPECT_EQ(DataErrorCode(SizeHeader(0)), 1);
  EXPECT_EQ(DataErrorCode(SizeHeader(0) + "\x28"), 5);
}

// The encoder is the raw LZMA2 encoder at normal mode, 32 MiB dictionary, 64 fast bytes and
// the binary-tree match finder: the container body is exactly what liblzma makes of it.
TEST(LZMAStream, CompressUsesTheLevelFourSettings) {
  std::string plain = TextBytes(200000) + RandomBytes(30000, 9) + TextBytes(50000);
  lzma_options_lzma o{};
  ASSERT_FALSE(lzma_lzma_preset(&o, 6));
  o.mode = LZMA_MODE_NORMAL;
  o.dict_size = 32u << 20;
  o.nice_len = 64;
  o.mf = LZMA_MF_BT4;
  o.depth = 0;
  lzma_filter f[2] = {{LZMA_FILTER_LZMA2, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::string raw(plain.size() + 1000, '\0');
  std::size_t pos = 0;
  ASSERT_EQ(lzma_raw_buffer_encode(f, nullptr, reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size(),
                                   reinterpret_cast<std::uint8_t*>(raw.data()), &pos, raw.size()),
            LZMA_OK);
  raw.resize(pos);
  EXPECT_EQ(ContainerOf(plain), SizeHeader(plain.size()) + "\x1A" + raw);
}

TEST(LZMAStream, StreamPositionsAndOwnership) {
  TMemoryStream compressed, decompressed;
  const char prefix[] = "PREFIX";
  compressed.Write(prefix, 6);
  StreamAssign(decompressed, TextBytes(5000));
  {
    TLZMAStream s;
    s.Compressed = &compressed;
    s.Decompressed = &decompressed;
    s.Compress();
    // The container follows what was there; the position is left just after its header.
    EXPECT_EQ(compressed.Position(), 6 + 8);
    EXPECT_EQ(std::memcmp(compressed.Memory(), prefix, 6), 0);
  }
  // The caller's streams outlive the object.
  EXPECT_EQ(StreamBytes(decompressed), TextBytes(5000));
  compressed.SetPosition(6);
  TMemoryStream out;
  TLZMAStream d;
  d.Compressed = &compressed;
  d.Decompressed = &out;
  d.Decompress();
  EXPECT_EQ(StreamBytes(out), TextBytes(5000));
  EXPECT_EQ(out.Size(), 5000);
}

TEST(LZMAStream, TrailingBytesAfterTheEndMarkAreIgnored) {
  std::string plain = TextBytes(100000);
  EXPECT_EQ(PlainOf(ContainerOf(plain) + "trailing garbage"), plain);
  EXPECT_EQ(PlainOf(ContainerOf(plain) + RandomBytes(200000, 4)), plain);
  std::string c = ContainerOf(plain);
  // Decoding stops at the declared size: the end byte itself is not needed.
  EXPECT_EQ(PlainOf(c.substr(0, c.size() - 1)), plain);
  // A header smaller than the stream: decoding stops at the declared size.
  EXPECT_EQ(PlainOf(SizeHeader(1000) + c.substr(8)), plain.substr(0, 1000));
}

TEST(LZMAStream, PropertyByte) {
  // Two copies of 64 KiB of random bytes: the second is one long match 64 KiB back.
  std::string block = RandomBytes(65536, 5);
  std::string plain = block + block;
  std::string c = ContainerOf(plain);
  auto with = [&](unsigned p) {
    std::string x = c;
    x[8] = static_cast<char>(p);
    return x;
  };
  EXPECT_EQ(TLZMA2Decompressor::DictionarySizeOfProperty(26), 32u << 20);
  EXPECT_EQ(TLZMA2Decompressor::DictionarySizeOfProperty(0), 4096u);
  EXPECT_EQ(TLZMA2Decompressor::DictionarySizeOfProperty(33), 384u << 20);
  // Any dictionary large enough decodes the same stream, up to 256 MiB (32).
  for (unsigned p : {12u, 26u, 27u, 32u}) EXPECT_EQ(PlainOf(with(p)), plain) << p;
  // Over 256 MiB or past the table: refused before any memory is asked for.
  for (unsigned p : {33u, 39u, 40u, 41u, 255u}) EXPECT_EQ(DataErrorCode(with(p)), 5) << p;
  // A dictionary too small for the stream's distances: a data error.
  EXPECT_EQ(DataErrorCode(with(0)), 3);
}

TEST(LZMAStream, CorruptContainers) {
  std::string good = ContainerOf(TextBytes(300000) + RandomBytes(100000, 6));
  std::string body = good.substr(8);
  struct Case {
    const char* what;
    std::string container;
    int code;
  } cases[] = {
      {"nothing at all", std::string(), 1},
      {"part of a header", std::string("\x05\x00\x00", 3), 1},
      {"header without property byte", SizeHeader(5), 1},
      {"size of 2^31", SizeHeader(0x80000000ull) + body, 5},
      {"size with high bits", SizeHeader((1ull << 32) + 5) + body, 5},
      {"negative size", SizeHeader(~0ull) + body, 5},
      {"invalid chunk control byte", SizeHeader(10) + std::string("\x1A\x03\x00\x00", 4), 3},
      {"LZMA chunk without a dictionary reset", SizeHeader(10) + std::string("\x1A\x80\x00\x00\x00\x05\x5D", 7), 3},
      {"end byte at once", SizeHeader(10) + std::string("\x1A\x00", 2), 4},
      {"property byte only", SizeHeader(10) + "\x1A", 4},
      {"cut in the middle", good.substr(0, good.size() / 2), 4},
      {"end mark before the declared size", SizeHeader(400001) + body, 4},
      {"uncompressed chunk cut short", SizeHeader(100) + std::string("\x1A\x01\x00\x63", 4) + "abc", 4},
  };
  for (const Case& c : cases) EXPECT_EQ(DataErrorCode(c.container), c.code) << c.what;
  // Flipping bytes inside the stream never passes silently as the original.
  for (std::size_t at : {std::size_t(9), std::size_t(12), good.size() / 3, good.size() - 2}) {
    std::string bad = good;
    bad[at] = static_cast<char>(bad[at] ^ 0x5A);
    try {
      EXPECT_NE(PlainOf(bad), TextBytes(300000) + RandomBytes(100000, 6)) << at;
    } catch (const ECompressDataError& e) {
      EXPECT_TRUE(e.Code() == 3 || e.Code() == 4) << at << ": " << e.what();
    }
  }
}

}  // namespace
