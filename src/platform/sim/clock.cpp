// The virtual clock: a message loop that has nothing to do but wait for a timer jumps to the
// timer's due time instead of sleeping, so a 15-second close timer costs no wall time. The
// jump is one process-wide offset, so the tick count and the local time stay consistent.
#include "platform/sim/clock.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace sim {

namespace {
std::atomic<std::uint64_t> gSkipped{0};

std::uint64_t HostTickMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The scaled clock: tick = FVirtualAnchor + (host - FHostAnchor) * FScale. Off (scale 1) the
// tick is the host's.
struct TScale {
  std::mutex Lock;
  std::atomic<bool> On{false};
  double Scale = 1;
  std::uint64_t HostAnchor = 0;
  std::uint64_t VirtualAnchor = 0;
};

TScale& ScaleState() {
  static TScale* s = [] {
    auto* r = new TScale;
    if (const char* v = std::getenv("ORV_SIM_TIME_SCALE")) {
      double scale = std::atof(v);
      if (scale > 0 && scale != 1) {
        r->Scale = scale;
        r->HostAnchor = r->VirtualAnchor = HostTickMs();
        r->On.store(true);
      }
    }
    return r;
  }();
  return *s;
}

std::uint64_t ScaledTickMs() {
  std::uint64_t host = HostTickMs();
  TScale& s = ScaleState();
  if (!s.On.load(std::memory_order_acquire)) return host;
  std::lock_guard<std::mutex> g(s.Lock);
  return s.VirtualAnchor + static_cast<std::uint64_t>(static_cast<double>(host - s.HostAnchor) * s.Scale);
}
}  // namespace

void TimeScaleSet(double aScale) {
  if (!(aScale > 0)) return;
  TScale& s = ScaleState();
  std::uint64_t virtualNow = ScaledTickMs();
  std::lock_guard<std::mutex> g(s.Lock);
  s.HostAnchor = HostTickMs();
  s.VirtualAnchor = virtualNow;
  s.Scale = aScale;
  s.On.store(virtualNow != s.HostAnchor || aScale != 1, std::memory_order_release);
}

double TimeScaleGet() {
  TScale& s = ScaleState();
  std::lock_guard<std::mutex> g(s.Lock);
  return s.Scale;
}

std::uint32_t ClockRealMs(std::uint32_t aMilliseconds) {
  if (aMilliseconds == 0xFFFFFFFF || aMilliseconds == 0) return aMilliseconds;
  TScale& s = ScaleState();
  if (!s.On.load(std::memory_order_acquire)) return aMilliseconds;
  double scale = TimeScaleGet();
  double real = static_cast<double>(aMilliseconds) / scale;
  return static_cast<std::uint32_t>(real) + (real > static_cast<std::uint32_t>(real) ? 1u : 0u);
}

bool VirtualClockOn() {
  // Read at each wait, as the process's other switches are: a test may change it.
  const char* v = std::getenv("ORV_SIM_VIRTUAL_CLOCK");
  return v && std::strcmp(v, "1") == 0;
}

void VirtualClockAdvance(std::uint64_t aMilliseconds) {
  if (VirtualClockOn()) gSkipped.fetch_add(aMilliseconds, std::memory_order_acq_rel);
}

std::uint64_t ClockTickMs() { return ScaledTickMs() + gSkipped.load(std::memory_order_acquire); }

std::chrono::system_clock::time_point ClockSystemNow() {
  // The scaled clock's lead over the host's moves the wall clock with it.
  std::uint64_t host = HostTickMs();
  auto lead = static_cast<std::int64_t>(ScaledTickMs() - host);
  return std::chrono::system_clock::now() +
         std::chrono::milliseconds(lead + static_cast<std::int64_t>(gSkipped.load(std::memory_order_acquire)));
}

}  // namespace sim
