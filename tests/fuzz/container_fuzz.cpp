// The payload container decoder: any bytes either decode to exactly the declared size or
// end in one of the decoder's errors; no crash, no hang, no read past the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "compression/LZMAStream.h"

namespace {

// Sizes up to 2^31 - 1 are valid; keep the fuzzer's memory small by folding large ones into
// 16 MiB, except the ones the decoder must refuse before it allocates anything.
constexpr std::uint64_t kFoldAbove = 16u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  // An exact-size copy, so that the sanitizer sees any read past the container.
  std::vector<std::uint8_t> input(aData, aData + aSize);
  std::uint64_t declared = 0;
  if (input.size() >= 8) {
    for (int i = 7; i >= 0; --i) declared = (declared << 8) | input[i];
    if (declared > kFoldAbove && declared <= TLZMAStream::PlainSizeMax) {
      declared %= kFoldAbove;
      for (int i = 0; i < 8; ++i) input[i] = static_cast<std::uint8_t>(declared >> (8 * i));
    }
  }
  TMemoryStream compressed;
  compressed.Write(input.data(), static_cast<std::int32_t>(input.size()));
  compressed.SetPosition(0);
  TLZMAStream s;
  s.Compressed = &compressed;
  try {
    s.Decompress();
  } catch (const ECompressDataError& e) {
    if (e.Code() < 1 || e.Code() > 5) {
      std::fprintf(stderr, "unexpected data error code %d\n", e.Code());
      std::abort();
    }
    return 0;
  } catch (const ECompressInternalError& e) {
    // Only a decoder result outside the known ones comes here; liblzma gives none for data.
    std::fprintf(stderr, "internal error: %s\n", e.what());
    std::abort();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "not a decoder error: %s\n", e.what());
    std::abort();
  }
  if (static_cast<std::uint64_t>(s.Decompressed->Size()) != declared) {
    std::fprintf(stderr, "decoded %lld bytes, header says %llu\n", static_cast<long long>(s.Decompressed->Size()),
                 static_cast<unsigned long long>(declared));
    std::abort();
  }
  return 0;
}
