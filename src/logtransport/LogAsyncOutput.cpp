#include "logtransport/LogAsyncOutput.h"

#include <cstring>
#include <utility>

namespace {

// A queued entry: this head, then the three texts' UTF-16 code units, padded to 8 bytes.
struct THead {
  std::uint64_t Time;
  std::uint32_t ProcessId;
  std::uint32_t ThreadId;
  std::uint32_t Color;
  std::uint32_t AppSize;
  std::uint32_t ChannelSize;
  std::uint32_t ContentSize;
  std::uint8_t Kind;
};

size_t Align8(size_t n) { return (n + 7) & ~size_t(7); }

size_t QueuedSize(const TLogEntryView& e) {
  return Align8(sizeof(THead) + sizeof(char16_t) * (e.AppName.size() + e.Channel.size() + e.Content.size()));
}

}  // namespace

TLogAsyncOutput::TLogAsyncOutput(std::unique_ptr<TLogOutput> aOutput, std::uint64_t aQueueBytes, bool bDropWhenFull)
    : FOutput(std::move(aOutput)), FLimit(static_cast<size_t>(aQueueBytes)), FDropWhenFull(bDropWhenFull) {
  FThread = std::thread([this] { Run(); });
}

TLogAsyncOutput::~TLogAsyncOutput() { Close(); }

void TLogAsyncOutput::Write(const TLogEntryView& e) {
  const size_t need = QueuedSize(e);
  std::unique_lock<std::mutex> lock(FLock);
  if (FDropWhenFull && FPending.Size() != 0 && FPending.Size() + need > FLimit) return;
  // Room is waited for, never made by dropping; an empty queue takes any entry.
  FSpace.wait(lock, [&] { return FClosed || FPending.Size() == 0 || FPending.Size() + need <= FLimit; });
  if (FClosed) return;
  const bool wasEmpty = FPending.Size() == 0;
  unsigned char* p = FPending.Extend(need);
  THead head{e.Time, e.ProcessId, e.ThreadId, e.Color, static_cast<std::uint32_t>(e.AppName.size()),
             static_cast<std::uint32_t>(e.Channel.size()), static_cast<std::uint32_t>(e.Content.size()),
             static_cast<std::uint8_t>(e.Kind)};
  std::memcpy(p, &head, sizeof head);
  p += sizeof head;
  for (TextView t : {e.AppName, e.Channel, e.Content}) {
    if (t.empty()) continue;
    std::memcpy(p, t.data(), t.size() * sizeof(char16_t));
    p += t.size() * sizeof(char16_t);
  }
  if (wasEmpty) FWork.notify_one();
}

void TLogAsyncOutput::Run() {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    FWork.wait(lock, [&] { return FPending.Size() != 0 || FFlushAsked != FFlushDone || FStop; });
    if (FPending.Size() != 0) {
      std::swap(FPending, FWriting);
      FSpace.notify_all();
      lock.unlock();
      const unsigned char* p = FWriting.Data();
      const unsigned char* end = p + FWriting.Size();
      while (p < end) {
        THead head;
        std::memcpy(&head, p, sizeof head);
        // Texts start right after the head, which is a multiple of 2 bytes long.
        const char16_t* text = reinterpret_cast<const char16_t*>(p + sizeof head);
        TLogEntryView e;
        e.Time = head.Time;
        e.ProcessId = head.ProcessId;
        e.ThreadId = head.ThreadId;
        e.Color = head.Color;
        e.Kind = static_cast<TLogEntryKind>(head.Kind);
        e.AppName = TextView(text, head.AppSize);
        e.Channel = TextView(text + head.AppSize, head.ChannelSize);
        e.Content = TextView(text + head.AppSize + head.ChannelSize, head.ContentSize);
        FOutput->Write(e);
        p += Align8(sizeof head + sizeof(char16_t) * (head.AppSize + head.ChannelSize + head.ContentSize));
      }
      FOutput->BatchEnd();
      FWriting.Clear();
      lock.lock();
      continue;  // what came meanwhile is written before a flush is answered
    }
    if (FFlushAsked != FFlushDone) {
      std::uint64_t asked = FFlushAsked;
      lock.unlock();
      FOutput->Flush();
      lock.lock();
      FFlushDone = asked;
      FDone.notify_all();
      continue;
    }
    if (FStop) break;
  }
}

void TLogAsyncOutput::Flush() {
  std::unique_lock<std::mutex> lock(FLock);
  if (FStop) return;
  std::uint64_t ticket = ++FFlushAsked;
  FWork.notify_one();
  FDone.wait(lock, [&] { return FFlushDone >= ticket; });
}

void TLogAsyncOutput::Close() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (FStop) return;
    FStop = true;
    FClosed = true;
    FWork.notify_one();
    FSpace.notify_all();
  }
  // The writer empties the queue before it stops.
  if (FThread.joinable()) FThread.join();
  FOutput->Close();
}
