// The writer side of the payload: an LZMA or LZMA2 encoder fed in pieces, delivering its
// output (property bytes first, then the raw chunk stream with its end mark) through a write
// procedure in pieces of at most 64 KiB. The encoder is liblzma's raw encoder, linked.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "rtl/Exception.h"

// This unit's own exceptions, scoped by the unit: the decoder unit has classes of the same
// names. Messages are "lzma: " + text, except "Compressor state invalid".
namespace LZMACompress {

class ECompressError : public Exception {
 public:
  using Exception::Exception;
};

class ECompressInternalError : public ECompressError {
 public:
  using ECompressError::ECompressError;
};

}  // namespace LZMACompress

using TCompressorWriteProc = std::function<void(const void* Buffer, std::int32_t Count)>;
// The number of plain bytes taken in since the last call.
using TCompressorProgressProc = std::function<void(std::int64_t iBytesProcessed)>;

class TCompressorProps {
 public:
  virtual ~TCompressorProps();
};

// -1 (Algorithm, BTMode) and 0 (the others) take the level's value.
class TLZMACompressorProps : public TCompressorProps {
 public:
  int Algorithm = -1;       // 0 fast, 1 normal
  int BlockSize = 0;
  int BTMode = -1;          // 0 hash chain, 1 binary tree
  int DictionarySize = 0;
  int NumBlockThreads = 0;
  int NumFastBytes = 0;
  int NumThreads = 0;
  Text WorkerProcessFilename;  // a separate encoder process; not supported
};
// BlockSize and the thread counts are accepted and not used: the raw encoder is one stream
// on one thread (the packer runs files in parallel instead).

class TCustomCompressor {
 public:
  TCustomCompressor(TCompressorWriteProc AWriteProc, TCompressorProgressProc AProgressProc, int CompressionLevel,
                    const TCompressorProps* ACompressorProps);
  virtual ~TCustomCompressor();
  TCustomCompressor(const TCustomCompressor&) = delete;
  TCustomCompressor& operator=(const TCustomCompressor&) = delete;

  // Feeds plain bytes; may be called repeatedly.
  virtual void Compress(const void* Buffer, std::int32_t Count) = 0;
  // Flushes the encoder: all output has gone to the write procedure when it returns.
  virtual void Finish() = 0;

 protected:
  TCompressorWriteProc FWriteProc;
  TCompressorProgressProc FProgressProc;
};

// The encoder's settings after the level and the properties are combined.
struct TLZMAEncoderProps {
  int Algorithm, BlockSize, BTMode, DictionarySize, NumBlockThreads, NumFastBytes, NumThreads;
};

class TLZMACompressor : public TCustomCompressor {
 public:
  // CompressionLevel 1..5; ACompressorProps may be null (all defaults).
  TLZMACompressor(TCompressorWriteProc AWriteProc, TCompressorProgressProc AProgressProc, int CompressionLevel,
                  const TCompressorProps* ACompressorProps);
  ~TLZMACompressor() override;

  void Compress(const void* Buffer, std::int32_t Count) override;
  void Finish() override;

  // The level's settings combined with the non-default fields of aProps.
  static TLZMAEncoderProps EncoderPropsBuild(int CompressionLevel, const TLZMACompressorProps* aProps);

  static constexpr std::uint32_t OutBufferSize = 65536;

 protected:
  TLZMACompressor(TCompressorWriteProc AWriteProc, TCompressorProgressProc AProgressProc, int CompressionLevel,
                  const TCompressorProps* ACompressorProps, bool bLZMA2);

 private:
  void EncoderRun(const void* aIn, std::size_t iInSize, bool bFinish, const char* aWhere);
  void OutFlush();
  struct TEncoderState;
  std::unique_ptr<TEncoderState> FState;
  bool FBusy;
  bool FFinished;
};

// LZMA2 output: one property byte, then the chunk stream ended by the 0x00 end byte.
class TLZMA2Compressor : public TLZMACompressor {
 public:
  TLZMA2Compressor(TCompressorWriteProc AWriteProc, TCompressorProgressProc AProgressProc, int CompressionLevel,
                   const TCompressorProps* ACompressorProps);
};
