#include "compression/PayloadChecksums.h"

#include <gcrypt.h>

#include <cstring>
#include <new>

#include "logtransport/LogFileFormat.h"

namespace {

constexpr char kMagic[8] = {'O', 'R', 'V', 'S', 'H', 'A', '0', '1'};
constexpr std::size_t kHeaderSize = 8 + 4;

}  // namespace

TSha256Digest Sha256Of(const void* aData, std::size_t iSize) {
  logfile::CryptoInit();
  TSha256Digest d{};
  gcry_md_hash_buffer(GCRY_MD_SHA256, d.data(), aData, iSize);
  return d;
}

TSha256::TSha256() {
  logfile::CryptoInit();
  gcry_md_hd_t h = nullptr;
  if (gcry_md_open(&h, GCRY_MD_SHA256, 0) != 0 || !h) throw std::bad_alloc();
  FHandle = h;
}

TSha256::~TSha256() { gcry_md_close(static_cast<gcry_md_hd_t>(FHandle)); }

void TSha256::Add(const void* aData, std::size_t iSize) { gcry_md_write(static_cast<gcry_md_hd_t>(FHandle), aData, iSize); }

TSha256Digest TSha256::Result() {
  TSha256Digest d{};
  std::memcpy(d.data(), gcry_md_read(static_cast<gcry_md_hd_t>(FHandle), GCRY_MD_SHA256), d.size());
  return d;
}

std::string PayloadChecksumsBuild(const TPayloadChecksums& aChecksums) {
  std::string out(kMagic, sizeof kMagic);
  const auto n = static_cast<std::uint32_t>(aChecksums.Files.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
  out.append(reinterpret_cast<const char*>(aChecksums.Script.data()), aChecksums.Script.size());
  for (const TSha256Digest& d : aChecksums.Files) out.append(reinterpret_cast<const char*>(d.data()), d.size());
  return out;
}

std::optional<TPayloadChecksums> PayloadChecksumsParse(const void* aData, std::size_t iSize) {
  const auto* p = static_cast<const unsigned char*>(aData);
  if (!p || iSize < kHeaderSize + 32 || std::memcmp(p, kMagic, sizeof kMagic) != 0) return std::nullopt;
  std::uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = (n << 8) | p[8 + i];
  if ((iSize - kHeaderSize) / 32 != std::size_t{n} + 1 || (iSize - kHeaderSize) % 32 != 0) return std::nullopt;
  TPayloadChecksums c;
  p += kHeaderSize;
  std::memcpy(c.Script.data(), p, 32);
  c.Files.resize(n);
  for (std::uint32_t k = 0; k < n; ++k) std::memcpy(c.Files[k].data(), p + 32 * (k + 1), 32);
  return c;
}
