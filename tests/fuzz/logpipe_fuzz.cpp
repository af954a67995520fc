// The log console's reader of a client's stream: any bytes, arriving in pieces of any size,
// end in entries or one verdict; no crash, no hang, nothing kept beyond a frame.
// The first byte chooses whether a valid hello comes first (so that frames are reached as
// often as hellos) and the size of the pieces the rest arrives in.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "logtransport/LogPipeFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  if (aSize == 0) return 0;
  const std::uint8_t mode = aData[0];
  std::vector<std::uint8_t> input;
  if (mode & 1) {
    logfile::TByteBuffer hello;
    logpipe::HelloAppend(hello);
    input.assign(hello.Data(), hello.Data() + hello.Size());
  }
  input.insert(input.end(), aData + 1, aData + aSize);
  const std::size_t piece = 1 + (mode >> 1);
  TLogPipeReader reader;
  std::size_t entries = 0;
  for (std::size_t at = 0; at < input.size(); at += piece) {
    const std::size_t n = input.size() - at < piece ? input.size() - at : piece;
    const bool sound = reader.Push(input.data() + at, n);
    TLogEntry e;
    while (reader.Next(e)) {
      // An entry takes at least its fixed part of the input.
      if (++entries * logfile::kEntryFixedSize > input.size()) std::abort();
      if (static_cast<std::uint8_t>(e.Kind) > kLogEntryKindLast) std::abort();
    }
    if (!sound) {
      if (reader.Problem().empty()) std::abort();
      break;
    }
  }
  return 0;
}
