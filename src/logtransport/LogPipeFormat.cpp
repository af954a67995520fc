#include "logtransport/LogPipeFormat.h"

#include <algorithm>
#include <cstring>

namespace logpipe {

void HelloAppend(logfile::TByteBuffer& aOut) {
  unsigned char* p = aOut.Extend(kHelloSize);
  std::memcpy(p, kMagic, sizeof kMagic);
  logfile::Put16(p + 8, kVersion);
  logfile::Put16(p + 10, 0);
}

void FrameAppend(logfile::TByteBuffer& aOut, const unsigned char* aPayload, size_t aSize) {
  unsigned char* p = aOut.Extend(kFrameHeaderSize + aSize);
  logfile::Put32(p, static_cast<std::uint32_t>(aSize));
  if (aSize) std::memcpy(p + kFrameHeaderSize, aPayload, aSize);
}

TLogEntryView EntryFitted(const TLogEntryView& aEntry) {
  TLogEntryView e = aEntry;
  if (logfile::EntrySizeBound(e) <= kFramePayloadMax) return e;
  // Names are short; the text gives way. At 3 bytes per code unit it surely fits.
  const size_t fixed = logfile::kEntryFixedSize + 3 * (e.AppName.size() + e.Channel.size());
  size_t keep = fixed < kFramePayloadMax ? (kFramePayloadMax - fixed) / 3 : 0;
  keep = std::min(keep, e.Content.size());
  if (keep > 0 && keep < e.Content.size() && e.Content[keep - 1] >= 0xD800 && e.Content[keep - 1] < 0xDC00) --keep;
  e.Content = e.Content.substr(0, keep);
  if (logfile::EntrySizeBound(e) > kFramePayloadMax) {
    e.AppName = TextView();
    e.Channel = TextView();
  }
  return e;
}

}  // namespace logpipe

bool TLogPipeReader::Push(const unsigned char* aData, size_t aSize) {
  using namespace logpipe;
  while (aSize > 0 && FProblem.empty()) {
    // What the current piece still needs: the hello, a frame header, or the frame's payload.
    size_t need;
    if (!FHelloSeen) need = kHelloSize;
    else if (FBuffer.size() < kFrameHeaderSize) need = kFrameHeaderSize;
    else need = kFrameHeaderSize + logfile::Get32(reinterpret_cast<const unsigned char*>(FBuffer.data()));
    size_t take = std::min(aSize, need - FBuffer.size());
    FBuffer.append(reinterpret_cast<const char*>(aData), take);
    aData += take;
    aSize -= take;
    if (FBuffer.size() < need) break;
    const auto* b = reinterpret_cast<const unsigned char*>(FBuffer.data());
    if (!FHelloSeen) {
      if (std::memcmp(b, kMagic, sizeof kMagic) != 0 || logfile::Get16(b + 8) != kVersion || logfile::Get16(b + 10) != 0)
        FProblem = "not a log console client";
      FHelloSeen = true;
      FBuffer.clear();
    } else if (need == kFrameHeaderSize) {
      std::uint32_t length = logfile::Get32(b);
      if (length == 0 || length > kFramePayloadMax) FProblem = "frame length out of range";
    } else {
      std::deque<TLogEntry> entries;
      bool ok = logfile::EntriesParse(b + kFrameHeaderSize, FBuffer.size() - kFrameHeaderSize,
                                      [&entries](TLogEntry&& e) { entries.push_back(std::move(e)); });
      // A frame is taken whole or not at all.
      if (!ok) FProblem = "malformed entry";
      else for (auto& e : entries) FEntries.push_back(std::move(e));
      FBuffer.clear();
    }
  }
  return FProblem.empty();
}

bool TLogPipeReader::Next(TLogEntry& aEntry) {
  if (FEntries.empty()) return false;
  aEntry = std::move(FEntries.front());
  FEntries.pop_front();
  return true;
}
