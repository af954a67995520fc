// Streaming wrapper around the raw LZMA2 decoder: reads input through a read procedure in
// 64 KiB blocks and decodes straight into the caller's buffer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "rtl/Exception.h"

class ECompressError : public Exception {
 public:
  using Exception::Exception;
};

// "lzmadecomp: Compressed data is corrupted (<code>)". Codes: 1 no property byte (or no
// complete header), 2 decoder set-up failed, 3 data error inside the stream, 4 no progress
// before the end mark or an end mark before the expected size, 5 property byte or header
// value out of range.
class ECompressDataError : public ECompressError {
 public:
  explicit ECompressDataError(int iCode);
  int Code() const { return FCode; }

 private:
  int FCode;
};

// "lzmadecomp: <text>".
class ECompressInternalError : public ECompressError {
 public:
  explicit ECompressInternalError(const Text& aText);
};

// Fills Buffer with up to Count bytes; returns how many it delivered, 0 at the end.
using TDecompressorReadProc = std::function<std::int32_t(void* Buffer, std::int32_t Count)>;

enum class TDecodeStatus { dsNotFinished, dsFinishedWithEndMark };

class TLZMACustomDecompressor {
 public:
  explicit TLZMACustomDecompressor(TDecompressorReadProc AReadProc);
  virtual ~TLZMACustomDecompressor();
  TLZMACustomDecompressor(const TLZMACustomDecompressor&) = delete;
  TLZMACustomDecompressor& operator=(const TLZMACustomDecompressor&) = delete;

  // Fills exactly Count bytes of Buffer; may be called again to continue the same stream.
  void DecompressInto(void* Buffer, std::int32_t Count);
  // The next DecompressInto starts a new stream from its header.
  void Reset();

  static constexpr std::uint32_t BufferSize = 65536;

 protected:
  // Decodes from the input window into the output window, stopping anywhere. Result 0:
  // go on; 1: data error; anything else: an internal failure with that code.
  virtual int DecodeToBuf(void* aOut, std::uint32_t iOutSize, const void* aIn, std::uint32_t iInSize,
                          std::uint32_t& iOutProcessed, std::uint32_t& iInProcessed, TDecodeStatus& aStatus) = 0;
  // Releases the decoder state; derived classes call it from their destructor too.
  virtual void DecoderStateRelease() = 0;
  // Reads and applies the stream header.
  virtual void PropertyByteRead() = 0;

  // The read procedure, with its result checked to lie within 0..Count.
  std::int32_t ReadProcCall(void* Buffer, std::int32_t Count);

 private:
  bool FReachedEnd;
  bool FHeaderProcessed;
  // The decoder reported its end mark: no more output can come.
  bool FReachedEndMark;
  unsigned char* FNextIn;
  std::uint32_t FAvailIn;
  unsigned char FBuffer[BufferSize];
  TDecompressorReadProc FReadProc;
};

class TLZMA2Decompressor : public TLZMACustomDecompressor {
 public:
  explicit TLZMA2Decompressor(TDecompressorReadProc AReadProc);
  ~TLZMA2Decompressor() override;

  // The dictionary size a property byte gives (p below 40), as a 64-bit number.
  static std::uint64_t DictionarySizeOfProperty(unsigned p);
  static constexpr std::uint64_t DictionarySizeMax = 256u << 20;

  // The most the stream can refer back to (0: no limit), set before the first decode: a
  // stream that decodes to n bytes never refers further back than n, so its dictionary
  // need not be larger than that whatever its property byte says. The property byte is
  // still checked in full.
  std::uint64_t DictionaryLimit = 0;

 protected:
  int DecodeToBuf(void* aOut, std::uint32_t iOutSize, const void* aIn, std::uint32_t iInSize,
                  std::uint32_t& iOutProcessed, std::uint32_t& iInProcessed, TDecodeStatus& aStatus) override;
  void DecoderStateRelease() override;
  void PropertyByteRead() override;

 private:
  struct TDecoderState;
  std::unique_ptr<TDecoderState> FDecoderState;
};
