#include "logtransport/LogFileFormat.h"

#include <gcrypt.h>

#include <algorithm>
#include <mutex>

#include "platform/utf.h"

namespace logfile {

void TByteBuffer::Grow(size_t aAtLeast) {
  size_t capacity = std::max<size_t>({aAtLeast, FCapacity * 2, 4096});
  std::unique_ptr<unsigned char[]> data(new unsigned char[capacity]);
  if (FSize) std::memcpy(data.get(), FData.get(), FSize);
  FData = std::move(data);
  FCapacity = capacity;
}

size_t Utf8Append(TByteBuffer& aOut, TextView aText) {
  unsigned char* start = aOut.Extend(aText.size() * 3);
  const size_t written = TextToUtf8Into(aText, reinterpret_cast<char*>(start));
  aOut.Shrink(aOut.Size() - aText.size() * 3 + written);
  return written;
}

size_t EntryAppend(TByteBuffer& aPayload, const TLogEntryView& e) {
  size_t at = aPayload.Size();
  aPayload.Extend(kEntryFixedSize);
  size_t app = Utf8Append(aPayload, e.AppName);
  size_t channel = Utf8Append(aPayload, e.Channel);
  size_t text = Utf8Append(aPayload, e.Content);
  unsigned char* p = aPayload.Data() + at;
  Put64(p, e.Time);
  Put32(p + 8, e.ProcessId);
  Put32(p + 12, e.ThreadId);
  Put32(p + 16, e.Color);
  p[20] = static_cast<unsigned char>(e.Kind);
  Put32(p + 21, static_cast<std::uint32_t>(app));
  Put32(p + 25, static_cast<std::uint32_t>(channel));
  Put32(p + 29, static_cast<std::uint32_t>(text));
  return aPayload.Size() - at;
}

bool EntriesParse(const unsigned char* p, size_t aSize, const std::function<void(TLogEntry&&)>& aTake) {
  const unsigned char* end = p + aSize;
  while (p < end) {
    if (static_cast<size_t>(end - p) < kEntryFixedSize) return false;
    TLogEntry e;
    e.Time = Get64(p);
    e.ProcessId = Get32(p + 8);
    e.ThreadId = Get32(p + 12);
    e.Color = Get32(p + 16);
    if (p[20] > kLogEntryKindLast) return false;
    e.Kind = static_cast<TLogEntryKind>(p[20]);
    std::uint64_t app = Get32(p + 21), channel = Get32(p + 25), text = Get32(p + 29);
    p += kEntryFixedSize;
    if (app + channel + text > static_cast<std::uint64_t>(end - p)) return false;
    auto take = [&p](std::uint64_t n) {
      Text t = Utf8ToText(std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(n)));
      p += n;
      return t;
    };
    e.AppName = take(app);
    e.Channel = take(channel);
    e.Text = take(text);
    aTake(std::move(e));
  }
  return true;
}

void CryptoInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    gcry_check_version(nullptr);
    // Keys live in ordinary memory: a secure-memory pool would need privileges we lack.
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

void RandomFill(unsigned char* aData, size_t aSize) {
  CryptoInit();
  gcry_create_nonce(aData, aSize);
}

void Crc32(const unsigned char* aData, size_t aSize, unsigned char aOut[kCrcSize]) {
  CryptoInit();
  gcry_md_hash_buffer(GCRY_MD_CRC32, aOut, aData, aSize);
}

bool FileKeyDerive(TextView aKeyText, const unsigned char aSalt[kSaltSize], std::uint32_t aIterations,
                   unsigned char aKey[kKeySize]) {
  CryptoInit();
  TByteBuffer utf8;
  Utf8Append(utf8, aKeyText);
  // PBKDF2 takes an empty passphrase badly; an empty key text is one zero byte.
  const unsigned char zero = 0;
  const void* pass = utf8.Size() ? static_cast<const void*>(utf8.Data()) : &zero;
  size_t passSize = utf8.Size() ? utf8.Size() : 1;
  return gcry_kdf_derive(pass, passSize, GCRY_KDF_PBKDF2, GCRY_MD_SHA256, aSalt, kSaltSize, aIterations, kKeySize,
                         aKey) == 0;
}

TSegmentCipher::TSegmentCipher() { CryptoInit(); }

TSegmentCipher::~TSegmentCipher() {
  if (FCipher) gcry_cipher_close(static_cast<gcry_cipher_hd_t>(FCipher));
}

bool TSegmentCipher::Start(const unsigned char* aFileKey, const unsigned char aNonce[kNonceSize]) {
  FEncrypted = aFileKey != nullptr;
  if (!FEncrypted) return true;
  // The segment key: HMAC-SHA256 of a label and the segment's nonce under the file key.
  static const char kLabel[] = "orvanta-log segment";
  unsigned char message[sizeof kLabel - 1 + kNonceSize];
  std::memcpy(message, kLabel, sizeof kLabel - 1);
  std::memcpy(message + sizeof kLabel - 1, aNonce, kNonceSize);
  gcry_md_hd_t md = nullptr;
  if (gcry_md_open(&md, GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC) != 0) return false;
  bool ok = gcry_md_setkey(md, aFileKey, kKeySize) == 0;
  unsigned char segmentKey[kKeySize];
  if (ok) {
    gcry_md_write(md, message, sizeof message);
    std::memcpy(segmentKey, gcry_md_read(md, GCRY_MD_SHA256), kKeySize);
  }
  gcry_md_close(md);
  if (!ok) return false;
  if (!FCipher) {
    gcry_cipher_hd_t h = nullptr;
    if (gcry_cipher_open(&h, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_GCM, 0) != 0) return false;
    FCipher = h;
  }
  ok = gcry_cipher_setkey(static_cast<gcry_cipher_hd_t>(FCipher), segmentKey, kKeySize) == 0;
  std::memset(segmentKey, 0, sizeof segmentKey);
  return ok;
}

namespace {

bool GcmBegin(gcry_cipher_hd_t h, std::uint64_t aSequence, const unsigned char* aAad, size_t aAadSize) {
  unsigned char iv[12] = {};
  Put64(iv + 4, aSequence);
  return gcry_cipher_reset(h) == 0 && gcry_cipher_setiv(h, iv, sizeof iv) == 0 &&
         gcry_cipher_authenticate(h, aAad, aAadSize) == 0;
}

}  // namespace

bool TSegmentCipher::KeyCheckCompute(const unsigned char* aHeader, unsigned char aTag[kTagSize]) {
  if (!FEncrypted) {
    std::memset(aTag, 0, kTagSize);
    return true;
  }
  auto h = static_cast<gcry_cipher_hd_t>(FCipher);
  // Sequence 0 is the header's; records count from 1.
  return GcmBegin(h, 0, aHeader, 48) && gcry_cipher_gettag(h, aTag, kTagSize) == 0;
}

bool TSegmentCipher::Seal(unsigned char* aRecord, size_t aPayloadSize, std::uint64_t aSequence, unsigned char* aCheck) {
  if (!FEncrypted) {
    Crc32(aRecord, kRecordHeaderSize + aPayloadSize, aCheck);
    return true;
  }
  auto h = static_cast<gcry_cipher_hd_t>(FCipher);
  unsigned char* payload = aRecord + kRecordHeaderSize;
  return GcmBegin(h, aSequence, aRecord, kRecordHeaderSize) && gcry_cipher_final(h) == 0 &&
         gcry_cipher_encrypt(h, payload, aPayloadSize, nullptr, 0) == 0 && gcry_cipher_gettag(h, aCheck, kTagSize) == 0;
}

bool TSegmentCipher::Open(unsigned char* aRecord, size_t aPayloadSize, std::uint64_t aSequence, const unsigned char* aCheck) {
  if (!FEncrypted) {
    unsigned char crc[kCrcSize];
    Crc32(aRecord, kRecordHeaderSize + aPayloadSize, crc);
    return std::memcmp(crc, aCheck, kCrcSize) == 0;
  }
  auto h = static_cast<gcry_cipher_hd_t>(FCipher);
  unsigned char* payload = aRecord + kRecordHeaderSize;
  return GcmBegin(h, aSequence, aRecord, kRecordHeaderSize) && gcry_cipher_final(h) == 0 &&
         gcry_cipher_decrypt(h, payload, aPayloadSize, nullptr, 0) == 0 && gcry_cipher_checktag(h, aCheck, kTagSize) == 0;
}

bool HeaderEncode(THeader& aHeader, TSegmentCipher& aCipher, unsigned char aOut[kHeaderSize]) {
  std::memset(aOut, 0, kHeaderSize);
  std::memcpy(aOut, kMagic, 8);
  Put16(aOut + 8, aHeader.Version);
  Put16(aOut + 10, aHeader.Encrypted ? kFlagEncrypted : 0);
  Put32(aOut + 12, aHeader.Iterations);
  std::memcpy(aOut + 16, aHeader.Salt, kSaltSize);
  std::memcpy(aOut + 32, aHeader.Nonce, kNonceSize);
  if (!aCipher.KeyCheckCompute(aOut, aHeader.KeyCheck)) return false;
  std::memcpy(aOut + 48, aHeader.KeyCheck, kTagSize);
  Crc32(aOut, 64, aOut + 64);
  return true;
}

bool HeaderDecode(const unsigned char* aIn, THeader& aHeader, std::string& aProblem) {
  if (std::memcmp(aIn, kMagic, 8) != 0) {
    aProblem = "no log file signature";
    return false;
  }
  unsigned char crc[kCrcSize];
  Crc32(aIn, 64, crc);
  if (std::memcmp(crc, aIn + 64, kCrcSize) != 0) {
    aProblem = "damaged header";
    return false;
  }
  aHeader.Version = Get16(aIn + 8);
  if (aHeader.Version != kVersion) {
    aProblem = "format version " + std::to_string(aHeader.Version) + " is not supported";
    return false;
  }
  std::uint16_t flags = Get16(aIn + 10);
  if (flags & ~kFlagEncrypted) {
    aProblem = "unknown header flags";
    return false;
  }
  aHeader.Encrypted = (flags & kFlagEncrypted) != 0;
  aHeader.Iterations = Get32(aIn + 12);
  if (aHeader.Encrypted && (aHeader.Iterations == 0 || aHeader.Iterations > kKdfIterationsMax)) {
    aProblem = "key derivation iterations out of range";
    return false;
  }
  std::memcpy(aHeader.Salt, aIn + 16, kSaltSize);
  std::memcpy(aHeader.Nonce, aIn + 32, kNonceSize);
  std::memcpy(aHeader.KeyCheck, aIn + 48, kTagSize);
  return true;
}

}  // namespace logfile
