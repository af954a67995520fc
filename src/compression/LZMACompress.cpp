#include "compression/LZMACompress.h"

#include <lzma.h>

#include <new>
#include <string>

using LZMACompress::ECompressInternalError;

namespace {

[[noreturn]] void Fail(const std::string& aText) { throw ECompressInternalError(u"lzma: " + T(aText)); }

// Input is handed to the encoder in pieces of this size, so that progress is reported often.
constexpr std::size_t kInPiece = 1 << 20;

struct TLevel {
  int Algorithm, DictionarySize, NumFastBytes, BTMode;
};
constexpr TLevel kLevels[5] = {
    {0, 32 << 10, 32, 0},  // 1
    {1, 2 << 20, 32, 1},   // 2
    {1, 8 << 20, 64, 1},   // 3
    {1, 32 << 20, 64, 1},  // 4
    {1, 64 << 20, 64, 1},  // 5
};

}  // namespace

TCompressorProps::~TCompressorProps() = default;

TCustomCompressor::TCustomCompressor(TCompressorWriteProc AWriteProc, TCompressorProgressProc AProgressProc, int,
                                     const TCompressorProps*)
    : FWriteProc(std::move(AWriteProc)), FProgressProc(std::move(AProgressProc)) {}

TCustomCompressor::~TCustomCompressor() = default;

struct TLZMACompressor::TEncoderState {
  lzma_stream Stream = LZMA_STREAM_INIT;
  lzma_options_lzma Options{};
  std::uint8_t Out[OutBufferSize];
  std::size_t OutUsed = 0;
  ~TEncoderState() { lzma_end(&Stream); }
};

TLZMAEncoderProps TLZMACompressor::EncoderPropsBuild(int CompressionLevel, const TLZMACompressorProps* aProps) {
  if (CompressionLevel < 1 || CompressionLevel > 5)
    Fail("TLZMACompressor.Create got invalid CompressionLevel " + std::to_string(CompressionLevel));
  const TLevel& l = kLevels[CompressionLevel - 1];
  TLZMAEncoderProps r{l.Algorithm, 0, l.BTMode, l.DictionarySize, -1, l.NumFastBytes, -1};
  if (aProps) {
    if (aProps->Algorithm != -1) r.Algorithm = aProps->Algorithm;
    if (aProps->BlockSize != 0) r.BlockSize = aProps->BlockSize;
    if (aProps->BTMode != -1) r.BTMode = aProps->BTMode;
    if (aProps->DictionarySize != 0) r.DictionarySize = aProps->DictionarySize;
    if (aProps->NumBlockThreads != 0) r.NumBlockThreads = aProps->NumBlockThreads;
    if (aProps->NumFastBytes != 0) r.NumFastBytes = aProps->NumFastBytes;
    if (aProps->NumThreads != 0) r.NumThreads = aProps->NumThreads;
  }
  return r;
}

TLZMACompressor::TLZMACompressor(TCompressorWriteProc AWriteProc, TCompressorProgressProc AProgressProc,
                                 int CompressionLevel, const TCompressorProps* ACompressorProps)
    : TLZMACompressor(std::move(AWriteProc), std::move(AProgressProc), CompressionLevel, ACompressorProps, false) {}

TLZMACompressor::TLZMACompressor(TCompressorWriteProc AWriteProc, TCompressorProgressProc AProgressProc,
                                 int CompressionLevel, const TCompressorProps* ACompressorProps, bool bLZMA2)
    : TCustomCompressor(std::move(AWriteProc), std::move(AProgressProc), CompressionLevel, ACompressorProps),
      FBusy(false),
      FFinished(false) {
  const auto* props = dynamic_cast<const TLZMACompressorProps*>(ACompressorProps);
  if (ACompressorProps && !props) Fail("LZMA_SetProps failed");
  TLZMAEncoderProps p = EncoderPropsBuild(CompressionLevel, props);
  if (props && !props->WorkerProcessFilename.empty()) Fail("WorkerProcessFilename is not supported");

  auto state = std::make_unique<TEncoderState>();
  lzma_options_lzma& o = state->Options;
  if (lzma_lzma_preset(&o, LZMA_PRESET_DEFAULT)) Fail("LZMA_Init failed with code " + std::to_string(LZMA_PROG_ERROR));
  if ((p.Algorithm != 0 && p.Algorithm != 1) || (p.BTMode != 0 && p.BTMode != 1) ||
      p.DictionarySize < static_cast<int>(LZMA_DICT_SIZE_MIN) || p.NumFastBytes < 2 || p.NumFastBytes > 273)
    Fail("LZMA_SetProps failed");
  o.mode = p.Algorithm == 0 ? LZMA_MODE_FAST : LZMA_MODE_NORMAL;
  o.mf = p.BTMode == 0 ? LZMA_MF_HC4 : LZMA_MF_BT4;
  o.dict_size = static_cast<std::uint32_t>(p.DictionarySize);
  o.nice_len = static_cast<std::uint32_t>(p.NumFastBytes);
  o.depth = 0;
  lzma_filter filters[2] = {{bLZMA2 ? LZMA_FILTER_LZMA2 : LZMA_FILTER_LZMA1, &o}, {LZMA_VLI_UNKNOWN, nullptr}};

  // The property bytes go first: one for LZMA2, five for LZMA.
  std::uint32_t propSize = 0;
  if (lzma_properties_size(&propSize, filters) != LZMA_OK || propSize > 5 ||
      lzma_properties_encode(filters, state->Out) != LZMA_OK)
    Fail("LZMA_SetProps failed");
  state->OutUsed = propSize;

  lzma_ret ret = lzma_raw_encoder(&state->Stream, filters);
  if (ret == LZMA_MEM_ERROR) throw std::bad_alloc();
  if (ret == LZMA_OPTIONS_ERROR) Fail("LZMA_SetProps failed");
  if (ret != LZMA_OK) Fail("LZMA_Init failed with code " + std::to_string(ret));
  FState = std::move(state);
}

TLZMACompressor::~TLZMACompressor() = default;

void TLZMACompressor::OutFlush() {
  if (FState->OutUsed == 0) return;
  std::size_t n = FState->OutUsed;
  FState->OutUsed = 0;
  if (FWriteProc) FWriteProc(FState->Out, static_cast<std::int32_t>(n));
}

void TLZMACompressor::EncoderRun(const void* aIn, std::size_t iInSize, bool bFinish, const char* aWhere) {
  lzma_stream& s = FState->Stream;
  s.next_in = static_cast<const std::uint8_t*>(aIn);
  s.avail_in = iInSize;
  for (;;) {
    s.next_out = FState->Out + FState->OutUsed;
    s.avail_out = OutBufferSize - FState->OutUsed;
    lzma_ret ret = lzma_code(&s, bFinish ? LZMA_FINISH : LZMA_RUN);
    FState->OutUsed = OutBufferSize - s.avail_out;
    if (ret == LZMA_MEM_ERROR) throw std::bad_alloc();
    if (ret != LZMA_OK && ret != LZMA_STREAM_END)
      Fail(std::string(aWhere) + ": LZMA_Encode failed with code " + std::to_string(ret));
    if (FState->OutUsed == OutBufferSize) OutFlush();
    if (bFinish ? ret == LZMA_STREAM_END : s.avail_in == 0) break;
  }
  if (bFinish) OutFlush();
}

void TLZMACompressor::Compress(const void* Buffer, std::int32_t Count) {
  if (FBusy || FFinished) throw LZMACompress::ECompressError(u"Compressor state invalid");
  FBusy = true;
  try {
    const auto* p = static_cast<const std::uint8_t*>(Buffer);
    std::size_t left = Count > 0 ? static_cast<std::size_t>(Count) : 0;
    while (left > 0) {
      std::size_t n = left < kInPiece ? left : kInPiece;
      EncoderRun(p, n, false, "Compress");
      p += n;
      left -= n;
      if (FProgressProc) FProgressProc(static_cast<std::int64_t>(n));
    }
  } catch (...) {
    FBusy = false;
    throw;
  }
  FBusy = false;
}

void TLZMACompressor::Finish() {
  if (FBusy || FFinished) throw LZMACompress::ECompressError(u"Compressor state invalid");
  FBusy = true;
  try {
    EncoderRun(nullptr, 0, true, "Finish");
  } catch (...) {
    FBusy = false;
    throw;
  }
  FFinished = true;
  FBusy = false;
}

TLZMA2Compressor::TLZMA2Compressor(TCompressorWriteProc AWriteProc, TCompressorProgressProc AProgressProc,
                                   int CompressionLevel, const TCompressorProps* ACompressorProps)
    : TLZMACompressor(std::move(AWriteProc), std::move(AProgressProc), CompressionLevel, ACompressorProps, true) {}
