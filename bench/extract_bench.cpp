// Extraction of the sample product, measured against a plain liblzma raw decode of the same
// containers, and its peak memory against the budget. Prints "name: value" lines:
//   extract_vs_liblzma_ratio      FilesExtract of all entries / in-process liblzma decode
//   extract_peak_rss_mib          peak resident memory of a process that extracts
//   extract_peak_rss_budget_mib   largest decoded file + largest container + 32 MiB + 16 MiB
//   extract_seconds, liblzma_seconds  the two times of the ratio (the best of five runs each)
//   extract_vs_7zip_ratio         the same extraction / `7zz x` of the same files packed as a
//                                 non-solid 7z archive with the same LZMA2 settings (-m0=lzma2
//                                 -mx=7 -md=32m -mfb=64 -ms=off), best of five each, both on the
//                                 cores this process may use
//   7zip_seconds, 7zip_peak_rss_mib   7-Zip's best time, and its peak memory (the highest of the five)
// Packs the sample product that the build generates (or takes a packed one: extract_bench SETUP).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "LiblzmaBaseline.h"
#include "installer/uMain.h"
#include "params/uMiscLean.h"
#include "BenchMachine.h"
#include "platform/sim/machine.h"
#include "platform/utf.h"
#include "platform/win32api.h"

namespace fs = std::filesystem;

namespace {

using benchbase::Container;
using benchbase::Containers;
using benchbase::PlainDecode;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Runs a shell command as a child; its wall time, and its peak memory in MiB (of the
// largest process it made, which for `7zz x` is 7-Zip itself). False when it failed.
bool Timed(const std::string& aCommand, double& aSeconds, double& aRssMib) {
  auto t0 = std::chrono::steady_clock::now();
  pid_t child = ::fork();
  if (child == 0) {
    ::execl("/bin/sh", "sh", "-c", aCommand.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(child, &status, 0, &usage);
  aSeconds = Seconds(std::chrono::steady_clock::now() - t0);
  aRssMib = static_cast<double>(std::max(usage.ru_maxrss, 0L)) / 1024.0;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

win::HMODULE LoadSetup(const Text& aWinPath) { return win::LoadLibraryW(aWinPath.c_str()); }

bool Extract(win::HMODULE aModule, const Text& aFolder) {
  TForm1 form;
  form.tmrExecute->EnabledSet(false);  // the extraction alone, not the installation sequence
  form.ResourceModule = aModule;
  form.InstallScriptLoad();
  return form.FilesExtract(aFolder);
}

}  // namespace

int main(int argc, char** argv) {
  std::string setupHost;
  fs::path scratch = fs::temp_directory_path() / ("orvanta-extract-bench-" + std::to_string(::getpid()));
  if (argc >= 2) {
    setupHost = argv[1];
  } else {
    fs::path build = fs::read_symlink("/proc/self/exe").parent_path().parent_path();
    fs::path packer = build / "tools" / "orvanta-pack" / "orvanta-pack";
    fs::path product = build / "sample-product";
    if (!fs::exists(packer) || !fs::exists(product / "InstallScript.txt")) {
      std::fprintf(stderr, "extract_bench: build orvanta-pack and the sample product first\n");
      return 2;
    }
    fs::create_directories(scratch);
    setupHost = (scratch / "Setup").string();
    std::string cmd = "'" + packer.string() + "' --script '" + (product / "InstallScript.txt").string() + "' --from '" +
                      (product / "files").string() + "' --out '" + setupHost + "' --version 1.0.0.1 --target linux --stub '" +
                      packer.string() + "' > /dev/null";
    if (std::system(cmd.c_str()) != 0) {
      std::fprintf(stderr, "extract_bench: orvanta-pack failed\n");
      return 2;
    }
  }
  // 7-Zip over the same files, packed as a user would compare: non-solid, LZMA2, the same
  // dictionary and fast bytes.
  double best7z = 0, rss7z = 0;
  // First, while this process is small: a child begins as a copy of it, and its peak memory
  // counts that copy.
  fs::path product = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "sample-product" / "files";
  if (::system("command -v 7zz > /dev/null") != 0 || !fs::exists(product)) {
    std::fprintf(stderr, "extract_bench: 7zz or the sample product missing; no 7-Zip figures\n");
  } else {
    fs::create_directories(scratch);
    const std::string archive = (scratch / "sample.7z").string();
    double seconds = 0, rss = 0;
    if (!Timed("cd " + Quote(product.string()) + " && 7zz a -t7z -m0=lzma2 -mx=7 -md=32m -mfb=64 -ms=off " +
                   Quote(archive) + " . > /dev/null",
               seconds, rss)) {
      std::fprintf(stderr, "extract_bench: 7zz a failed\n");
    } else {
      best7z = 1e9;
      for (int run = 0; run < 5; ++run) {
        const std::string out = (scratch / ("7z-" + std::to_string(run))).string();
        if (!Timed("7zz x -y " + Quote("-o" + out) + " " + Quote(archive) + " > /dev/null", seconds, rss))
          std::fprintf(stderr, "extract_bench: 7zz x failed\n");
        best7z = std::min(best7z, seconds);
        rss7z = std::max(rss7z, rss);
        std::error_code ec;
        fs::remove_all(out, ec);
      }
    }
  }

  const std::string machine = BenchMachineAttach("orvanta-bench");
  const Text setup = u"C:\\Users\\User\\Downloads\\Setup.exe";
  fs::copy_file(setupHost, sim::DriveHostFolder(machine, 'C') + "/Users/User/Downloads/Setup.exe");

  // Peak memory first, in a fresh process that does nothing but extract.
  pid_t child = ::fork();
  if (child == 0) {
    bool ok = Extract(LoadSetup(setup), u"C:\\Program Files (x86)\\Orvanta-rss");
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(child, &status, 0, &usage);
  double rssMib = static_cast<double>(usage.ru_maxrss) / 1024.0;

  win::HMODULE module = LoadSetup(setup);
  std::vector<Container> containers = Containers(module);
  size_t largestContainer = 0, largestFile = 0;
  std::vector<unsigned char> out;
  for (const auto& c : containers) {
    largestContainer = std::max(largestContainer, c.Size);
    largestFile = std::max(largestFile, PlainDecode(c, out));
  }

  double bestExtract = 1e9, bestPlain = 1e9;
  for (int run = 0; run < 5; ++run) {
    bestPlain = std::min(bestPlain, benchbase::PlainDecodeAllSeconds(containers));
    auto t1 = std::chrono::steady_clock::now();
    bool ok = Extract(module, u"C:\\Program Files (x86)\\Orvanta-" + T(std::to_string(run)));
    auto t2 = std::chrono::steady_clock::now();
    if (!ok) std::fprintf(stderr, "extraction failed\n");
    bestExtract = std::min(bestExtract, Seconds(t2 - t1));
  }
  double budget = (static_cast<double>(largestFile) + static_cast<double>(largestContainer)) / (1024.0 * 1024.0) + 32 + 16;
  std::printf("extract_vs_liblzma_ratio: %.3f\n", bestExtract / bestPlain);
  std::printf("extract_seconds: %.3f\n", bestExtract);
  std::printf("liblzma_seconds: %.3f\n", bestPlain);
  std::printf("extract_peak_rss_mib: %.1f\n", rssMib);
  std::printf("extract_peak_rss_budget_mib: %.1f\n", budget);
  if (best7z > 0) {
    std::printf("extract_vs_7zip_ratio: %.3f\n", bestExtract / best7z);
    std::printf("7zip_seconds: %.3f\n", best7z);
    std::printf("7zip_peak_rss_mib: %.1f\n", rss7z);
  }
  std::error_code ec;
  fs::remove_all(machine, ec);
  fs::remove_all(scratch, ec);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
