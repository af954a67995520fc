// The whole elevated installation of the sample product on a simulated machine, measured
// against a plain liblzma decode of its containers. Prints "name: value" lines:
//   install_seconds           `winsim run --integrity high` of the packed installer on a fresh
//                             machine, from the start of the run to the installer's exit (the
//                             close timer on the virtual clock); it includes placing the
//                             installer into the machine, so it is an upper bound
//   liblzma_seconds           in-process liblzma decode of every container
//   install_vs_liblzma_ratio  the two above (the best of three runs each)
// Packs the sample product that the build generates with the build's installer program.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "LiblzmaBaseline.h"
#include "platform/sim/machine.h"
#include "platform/win32api.h"

namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// A shell command without the benchmark's own machine, as a user runs it; its exit status.
int Shell(const std::string& aCommand) {
  const int status = std::system(("env -u WINSIM_MACHINE -u WINSIM_PID " + aCommand).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main() {
  const fs::path build = fs::read_symlink("/proc/self/exe").parent_path().parent_path();
  const fs::path packer = build / "tools" / "orvanta-pack" / "orvanta-pack";
  const fs::path winsim = build / "tools" / "winsim" / "winsim";
  const fs::path product = build / "sample-product";
  if (!fs::exists(packer) || !fs::exists(packer.parent_path() / "Setup") || !fs::exists(winsim) ||
      !fs::exists(product / "InstallScript.txt")) {
    std::fprintf(stderr, "install_bench: build winsim, orvanta-pack-stub and sample-product-files first\n");
    return 2;
  }
  const fs::path scratch = fs::temp_directory_path() / ("orvanta-install-bench-" + std::to_string(::getpid()));
  fs::create_directories(scratch);
  const std::string setup = (scratch / "Setup").string();
  if (Shell(Quote(packer.string()) + " --script " + Quote((product / "InstallScript.txt").string()) + " --from " +
            Quote((product / "files").string()) + " --out " + Quote(setup) + " --version 4.2.1.77 > /dev/null") != 0) {
    std::fprintf(stderr, "install_bench: orvanta-pack failed\n");
    return 2;
  }

  double bestInstall = 1e9;
  std::string machine;
  for (int run = 0; run < 3; ++run) {
    machine = (scratch / ("m" + std::to_string(run))).string();
    if (Shell(Quote(winsim.string()) + " new " + Quote(machine)) != 0) return 2;
    const auto t0 = std::chrono::steady_clock::now();
    const int code = Shell(Quote(winsim.string()) + " run " + Quote(machine) + " --integrity high -- " + Quote(setup) +
                           " > /dev/null");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (code != 10) {
      std::fprintf(stderr, "install_bench: the installer ended with %d, not 10\n", code);
      return 1;
    }
    bestInstall = std::min(bestInstall, seconds);
  }

  // The baseline decodes the containers of the very installer that ran, where it lies.
  sim::ProcessRecord self;
  self.Image = "C:\\Windows\\System32\\install_bench.exe";
  self.CommandLine = self.Image;
  self.CurrentDirectory = "C:\\Windows\\System32\\";
  sim::ProcessAttachNew(machine, self);
  const std::vector<benchbase::Container> containers =
      benchbase::Containers(win::LoadLibraryW(u"C:\\Users\\User\\Downloads\\Setup.exe"));
  if (containers.empty()) {
    std::fprintf(stderr, "install_bench: no containers in the installer\n");
    return 1;
  }
  double bestPlain = 1e9;
  for (int run = 0; run < 3; ++run) bestPlain = std::min(bestPlain, benchbase::PlainDecodeAllSeconds(containers));

  std::printf("install_seconds: %.3f\n", bestInstall);
  std::printf("liblzma_seconds: %.3f\n", bestPlain);
  std::printf("install_vs_liblzma_ratio: %.3f\n", bestInstall / bestPlain);
  std::error_code ec;
  fs::remove_all(scratch, ec);
  return 0;
}
