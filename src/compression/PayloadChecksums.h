// The SHA-256 of every payload file and of the install script, carried by the installer as
// RT_RCDATA "SHA256SUMS" beside the containers (docs/checksums.md). Raw LZMA2 has no check
// of its own: a stored chunk with a flipped bit decodes without an error into wrong bytes,
// so a decoded file is compared with its checksum before it is written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using TSha256Digest = std::array<unsigned char, 32>;

// The resource's name (type RT_RCDATA).
inline constexpr const char16_t* kPayloadChecksumsResource = u"SHA256SUMS";

struct TPayloadChecksums {
  TSha256Digest Script{};
  // Entry k's file (resource "F"+k).
  std::vector<TSha256Digest> Files;
};

// SHA-256 (libgcrypt); safe on any thread.
TSha256Digest Sha256Of(const void* aData, std::size_t iSize);

// SHA-256 of data fed in pieces.
class TSha256 {
 public:
  TSha256();
  ~TSha256();
  TSha256(const TSha256&) = delete;
  TSha256& operator=(const TSha256&) = delete;
  void Add(const void* aData, std::size_t iSize);
  // The digest of everything added.
  TSha256Digest Result();

 private:
  void* FHandle = nullptr;
};

// The resource's bytes.
std::string PayloadChecksumsBuild(const TPayloadChecksums& aChecksums);
// The checksums the bytes hold; nullopt when they are not a well-formed resource (wrong
// magic, or a size that does not match the count).
std::optional<TPayloadChecksums> PayloadChecksumsParse(const void* aData, std::size_t iSize);
