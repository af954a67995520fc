#include "compression/LZMACompress.h"

#include <lzma.h>

#include <string>
#include <vector>

#include "CompressionTestData.h"
#include "TestSupport.h"

using namespace compressiontest;

namespace {

struct Sink {
  std::string Data;
  std::vector<std::int32_t> Pieces;
  std::int64_t Progress = 0;
  TCompressorWriteProc Write() {
    return [this](const void* b, std::int32_t n) {
      Pieces.push_back(n);
      Data.append(static_cast<const char*>(b), static_cast<std::size_t>(n));
    };
  }
  TCompressorProgressProc OnProgress() {
    return [this](std::int64_t n) { Progress += n; };
  }
};

std::string RawDecode(const std::string& aStream, bool bLZMA2, std::size_t iSize) {
  lzma_filter f[2] = {{bLZMA2 ? LZMA_FILTER_LZMA2 : LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::size_t propSize = bLZMA2 ? 1 : 5;
  if (lzma_properties_decode(&f[0], nullptr, reinterpret_cast<const std::uint8_t*>(aStream.data()), propSize) !=
      LZMA_OK)
    return "bad properties";
  std::string out(iSize + 16, '\0');
  std::size_t inPos = propSize, outPos = 0;
  lzma_ret r = lzma_raw_buffer_decode(f, nullptr, reinterpret_cast<const std::uint8_t*>(aStream.data()), &inPos,
                                      aStream.size(), reinterpret_cast<std::uint8_t*>(out.data()), &outPos, out.size());
  free(f[0].options);
  if (r != LZMA_OK && r != LZMA_STREAM_END) return "decode failed " + std::to_string(r);
  out.resize(outPos);
  return out;
}

TEST(LZMACompress, LevelTable) {
  struct Case {
    int level, algorithm, dictionary, fastBytes, btMode;
  } cases[] = {
      {1, 0, 32 << 10, 32, 0}, {2, 1, 2 << 20, 32, 1}, {3, 1, 8 << 20, 64, 1},
      {4, 1, 32 << 20, 64, 1}, {5, 1, 64 << 20, 64, 1},
  };
  for (const Case& c : cases) {
    TLZMAEncoderProps p = TLZMACompressor::EncoderPropsBuild(c.level, nullptr);
    EXPECT_EQ(p.Algorithm, c.algorithm) << c.level;
    EXPECT_EQ(p.DictionarySize, c.dictionary) << c.level;
    EXPECT_EQ(p.NumFastBytes, c.fastBytes) << c.level;
    EXPECT_EQ(p.BTMode, c.btMode) << c.level;
    EXPECT_EQ(p.BlockSize, 0);
    EXPECT_EQ(p.NumBlockThreads, -1);
    EXPECT_EQ(p.NumThreads, -1);
  }
  TLZMACompressorProps props;
  props.DictionarySize = 1 << 20;
  props.BTMode = 0;
  props.NumThreads = 2;
  TLZMAEncoderProps p = TLZMACompressor::EncoderPropsBuild(4, &props);
  EXPECT_EQ(p.DictionarySize, 1 << 20);
  EXPECT_EQ(p.BTMode, 0);
  EXPECT_EQ(p.NumThreads, 2);
  EXPECT_EQ(p.NumFastBytes, 64) << "fields left at their default keep the level's value";
}

TEST(LZMACompress, RefusedSettings) {
  auto message = [](int level, const TLZMACompressorProps* props) -> Text {
    try {
      TLZMA2Compressor c(nullptr, nullptr, level, props);
    } catch (const LZMACompress::ECompressInternalError& e) {
      return e.Message();
    }
    return u"accepted";
  };
  EXPECT_EQ(message(0, nullptr), u"lzma: TLZMACompressor.Create got invalid CompressionLevel 0");
  EXPECT_EQ(message(6, nullptr), u"lzma: TLZMACompressor.Create got invalid CompressionLevel 6");
  EXPECT_EQ(message(-1, nullptr), u"lzma: TLZMACompressor.Create got invalid CompressionLevel -1");
  TLZMACompressorProps bad;
  bad.Algorithm = 2;
  EXPECT_EQ(message(4, &bad), u"lzma: LZMA_SetProps failed");
  TLZMACompressorProps tooFew;
  tooFew.NumFastBytes = 1;
  EXPECT_EQ(message(4, &tooFew), u"lzma: LZMA_SetProps failed");
  TLZMACompressorProps worker;
  worker.WorkerProcessFilename = u"worker.exe";
  EXPECT_NE(message(4, &worker), u"accepted");
  EXPECT_EQ(message(4, nullptr), u"accepted");
}

TEST(LZMACompress, OutputComesInPiecesWithThePropertiesFirst) {
  std::string plain = RandomBytes(300000, 11) + TextBytes(2500000);
  for (bool lzma2 : {true, false}) {
    Sink sink;
    {
      std::unique_ptr<TLZMACompressor> c;
      if (lzma2)
        c = std::make_unique<TLZMA2Compressor>(sink.Write(), sink.OnProgress(), 3, nullptr);
      else
        c = std::make_unique<TLZMACompressor>(sink.Write(), sink.OnProgress(), 3, nullptr);
      // Fed in uneven pieces.
      std::size_t at = 0;
      for (std::size_t n : {std::size_t(1), std::size_t(4095), std::size_t(1 << 20), plain.size()}) {
        n = std::min(n, plain.size() - at);
        c->Compress(plain.data() + at, static_cast<std::int32_t>(n));
        at += n;
      }
      EXPECT_TRUE(sink.Pieces.size() < 40) << "output is buffered, not passed on per call";
      c->Finish();
    }
    EXPECT_EQ(sink.Progress, static_cast<std::int64_t>(plain.size()));
    for (std::int32_t n : sink.Pieces) {
      EXPECT_GT(n, 0);
      EXPECT_LE(n, 65536);
    }
    ASSERT_FALSE(sink.Data.empty());
    if (lzma2) {
      EXPECT_EQ(static_cast<unsigned char>(sink.Data[0]), 22) << "8 MiB dictionary at level 3";
      EXPECT_EQ(sink.Data.back(), '\0');
    } else {
      EXPECT_EQ(static_cast<unsigned char>(sink.Data[0]), 0x5D) << "lc 3, lp 0, pb 2";
    }
    EXPECT_EQ(RawDecode(sink.Data, lzma2, plain.size()), plain) << lzma2;
  }
}

TEST(LZMACompress, CallsOutOfTurnAreRefused) {
  TLZMA2Compressor* self = nullptr;
  Text inner;
  TLZMA2Compressor c(
      [&](const void*, std::int32_t) {
        try {
          self->Finish();
        } catch (const LZMACompress::ECompressError& e) {
          inner = e.Message();
        }
      },
      nullptr, 1, nullptr);
  self = &c;
  c.Compress("abc", 3);
  c.Finish();
  EXPECT_EQ(inner, u"Compressor state invalid") << "Finish from inside the write procedure";
  try {
    c.Compress("abc", 3);
    ADD_FAILURE() << "Compress after Finish";
  } catch (const LZMACompress::ECompressError& e) {
    EXPECT_EQ(e.Message(), u"Compressor state invalid");
  }
}

TEST(LZMACompress, WriteProcedureFailureReachesTheCaller) {
  TLZMA2Compressor c([](const void*, std::int32_t) { throw std::runtime_error("disk full"); }, nullptr, 1, nullptr);
  std::string plain = RandomBytes(200000, 3);
  EXPECT_THROW(
      {
        c.Compress(plain.data(), static_cast<std::int32_t>(plain.size()));
        c.Finish();
      },
      std::runtime_error);
}

}  // namespace
