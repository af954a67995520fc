#include "compression/LZMADecompress.h"

#include <lzma.h>

#include <cstdlib>
#include <new>
#include <string>

namespace {

Text CodeText(long long iCode) { return T(std::to_string(iCode)); }

// The decoder's working memory: a request of 0 bytes or of more than the largest dictionary
// is refused, so that a damaged header cannot make the decoder ask for more.
void* DecoderAlloc(void*, std::size_t iCount, std::size_t iSize) {
  if (iCount == 0 || iSize == 0) return nullptr;
  if (iSize > TLZMA2Decompressor::DictionarySizeMax / iCount) return nullptr;
  return std::malloc(iCount * iSize);
}
void DecoderFree(void*, void* aPtr) { std::free(aPtr); }
const lzma_allocator kDecoderAllocator = {DecoderAlloc, DecoderFree, nullptr};

}  // namespace

ECompressDataError::ECompressDataError(int iCode)
    : ECompressError(u"lzmadecomp: Compressed data is corrupted (" + CodeText(iCode) + u")"), FCode(iCode) {}

ECompressInternalError::ECompressInternalError(const Text& aText) : ECompressError(u"lzmadecomp: " + aText) {}

// ---- TLZMACustomDecompressor ---------------------------------------------------------------

TLZMACustomDecompressor::TLZMACustomDecompressor(TDecompressorReadProc AReadProc)
    : FReachedEnd(false),
      FHeaderProcessed(false),
      FReachedEndMark(false),
      FNextIn(FBuffer),
      FAvailIn(0),
      FReadProc(std::move(AReadProc)) {}

TLZMACustomDecompressor::~TLZMACustomDecompressor() = default;

std::int32_t TLZMACustomDecompressor::ReadProcCall(void* Buffer, std::int32_t Count) {
  std::int32_t n = FReadProc ? FReadProc(Buffer, Count) : 0;
  // A read procedure that claims more than it was asked for would make the decoder read
  // past its buffer.
  if (n < 0 || n > Count) throw ECompressInternalError(u"Read procedure returned " + CodeText(n));
  return n;
}

void TLZMACustomDecompressor::Reset() {
  FHeaderProcessed = false;
  FReachedEnd = false;
  FReachedEndMark = false;
  FNextIn = FBuffer;
  FAvailIn = 0;
}

void TLZMACustomDecompressor::DecompressInto(void* Buffer, std::int32_t Count) {
  if (!FHeaderProcessed) {
    FNextIn = FBuffer;
    FAvailIn = 0;
    PropertyByteRead();
    FHeaderProcessed = true;
  }
  auto* out = static_cast<unsigned char*>(Buffer);
  while (Count > 0) {
    // An end mark before the expected size: no further output can come.
    if (FReachedEndMark) throw ECompressDataError(4);
    if (FAvailIn == 0 && !FReachedEnd) {
      FNextIn = FBuffer;
      FAvailIn = static_cast<std::uint32_t>(ReadProcCall(FBuffer, static_cast<std::int32_t>(BufferSize)));
      if (FAvailIn == 0) FReachedEnd = true;
    }
    std::uint32_t produced = 0, consumed = 0;
    TDecodeStatus status = TDecodeStatus::dsNotFinished;
    int code = DecodeToBuf(out, static_cast<std::uint32_t>(Count), FNextIn, FAvailIn, produced, consumed, status);
    if (code == 1) throw ECompressDataError(3);
    if (code != 0) throw ECompressInternalError(u"DecodeToBuf failed (" + CodeText(code) + u")");
    if (produced > static_cast<std::uint32_t>(Count) || consumed > FAvailIn)
      throw ECompressInternalError(u"DecodeToBuf failed (" + CodeText(-1) + u")");
    if (consumed == 0 && produced == 0 && status != TDecodeStatus::dsFinishedWithEndMark)
      throw ECompressDataError(4);
    if (status == TDecodeStatus::dsFinishedWithEndMark) FReachedEndMark = true;
    out += produced;
    Count -= static_cast<std::int32_t>(produced);
    FNextIn += consumed;
    FAvailIn -= consumed;
  }
}

// ---- TLZMA2Decompressor --------------------------------------------------------------------

struct TLZMA2Decompressor::TDecoderState {
  lzma_stream Stream = LZMA_STREAM_INIT;
  ~TDecoderState() { lzma_end(&Stream); }
};

TLZMA2Decompressor::TLZMA2Decompressor(TDecompressorReadProc AReadProc)
    : TLZMACustomDecompressor(std::move(AReadProc)) {}

TLZMA2Decompressor::~TLZMA2Decompressor() { TLZMA2Decompressor::DecoderStateRelease(); }

std::uint64_t TLZMA2Decompressor::DictionarySizeOfProperty(unsigned p) {
  return static_cast<std::uint64_t>(2 | (p & 1)) << (p / 2 + 11);
}

void TLZMA2Decompressor::DecoderStateRelease() { FDecoderState.reset(); }

void TLZMA2Decompressor::PropertyByteRead() {
  unsigned char p = 0;
  if (ReadProcCall(&p, 1) != 1) throw ECompressDataError(1);
  if (p >= 40 || DictionarySizeOfProperty(p) > DictionarySizeMax) throw ECompressDataError(5);
  DecoderStateRelease();
  auto state = std::make_unique<TDecoderState>();
  lzma_options_lzma options{};
  // The decoder takes only the dictionary size from the options; the rest comes from the
  // chunk headers.
  if (lzma_lzma_preset(&options, LZMA_PRESET_DEFAULT)) throw ECompressDataError(2);
  std::uint64_t dictionary = DictionarySizeOfProperty(p);
  if (DictionaryLimit > 0 && DictionaryLimit < dictionary)
    dictionary = DictionaryLimit < LZMA_DICT_SIZE_MIN ? LZMA_DICT_SIZE_MIN : DictionaryLimit;
  options.dict_size = static_cast<std::uint32_t>(dictionary);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  state->Stream.allocator = &kDecoderAllocator;
  lzma_ret ret = lzma_raw_decoder(&state->Stream, filters);
  if (ret == LZMA_MEM_ERROR) throw std::bad_alloc();
  if (ret != LZMA_OK) throw ECompressDataError(2);
  FDecoderState = std::move(state);
}

int TLZMA2Decompressor::DecodeToBuf(void* aOut, std::uint32_t iOutSize, const void* aIn, std::uint32_t iInSize,
                                    std::uint32_t& iOutProcessed, std::uint32_t& iInProcessed,
                                    TDecodeStatus& aStatus) {
  iOutProcessed = 0;
  iInProcessed = 0;
  aStatus = TDecodeStatus::dsNotFinished;
  if (!FDecoderState) return LZMA_PROG_ERROR;
  lzma_stream& s = FDecoderState->Stream;
  s.next_in = static_cast<const std::uint8_t*>(aIn);
  s.avail_in = iInSize;
  s.next_out = static_cast<std::uint8_t*>(aOut);
  s.avail_out = iOutSize;
  lzma_ret ret = lzma_code(&s, LZMA_RUN);
  iOutProcessed = iOutSize - static_cast<std::uint32_t>(s.avail_out);
  iInProcessed = iInSize - static_cast<std::uint32_t>(s.avail_in);
  switch (ret) {
    case LZMA_OK:
      return 0;
    case LZMA_STREAM_END:
      aStatus = TDecodeStatus::dsFinishedWithEndMark;
      return 0;
    case LZMA_BUF_ERROR:
      // No progress possible: the caller sees nothing consumed and nothing produced.
      return 0;
    case LZMA_DATA_ERROR:
      return 1;
    case LZMA_MEM_ERROR:
      throw std::bad_alloc();
    default:
      return static_cast<int>(ret);
  }
}
