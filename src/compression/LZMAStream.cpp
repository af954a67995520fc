#include "compression/LZMAStream.h"

#include <memory>

TLZMAStream::TLZMAStream()
    : Compressed(nullptr),
      Decompressed(nullptr),
      CompressedSize(0),
      WasCompressedCreated(false),
      WasDecompressedCreated(false) {}

TLZMAStream::~TLZMAStream() {
  if (WasCompressedCreated) delete Compressed;
  if (WasDecompressedCreated) delete Decompressed;
}

void TLZMAStream::PrepareStreams() {
  if (!Compressed) {
    Compressed = new TMemoryStream();
    WasCompressedCreated = true;
  }
  if (!Decompressed) {
    Decompressed = new TMemoryStream();
    WasDecompressedCreated = true;
  }
}

void TLZMAStream::Decompress() {
  PrepareStreams();
  unsigned char header[8];
  // A container shorter than its header has neither a size nor a property byte.
  if (Compressed->Read(header, 8) != 8) throw ECompressDataError(1);
  std::uint64_t size = 0;
  for (int i = 7; i >= 0; --i) size = (size << 8) | header[i];
  // Taking the low 32 bits of a larger size would report a cut-off file as decoded.
  if (size > PlainSizeMax) throw ECompressDataError(5);
  Decompressed->SetSize(static_cast<std::int64_t>(size));
  TMemoryStream* source = Compressed;
  // On the heap: the decoder holds its 64 KiB input buffer.
  auto decoder = std::make_unique<TLZMA2Decompressor>(
      [source](void* Buffer, std::int32_t Count) { return source->Read(Buffer, Count); });
  // The whole file fits in a dictionary of its size: a small file does not take the memory
  // of a large window.
  decoder->DictionaryLimit = size > 0 ? size : 1;
  decoder->DecompressInto(Decompressed->Memory(), static_cast<std::int32_t>(size));
}

void TLZMAStream::Compress() {
  PrepareStreams();
  CompressedSize = 0;
  std::int64_t size = Decompressed->Size();
  Compressed->Seek(8, TSeekOrigin::soCurrent);
  TLZMACompressorProps props;
  TMemoryStream* target = Compressed;
  TLZMA2Compressor compressor(
      [this, target](const void* Buffer, std::int32_t Count) {
        target->Write(Buffer, Count);
        CompressedSize += Count;
      },
      [](std::int64_t) {}, CompressionLevel, &props);
  // Sizes beyond the 32-bit count are fed in pieces.
  const auto* p = static_cast<const unsigned char*>(Decompressed->Memory());
  for (std::int64_t left = size; left > 0;) {
    std::int32_t n = left > 0x40000000 ? 0x40000000 : static_cast<std::int32_t>(left);
    compressor.Compress(p, n);
    p += n;
    left -= n;
  }
  compressor.Finish();
  Compressed->Seek(-(CompressedSize + 8), TSeekOrigin::soCurrent);
  unsigned char header[8];
  for (int i = 0; i < 8; ++i) header[i] = static_cast<unsigned char>(static_cast<std::uint64_t>(size) >> (8 * i));
  Compressed->Write(header, 8);
}
