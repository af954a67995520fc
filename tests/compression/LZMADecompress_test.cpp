#include "compression/LZMADecompress.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "CompressionTestData.h"
#include "TestSupport.h"

using namespace compressiontest;

namespace {

// A decoder whose steps are scripted, to check the loop around DecodeToBuf on its own.
class TScriptedDecompressor : public TLZMACustomDecompressor {
 public:
  struct Step {
    int Result;
    std::uint32_t Produce;  // bytes of 'd' written
    std::uint32_t Consume;
    TDecodeStatus Status;
  };
  using TLZMACustomDecompressor::TLZMACustomDecompressor;
  std::deque<Step> Steps;
  std::vector<std::uint32_t> InWindows;
  int HeadersRead = 0;

 protected:
  int DecodeToBuf(void* aOut, std::uint32_t iOutSize, const void*, std::uint32_t iInSize,
                  std::uint32_t& iOutProcessed, std::uint32_t& iInProcessed, TDecodeStatus& aStatus) override {
    InWindows.push_back(iInSize);
    Step s = Steps.empty() ? Step{0, 0, 0, TDecodeStatus::dsNotFinished} : Steps.front();
    if (!Steps.empty()) Steps.pop_front();
    iOutProcessed = std::min(s.Produce, iOutSize);
    iInProcessed = std::min(s.Consume, iInSize);
    std::memset(aOut, 'd', iOutProcessed);
    aStatus = s.Status;
    return s.Result;
  }
  void DecoderStateRelease() override {}
  void PropertyByteRead() override {
    unsigned char p;
    if (ReadProcCall(&p, 1) != 1) throw ECompressDataError(1);
    ++HeadersRead;
  }
};

struct Source {
  explicit Source(std::string aData) : Data(std::move(aData)) {}
  std::string Data;
  std::size_t Pos = 0;
  std::vector<std::int32_t> Requests;
  TDecompressorReadProc Proc() {
    return [this](void* b, std::int32_t n) {
      Requests.push_back(n);
      std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(n), Data.size() - Pos);
      std::memcpy(b, Data.data() + Pos, k);
      Pos += k;
      return static_cast<std::int32_t>(k);
    };
  }
};

using S = TScriptedDecompressor::Step;
constexpr auto NF = TDecodeStatus::dsNotFinished;
constexpr auto FIN = TDecodeStatus::dsFinishedWithEndMark;

TEST(LZMADecompress, LoopMapsDecoderResults) {
  struct Case {
    const char* what;
    std::vector<S> steps;
    const char16_t* message;  // nullptr: fills the buffer
  } cases[] = {
      {"steady progress", {{0, 4, 1, NF}, {0, 6, 1, NF}}, nullptr},
      {"output without input", {{0, 0, 1, NF}, {0, 10, 0, NF}}, nullptr},
      {"end mark as the last byte arrives", {{0, 10, 3, FIN}}, nullptr},
      {"data error", {{0, 2, 1, NF}, {1, 0, 0, NF}}, u"lzmadecomp: Compressed data is corrupted (3)"},
      {"other result", {{7, 0, 0, NF}}, u"lzmadecomp: DecodeToBuf failed (7)"},
      {"no progress", {{0, 3, 3, NF}, {0, 0, 0, NF}}, u"lzmadecomp: Compressed data is corrupted (4)"},
      {"end mark before the size", {{0, 3, 3, NF}, {0, 0, 1, FIN}}, u"lzmadecomp: Compressed data is corrupted (4)"},
      {"end mark, nothing more", {{0, 4, 2, FIN}, {0, 0, 0, FIN}}, u"lzmadecomp: Compressed data is corrupted (4)"},
  };
  for (const Case& c : cases) {
    Source src("p" + std::string(100, 'x'));
    TScriptedDecompressor d(src.Proc());
    d.Steps.assign(c.steps.begin(), c.steps.end());
    std::string out(10, '.');
    if (!c.message) {
      d.DecompressInto(out.data(), 10);
      EXPECT_EQ(out, std::string(10, 'd')) << c.what;
      continue;
    }
    try {
      d.DecompressInto(out.data(), 10);
      ADD_FAILURE() << c.what << ": no exception";
    } catch (const ECompressError& e) {
      EXPECT_EQ(e.Message(), c.message) << c.what;
    }
  }
}

TEST(LZMADecompress, InputComesIn64KiBBlocks) {
  Source src("p" + std::string(200000, 'x'));
  TScriptedDecompressor d(src.Proc());
  // Each step consumes 50000 bytes and produces one byte.
  for (int i = 0; i < 5; ++i) d.Steps.push_back({0, 1, 50000, NF});
  std::string out(5, '.');
  d.DecompressInto(out.data(), 5);
  EXPECT_EQ(d.HeadersRead, 1);
  ASSERT_GE(src.Requests.size(), 3u);
  EXPECT_EQ(src.Requests[0], 1) << "the property byte is read on its own";
  for (std::size_t i = 1; i < src.Requests.size(); ++i) EXPECT_EQ(src.Requests[i], 65536);
  // The window shrinks by what was consumed, and is refilled when empty.
  EXPECT_EQ(d.InWindows[0], 65536u);
  EXPECT_EQ(d.InWindows[1], 65536u - 50000u);
  EXPECT_EQ(d.InWindows[2], 65536u);
}

TEST(LZMADecompress, ContinuesAndResets) {
  Source src("p" + std::string(100, 'x'));
  TScriptedDecompressor d(src.Proc());
  d.Steps = {{0, 4, 1, NF}, {0, 4, 1, NF}};
  std::string out(8, '.');
  d.DecompressInto(out.data(), 4);
  d.DecompressInto(out.data() + 4, 4);
  EXPECT_EQ(d.HeadersRead, 1) << "a continued stream keeps its header";
  // Reset drops what was buffered: the next stream is read from the source afresh.
  src.Pos = 0;
  d.Reset();
  d.Steps = {{0, 2, 1, NF}};
  d.DecompressInto(out.data(), 2);
  EXPECT_EQ(d.HeadersRead, 2);
  // Count 0 still reads the header of a fresh stream.
  src.Pos = 0;
  d.Reset();
  d.DecompressInto(out.data(), 0);
  EXPECT_EQ(d.HeadersRead, 3);
  // A source with nothing left: no header.
  src.Pos = src.Data.size();
  d.Reset();
  EXPECT_THROW(d.DecompressInto(out.data(), 0), ECompressDataError);
}

TEST(LZMADecompress, ReadProcedureClaimingTooMuchIsRefused) {
  TScriptedDecompressor d([](void*, std::int32_t n) { return n + 1; });
  char out[4];
  EXPECT_THROW(d.DecompressInto(out, 4), ECompressInternalError);
  TScriptedDecompressor e([](void*, std::int32_t) { return -1; });
  EXPECT_THROW(e.DecompressInto(out, 4), ECompressInternalError);
}

// The real decoder fed one byte at a time decodes the same as with whole blocks.
TEST(LZMADecompress, LZMA2DecoderWithTinyReads) {
  std::string plain = TextBytes(40000) + RandomBytes(3000, 8);
  std::string body = ContainerOf(plain).substr(8);
  std::size_t pos = 0;
  TLZMA2Decompressor d([&](void* b, std::int32_t n) {
    if (pos >= body.size() || n <= 0) return 0;
    static_cast<char*>(b)[0] = body[pos++];
    return 1;
  });
  std::string out(plain.size(), '\0');
  d.DecompressInto(out.data(), 1000);
  d.DecompressInto(out.data() + 1000, static_cast<std::int32_t>(plain.size() - 1000));
  EXPECT_EQ(out, plain);
  // Past the end mark nothing more comes.
  char more[1];
  try {
    d.DecompressInto(more, 1);
    ADD_FAILURE() << "decoded past the end mark";
  } catch (const ECompressDataError& e) {
    EXPECT_EQ(e.Code(), 4);
  }
}

// A dictionary limited to the file's size decodes the file; a limit below the distances the
// stream uses is a data error (the limit is really what the decoder gets).
TEST(LZMADecompress, DictionaryLimitedToTheFile) {
  const std::string block = RandomBytes(50000, 3);
  const std::string plain = block + block;  // the second half refers 50000 bytes back
  const std::string body = ContainerOf(plain).substr(8);
  for (std::uint64_t limit : {std::uint64_t(plain.size()), std::uint64_t(4096)}) {
    SCOPED_TRACE(limit);
    std::size_t pos = 0;
    TLZMA2Decompressor d([&](void* b, std::int32_t n) {
      const std::size_t k = std::min(body.size() - pos, static_cast<std::size_t>(n));
      std::memcpy(b, body.data() + pos, k);
      pos += k;
      return static_cast<std::int32_t>(k);
    });
    d.DictionaryLimit = limit;
    std::string out(plain.size(), '\0');
    if (limit == plain.size()) {
      d.DecompressInto(out.data(), static_cast<std::int32_t>(out.size()));
      EXPECT_EQ(out, plain);
    } else {
      try {
        d.DecompressInto(out.data(), static_cast<std::int32_t>(out.size()));
        ADD_FAILURE() << "decoded with a dictionary smaller than its distances";
      } catch (const ECompressDataError& e) {
        EXPECT_EQ(e.Code(), 3);
      }
    }
  }
}

}  // namespace
