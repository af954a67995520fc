#include "ContainerFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "compression/LZMACompress.h"
#include "compression/LZMAStream.h"

namespace pack {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string ErrnoText() { return std::strerror(errno); }

constexpr std::size_t kBlock = 65536;
constexpr std::uint64_t kStoreMinimum = 1 << 20;
// Beyond this the sample list grows large; such files simply go through the encoder.
constexpr std::uint64_t kStoreMaximum = 256u << 20;
// Bits per byte below which LZMA may gain; random data of 64 KiB measures about 7.997.
constexpr double kEntropyMin = 7.99;
constexpr unsigned char kPropertyByte = 26;  // 32 MiB, as the encoder writes at level 4
constexpr std::uint64_t kDictionarySize = 32u << 20;
constexpr long long kDictionarySizeMin = 4096;

double Entropy(const std::uint64_t* aCounts, std::size_t iCells, std::uint64_t iTotal) {
  double h = 0;
  for (std::size_t i = 0; i < iCells; ++i) {
    if (!aCounts[i]) continue;
    double p = static_cast<double>(aCounts[i]) / static_cast<double>(iTotal);
    h -= p * std::log2(p);
  }
  return h;
}

std::uint64_t Hash16(const unsigned char* p) {
  std::uint64_t a, b;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, p + 8, 8);
  std::uint64_t h = (a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full);
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 32);
}

}  // namespace

void IncompressibleTest::BlockEnd() {
  std::uint64_t c[256];
  for (int i = 0; i < 256; ++i) c[i] = FBlock[i];
  if (Entropy(c, 256, FBlockFill) < kEntropyMin) FFailed = true;
  std::memset(FBlock, 0, sizeof FBlock);
  FBlockFill = 0;
}

void IncompressibleTest::Add(const unsigned char* aData, std::size_t iSize) {
  if (FFailed) return;
  for (std::size_t i = 0; i < iSize; ++i) {
    unsigned b = aData[i];
    ++FCounts[FPrevious >> 5][b];
    FPrevious = b;
    ++FBlock[b];
    if (++FBlockFill == kBlock) BlockEnd();
  }
  FTotal += iSize;
  // Sample points: where the hash of the 16 bytes from there on has its low 6 bits clear.
  std::vector<unsigned char> joined(FTail, FTail + FTailSize);
  joined.insert(joined.end(), aData, aData + iSize);
  for (std::size_t p = 0; p + 16 <= joined.size(); ++p) {
    std::uint64_t h = Hash16(&joined[p]);
    if ((h & 63) == 0) FAnchors.push_back(h);
  }
  FTailSize = std::min<std::size_t>(15, joined.size());
  std::memcpy(FTail, joined.data() + joined.size() - FTailSize, FTailSize);
}

bool IncompressibleTest::Result() {
  if (FFailed || FTotal < kStoreMinimum || FTotal > kStoreMaximum) return false;
  if (FBlockFill >= 4096) BlockEnd();
  if (FFailed) return false;
  // The entropy of a byte given the literal context, from the joint and context counts.
  std::uint64_t context[8] = {};
  for (int c = 0; c < 8; ++c)
    for (int b = 0; b < 256; ++b) context[c] += FCounts[c][b];
  double joint = Entropy(&FCounts[0][0], 8 * 256, FTotal);
  double conditional = joint - Entropy(context, 8, FTotal);
  if (conditional < kEntropyMin) return false;
  std::sort(FAnchors.begin(), FAnchors.end());
  return std::adjacent_find(FAnchors.begin(), FAnchors.end()) == FAnchors.end();
}

std::uint64_t ContainerFileWrite(const std::string& aSource, const std::string& aTarget,
                                 const std::function<void(std::int64_t)>& aProgress, const std::atomic<bool>& aStop,
                                 bool bStoreIncompressible, TSha256Digest* aChecksum) {
  File in(std::fopen(aSource.c_str(), "rb"));
  if (!in) throw PackError("cannot read " + aSource + ": " + ErrnoText());
  if (std::fseek(in.get(), 0, SEEK_END) != 0) throw PackError("cannot read " + aSource + ": " + ErrnoText());
  long long size = ftello(in.get());
  if (size < 0 || std::fseek(in.get(), 0, SEEK_SET) != 0)
    throw PackError("cannot read " + aSource + ": " + ErrnoText());
  if (static_cast<std::uint64_t>(size) > TLZMAStream::PlainSizeMax)
    throw PackError(aSource + " is larger than a container can hold (2 GiB less one byte)");

  std::vector<unsigned char> buf(1 << 20);
  auto readPiece = [&]() -> std::size_t {
    std::size_t n = std::fread(buf.data(), 1, buf.size(), in.get());
    if (n == 0 && std::ferror(in.get())) throw PackError("cannot read " + aSource + ": " + ErrnoText());
    return n;
  };

  bool store = false;
  if (bStoreIncompressible && static_cast<std::uint64_t>(size) >= kStoreMinimum &&
      static_cast<std::uint64_t>(size) <= kStoreMaximum) {
    IncompressibleTest test;
    while (std::size_t n = readPiece()) {
      if (aStop) throw PackError("stopped");
      test.Add(buf.data(), n);
    }
    store = test.Result();
    if (std::fseek(in.get(), 0, SEEK_SET) != 0) throw PackError("cannot read " + aSource + ": " + ErrnoText());
  }

  File out(std::fopen(aTarget.c_str(), "wb"));
  if (!out) throw PackError("cannot write " + aTarget + ": " + ErrnoText());
  std::setvbuf(out.get(), nullptr, _IOFBF, 1 << 20);
  std::uint64_t written = 0;
  bool writeFailed = false;
  auto put = [&](const void* b, std::size_t n) {
    if (!writeFailed && std::fwrite(b, 1, n, out.get()) != n) writeFailed = true;
    written += n;
  };
  unsigned char header[8];
  for (int i = 0; i < 8; ++i) header[i] = static_cast<unsigned char>(static_cast<std::uint64_t>(size) >> (8 * i));
  put(header, 8);

  // Lives as long as the encoder, whose write procedure clears it.
  bool propertyPending = true;
  std::unique_ptr<TLZMA2Compressor> encoder;
  if (store) {
    put(&kPropertyByte, 1);
  } else {
    // A window larger than the file finds nothing more, but costs a larger match finder to
    // set up and to search: the encoder gets a dictionary of the file's size, and the
    // property byte still says 32 MiB, as the container format has it. The stream is valid
    // for any decoder dictionary at least as large as the encoder's.
    TLZMACompressorProps props;
    if (static_cast<std::uint64_t>(size) < kDictionarySize)
      props.DictionarySize = static_cast<int>(std::max<long long>(size, kDictionarySizeMin));
    encoder = std::make_unique<TLZMA2Compressor>(
        [&](const void* b, std::int32_t n) {
          const auto* p = static_cast<const unsigned char*>(b);
          if (propertyPending && n > 0) {
            propertyPending = false;
            put(&kPropertyByte, 1);
            ++p;
            --n;
          }
          put(p, static_cast<std::size_t>(n));
        },
        nullptr, TLZMAStream::CompressionLevel, &props);
  }
  std::uint64_t total = 0;
  bool first = true;
  TSha256 checksum;
  while (std::size_t n = readPiece()) {
    if (aStop) throw PackError("stopped");
    total += n;
    if (total > static_cast<std::uint64_t>(size)) break;
    if (aChecksum) checksum.Add(buf.data(), n);
    if (encoder) {
      encoder->Compress(buf.data(), static_cast<std::int32_t>(n));
    } else {
      // Uncompressed chunks of at most 64 KiB: control 1 (with a dictionary reset) first,
      // then 2, each with its size less one, big-endian.
      for (std::size_t at = 0; at < n; at += kBlock) {
        std::size_t len = std::min(kBlock, n - at);
        unsigned char chunk[3] = {static_cast<unsigned char>(first ? 1 : 2),
                                  static_cast<unsigned char>((len - 1) >> 8), static_cast<unsigned char>(len - 1)};
        first = false;
        put(chunk, 3);
        put(buf.data() + at, len);
      }
    }
    if (writeFailed) throw PackError("cannot write " + aTarget + ": " + ErrnoText());
    if (aProgress) aProgress(static_cast<std::int64_t>(n));
  }
  // The header holds the size found at the start; a file that changed since is not packed.
  if (total != static_cast<std::uint64_t>(size)) throw PackError(aSource + " changed while it was read");
  if (encoder) {
    encoder->Finish();
  } else {
    const unsigned char end = 0;
    put(&end, 1);
  }
  if (writeFailed || std::fflush(out.get()) != 0) throw PackError("cannot write " + aTarget + ": " + ErrnoText());
  std::FILE* f = out.release();
  if (std::fclose(f) != 0) throw PackError("cannot write " + aTarget + ": " + ErrnoText());
  if (aChecksum) *aChecksum = checksum.Result();
  return written;
}

}  // namespace pack
