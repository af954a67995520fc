// Converts between a memory stream of plain bytes and a memory stream holding the payload
// container: the plain size as a 64-bit little-endian integer, then a raw LZMA2 stream (its
// property byte, the chunks, the end byte). See docs/container.md.
#pragma once

#include <cstdint>

#include "compression/LZMACompress.h"
#include "compression/LZMADecompress.h"
#include "rtl/MemoryStream.h"

class TLZMAStream {
 public:
  TLZMAStream();
  ~TLZMAStream();
  TLZMAStream(const TLZMAStream&) = delete;
  TLZMAStream& operator=(const TLZMAStream&) = delete;

  // Creates an empty stream for each of Compressed and Decompressed that is not assigned.
  void PrepareStreams();
  // Reads the container from Compressed at its position; Decompressed gets the plain bytes
  // (its size becomes the header's size). Raises the decoder's exceptions.
  void Decompress();
  // Writes the container of all of Decompressed into Compressed at its position, at
  // level 4. The position of Compressed is left just after the header.
  void Compress();

  // Assigned by the caller before the first operation (then never freed here), or created
  // by PrepareStreams (then freed with this object).
  TMemoryStream* Compressed;
  TMemoryStream* Decompressed;

  static constexpr int CompressionLevel = 4;
  // Plain sizes from 2^31 up are outside the design: such a header counts as corrupt.
  static constexpr std::uint64_t PlainSizeMax = 0x7FFFFFFF;

 private:
  std::int64_t CompressedSize;
  bool WasCompressedCreated;
  bool WasDecompressedCreated;
};
