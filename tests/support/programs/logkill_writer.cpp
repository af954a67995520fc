// A helper program for the log transport's crash test: logs from several threads into an
// encrypted, asynchronous log file until it is killed from outside.
//   logkill_writer FILE KEY THREADS [COUNT]
// Thread t writes the entries "t n" with n = 0, 1, 2 ... and a filler, so that a reader can
// tell whether any entry of a thread is missing before the last one it finds. With COUNT,
// each thread writes that many and the program returns at once, leaving what is still queued
// to the transport's finalisation.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "logtransport/LogTransport.h"
#include "platform/utf.h"
#include "platform/win32api.h"

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const Text file = Utf8ToText(argv[1]);
  const Text key = Utf8ToText(argv[2]);
  const int threads = std::atoi(argv[3]);
  const unsigned count = argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : ~0u;
  TLogTransport* transport = LogTransportGet();
  transport->ConnectionsSet(u"file(filename=\"" + file + u"\", async.enabled=\"true\", async.queue=\"1 MB\", encrypt=\"true\", key=\"" +
                            key + u"\")");
  transport->EnabledSet(true);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t, count] {
      const Text filler(60, u'x');
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
      for (unsigned n = 0; n < count && std::chrono::steady_clock::now() < until; ++n) {
        LogChannelMainGet()->LogMessage(T(std::to_string(t) + " " + std::to_string(n) + " ") + filler);
        if (count == ~0u && n % 16 == 15) win::Sleep(1);
      }
    });
  }
  // Killed long before this; should nobody come, it ends by itself.
  for (auto& w : workers) w.join();
  return 0;
}
