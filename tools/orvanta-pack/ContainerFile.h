// Writes one payload container from a host file to a host file, streaming: the file is
// read in pieces and the encoder's output goes straight to disk.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "compression/PayloadChecksums.h"

namespace pack {

struct PackError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Returns the container's size. aProgress gets the plain bytes taken in since its last call.
// Raises PackError when the file cannot be read, changes size while it is read, or when
// aStop is set (the message then says so).
//
// aChecksum, when given, gets the SHA-256 of the bytes packed.
//
// bStoreIncompressible: a file that LZMA cannot shrink (see IncompressibleIs) goes into
// LZMA2's uncompressed chunks straight away instead of through the encoder, which would
// store those chunks too, after a costly search for matches that are not there.
std::uint64_t ContainerFileWrite(const std::string& aSource, const std::string& aTarget,
                                 const std::function<void(std::int64_t)>& aProgress, const std::atomic<bool>& aStop,
                                 bool bStoreIncompressible = true, TSha256Digest* aChecksum = nullptr);

// True when the bytes look like compressed or encrypted data to LZMA: 1 to 256 MiB, every
// 64 KiB block with a byte entropy near 8 bits, the entropy given LZMA's literal context (the
// previous byte's top 3 bits) near 8 bits, and no repeated 16-byte string at any of the
// content-chosen sample points (which would let matches pay off). Fed in pieces.
class IncompressibleTest {
 public:
  void Add(const unsigned char* aData, std::size_t iSize);
  bool Result();

 private:
  void BlockEnd();
  std::uint64_t FCounts[8][256] = {};
  std::uint32_t FBlock[256] = {};
  std::size_t FBlockFill = 0;
  std::uint64_t FTotal = 0;
  unsigned FPrevious = 0;
  bool FFailed = false;
  unsigned char FTail[15] = {};
  std::size_t FTailSize = 0;
  std::vector<std::uint64_t> FAnchors;
};

}  // namespace pack
