// The log transport's speed: 200,000 lines of about 100 characters through the channel into
// an encrypted asynchronous log file on the simulated machine (transport closed, file
// flushed), against the same lines written with buffered plain file writes and through
// spdlog's asynchronous file logger (unencrypted). Prints "name: value" lines:
//   log_seconds, plain_write_seconds, spdlog_seconds   best of five runs each
//   log_vs_plain_write_ratio                            goal <= 3
//   log_vs_spdlog_ratio                                 goal <= 1.5
#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "logtransport/LogFileKey.h"
#include "logtransport/LogTransport.h"
#include "BenchMachine.h"
#include "platform/sim/machine.h"
#include "platform/utf.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLines = 200000;
constexpr int kRuns = 5;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Lines like the installer's: a tag, a counter, words; about 100 characters.
std::vector<Text> LinesMake() {
  std::vector<Text> lines;
  lines.reserve(kLines);
  for (int i = 0; i < kLines; ++i) {
    std::string s = "[Installer] FsMove: C:\\Program Files (x86)\\Orvanta\\bin\\module" + std::to_string(i % 977) +
                    ".dll -> replaced, run " + std::to_string(i);
    s.resize(100, '.');
    lines.push_back(T(s));
  }
  return lines;
}

double Ours(const std::vector<Text>& aLines, const Text& aFile) {
  auto t0 = std::chrono::steady_clock::now();
  TLogTransport transport(u"Setup.exe");
  transport.ConnectionsSet(u"file(filename=\"" + aFile +
                           u"\",      async.enabled=\"true\", async.queue=\"10 MB\",      maxparts=\"1\", maxsize=\"500 MB\",      "
                           u"encrypt=\"true\", key=\"" +
                           LogFileKeyForm() + u"\")");
  transport.EnabledSet(true);
  TLogChannel channel(transport, u"Main");
  for (const Text& line : aLines) channel.LogMessage(line);
  transport.Close();
  return Seconds(std::chrono::steady_clock::now() - t0);
}

double Plain(const std::vector<std::string>& aLines, const std::string& aHostFile) {
  auto t0 = std::chrono::steady_clock::now();
  std::FILE* f = std::fopen(aHostFile.c_str(), "wb");
  for (const std::string& line : aLines) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fputc('\n', f);
  }
  std::fflush(f);
  ::fsync(::fileno(f));  // flushed to the disk, as the transport's Close does
  std::fclose(f);
  return Seconds(std::chrono::steady_clock::now() - t0);
}

double Spdlog(const std::vector<std::string>& aLines, const std::string& aHostFile, int aRun) {
  auto t0 = std::chrono::steady_clock::now();
  spdlog::init_thread_pool(8192, 1);
  auto logger = spdlog::create_async<spdlog::sinks::basic_file_sink_mt>("bench" + std::to_string(aRun), aHostFile, true);
  for (const std::string& line : aLines) logger->info(line);
  logger.reset();
  spdlog::shutdown();  // the queue is written and the file closed
  int fd = ::open(aHostFile.c_str(), O_RDONLY);
  ::fsync(fd);
  ::close(fd);
  return Seconds(std::chrono::steady_clock::now() - t0);
}

}  // namespace

int main() {
  const std::string machine = BenchMachineAttach("orvanta-log-bench");

  const std::vector<Text> lines = LinesMake();
  std::vector<std::string> utf8;
  for (const Text& l : lines) utf8.push_back(TextToUtf8(l));
  const std::string hostFolder = sim::DriveHostFolder(machine, 'C') + "/Users/User/Downloads";

  double ours = 1e9, plain = 1e9, peer = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    ours = std::min(ours, Ours(lines, u"C:\\Users\\User\\Downloads\\bench" + T(std::to_string(run)) + u".log"));
    plain = std::min(plain, Plain(utf8, hostFolder + "/plain" + std::to_string(run) + ".txt"));
    peer = std::min(peer, Spdlog(utf8, hostFolder + "/spdlog" + std::to_string(run) + ".txt", run));
  }
  std::printf("log_seconds: %.3f\n", ours);
  std::printf("plain_write_seconds: %.3f\n", plain);
  std::printf("log_vs_plain_write_ratio: %.2f\n", ours / plain);
  std::printf("spdlog_seconds: %.3f\n", peer);
  std::printf("log_vs_spdlog_ratio: %.2f\n", ours / peer);
  std::error_code ec;
  fs::remove_all(machine, ec);
  return 0;
}
