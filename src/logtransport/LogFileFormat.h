// The log file format: segment headers, records and the entries inside them (docs/log-file.md).
//
// A file is one or more segments. A segment is a header followed by records; each record is
// self-delimiting and carries its own authentication tag (AES-256-GCM) or, unencrypted, its
// own CRC-32, so that every record that was whole when a writer died can still be read.
// Each file output draws a random salt once and derives the file key from the key text with
// PBKDF2-SHA256; each segment draws a random nonce from which its own key is made, and its
// records count from 1, the count being the cipher's nonce: no nonce repeats under a key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "logtransport/LogEntry.h"
#include "platform/win32api_types.h"

namespace logfile {

constexpr unsigned char kMagic[8] = {0x89, 'O', 'R', 'V', 'L', 'O', 'G', '\n'};
constexpr std::uint16_t kVersion = 1;
constexpr std::uint16_t kFlagEncrypted = 0x0001;

constexpr std::uint32_t kKdfIterations = 10000;       // a few ms, once per file
constexpr std::uint32_t kKdfIterationsMax = 100000;  // what a reader accepts at most
constexpr size_t kSaltSize = 16;
constexpr size_t kNonceSize = 16;
constexpr size_t kKeySize = 32;
constexpr size_t kTagSize = 16;
constexpr size_t kHeaderSize = 68;

constexpr unsigned char kRecordMagic[4] = {'R', 'E', 'C', 0x1E};
constexpr size_t kRecordHeaderSize = 16;
constexpr size_t kCrcSize = 4;
// A record's payload at most; a writer seals a batch once it holds kBatchPayload.
constexpr size_t kRecordPayloadMax = 16u << 20;
constexpr size_t kBatchPayload = 64u << 10;
// Fixed part of an entry in a payload: time, process, thread, colour, kind, three lengths.
constexpr size_t kEntryFixedSize = 8 + 4 + 4 + 4 + 1 + 4 + 4 + 4;

inline size_t RecordCheckSize(bool bEncrypted) { return bEncrypted ? kTagSize : kCrcSize; }

// Little-endian fields.
inline void Put16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void Put32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void Put64(unsigned char* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline std::uint16_t Get16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t Get32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t Get64(const unsigned char* p) {
  return static_cast<std::uint64_t>(Get32(p)) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}

// A growable byte buffer that does not clear what it grows by (std::vector would).
class TByteBuffer {
 public:
  unsigned char* Data() { return FData.get(); }
  const unsigned char* Data() const { return FData.get(); }
  size_t Size() const { return FSize; }
  void Clear() { FSize = 0; }
  // Makes room for aMore bytes after Size; the pointer to them.
  unsigned char* Extend(size_t aMore) {
    if (FSize + aMore > FCapacity) Grow(FSize + aMore);
    unsigned char* p = FData.get() + FSize;
    FSize += aMore;
    return p;
  }
  void Resize(size_t aSize) {
    if (aSize > FCapacity) Grow(aSize);
    FSize = aSize;
  }
  void Shrink(size_t aSize) { FSize = aSize; }

 private:
  void Grow(size_t aAtLeast);
  std::unique_ptr<unsigned char[]> FData;
  size_t FSize = 0;
  size_t FCapacity = 0;
};

// Appends the UTF-8 form of aText (unpaired surrogates become U+FFFD); the bytes written.
size_t Utf8Append(TByteBuffer& aOut, TextView aText);
// Bytes an entry takes in a payload, at most (its texts counted at 3 bytes per code unit).
inline size_t EntrySizeBound(const TLogEntryView& e) {
  return kEntryFixedSize + 3 * (e.AppName.size() + e.Channel.size() + e.Content.size());
}
// Appends an entry to a payload; the bytes written.
size_t EntryAppend(TByteBuffer& aPayload, const TLogEntryView& aEntry);
// Hands every entry of a payload to aTake in order; false when the payload is malformed (an
// entry cut short, a kind unknown), after the entries before the fault.
bool EntriesParse(const unsigned char* p, size_t aSize, const std::function<void(TLogEntry&&)>& aTake);

// libgcrypt, set up once for the process (thread-safe).
void CryptoInit();
// Random bytes for salts and nonces.
void RandomFill(unsigned char* aData, size_t aSize);
// CRC-32 (IEEE 802.3) as 4 bytes, most significant first.
void Crc32(const unsigned char* aData, size_t aSize, unsigned char aOut[kCrcSize]);

// The file key: PBKDF2-SHA256 of the key text (UTF-8) with the file's salt.
bool FileKeyDerive(TextView aKeyText, const unsigned char aSalt[kSaltSize], std::uint32_t aIterations,
                   unsigned char aKey[kKeySize]);

struct THeader {
  bool Encrypted = false;
  std::uint16_t Version = kVersion;
  std::uint32_t Iterations = 0;
  unsigned char Salt[kSaltSize] = {};
  unsigned char Nonce[kNonceSize] = {};
  unsigned char KeyCheck[kTagSize] = {};
};

// The cipher of one segment: its key, made from the file key and the segment's nonce, seals
// and opens its records. Unencrypted segments use a CRC-32 instead.
class TSegmentCipher {
 public:
  TSegmentCipher();
  ~TSegmentCipher();
  TSegmentCipher(const TSegmentCipher&) = delete;
  TSegmentCipher& operator=(const TSegmentCipher&) = delete;

  // Starts a segment. aFileKey null: unencrypted.
  bool Start(const unsigned char* aFileKey, const unsigned char aNonce[kNonceSize]);
  bool Encrypted() const { return FEncrypted; }
  // The key-check value of a header whose first 48 bytes are aHeader.
  bool KeyCheckCompute(const unsigned char* aHeader, unsigned char aTag[kTagSize]);
  // aRecord: the 16-byte record header followed by aPayloadSize bytes of payload, which are
  // encrypted in place; the check (tag or CRC) is written to aCheck.
  bool Seal(unsigned char* aRecord, size_t aPayloadSize, std::uint64_t aSequence, unsigned char* aCheck);
  // The reverse: false when the record is not authentic (the payload is then unusable).
  bool Open(unsigned char* aRecord, size_t aPayloadSize, std::uint64_t aSequence, const unsigned char* aCheck);

 private:
  void* FCipher = nullptr;  // gcry_cipher_hd_t
  bool FEncrypted = false;
};

// Encodes a header; aCipher must have been started with the header's key and nonce.
bool HeaderEncode(THeader& aHeader, TSegmentCipher& aCipher, unsigned char aOut[kHeaderSize]);
// The fields of a header whose CRC is right and whose magic and version are ours; false
// otherwise (aProblem names what is wrong).
bool HeaderDecode(const unsigned char* aIn, THeader& aHeader, std::string& aProblem);

inline void RecordHeaderWrite(unsigned char* p, std::uint32_t aPayloadSize, std::uint64_t aSequence) {
  std::memcpy(p, kRecordMagic, 4);
  Put32(p + 4, aPayloadSize);
  Put64(p + 8, aSequence);
}

}  // namespace logfile
