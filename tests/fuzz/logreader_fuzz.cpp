// The log file reader: any bytes end in a clean end or one of the reader's verdicts; no
// crash, no hang, no read past the input, no allocation beyond its size.
// The first byte chooses what comes before the rest: nothing, or a valid header of an
// unencrypted or an encrypted file, so that records are reached as often as headers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "logtransport/LogFileFormat.h"
#include "logtransport/LogFileReader.h"

namespace {

const Text kKey = u"5A3C5A3C5A3C5A3C";

std::vector<std::uint8_t> HeaderMake(bool bEncrypted) {
  logfile::THeader h;
  h.Encrypted = bEncrypted;
  h.Iterations = bEncrypted ? 1000 : 0;
  std::memset(h.Salt, 0x11, sizeof h.Salt);
  std::memset(h.Nonce, 0x22, sizeof h.Nonce);
  unsigned char key[logfile::kKeySize];
  logfile::TSegmentCipher cipher;
  if (bEncrypted) logfile::FileKeyDerive(kKey, h.Salt, h.Iterations, key);
  cipher.Start(bEncrypted ? key : nullptr, h.Nonce);
  std::vector<std::uint8_t> out(logfile::kHeaderSize);
  logfile::HeaderEncode(h, cipher, out.data());
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  static const std::vector<std::uint8_t> plain = HeaderMake(false);
  static const std::vector<std::uint8_t> encrypted = HeaderMake(true);
  std::vector<std::uint8_t> input;
  if (aSize > 0 && aData[0] % 3 == 1) input = plain;
  if (aSize > 0 && aData[0] % 3 == 2) input = encrypted;
  if (aSize > 1) input.insert(input.end(), aData + 1, aData + aSize);
  // An exact-size copy, so that the sanitizer sees any read past it.
  std::vector<std::uint8_t> exact(input);
  TLogMemorySource source(exact.data(), exact.size());
  TLogFileReader reader(source, kKey);
  TLogEntry e;
  size_t entries = 0;
  while (reader.Next(e)) {
    // Every entry takes at least its fixed part in the file.
    if (++entries * logfile::kEntryFixedSize > exact.size()) {
      std::fprintf(stderr, "more entries than the bytes can hold\n");
      std::abort();
    }
  }
  if (reader.Status() == TLogReadStatus::Reading || reader.Offset() > exact.size()) {
    std::fprintf(stderr, "the reader stopped without a verdict\n");
    std::abort();
  }
  return 0;
}
