// The baseline of the payload benchmarks: the containers of a loaded installer, decoded with
// liblzma alone, as a program that only decodes them would.
#pragma once

#include <lzma.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "params/uMiscLean.h"
#include "platform/win32api.h"

namespace benchbase {

struct Container {
  const unsigned char* Data;
  size_t Size;
};

// "F0", "F1"... of the module, in order, up to the first that is missing.
inline std::vector<Container> Containers(win::HMODULE aModule) {
  std::vector<Container> out;
  for (int k = 0;; ++k) {
    Text name = u"F" + T(std::to_string(k));
    win::HRSRC r = win::FindResourceW(aModule, name.c_str(), win::RT_RCDATA());
    if (!r) break;
    out.push_back({static_cast<const unsigned char*>(win::LockResource(win::LoadResource(aModule, r))),
                   win::SizeofResource(aModule, r)});
  }
  return out;
}

// The decode a program would do with liblzma alone: header, then one raw LZMA2 buffer decode
// into an output buffer allocated once.
inline size_t PlainDecode(const Container& c, std::vector<unsigned char>& aOut) {
  std::uint64_t size = 0;
  for (int i = 7; i >= 0; --i) size = (size << 8) | c.Data[i];
  unsigned prop = c.Data[8];
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 4);
  options.dict_size = prop >= 40 ? 0xFFFFFFFFu : (2u | (prop & 1u)) << (prop / 2 + 11);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  aOut.assign(size, 0);
  size_t inPos = 9, outPos = 0;
  lzma_ret ret = lzma_raw_buffer_decode(filters, nullptr, c.Data, &inPos, c.Size, aOut.data(), &outPos, aOut.size());
  if (ret != LZMA_OK && ret != LZMA_STREAM_END) std::fprintf(stderr, "liblzma: error %d\n", static_cast<int>(ret));
  return outPos;
}

// Seconds to decode every container, each file into a buffer of its own, as a program that
// decodes files allocates them.
inline double PlainDecodeAllSeconds(const std::vector<Container>& aContainers) {
  auto t0 = std::chrono::steady_clock::now();
  for (const auto& c : aContainers) {
    std::vector<unsigned char> fresh;
    PlainDecode(c, fresh);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace benchbase
