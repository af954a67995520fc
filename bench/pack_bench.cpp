// Packing speed and size against xz on the sample product:
//   pack_vs_xz_ratio       orvanta-pack's wall time over xz compressing the same files with the
//                          same raw LZMA2 settings one after another
//   pack_size_vs_xz_ratio  bytes of all containers over xz's raw output for the same files
// Every container of the installer is decoded again and compared with its file.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "compression/LZMAStream.h"
#include "installer/uInstallScript.h"
#include "platform/sim/restable.h"
#include "platform/utf.h"

namespace fs = std::filesystem;

namespace {

// Runs a program; its standard output goes to aStdout (or is dropped). Returns its exit code.
int Run(const std::vector<std::string>& aArgs, const std::string& aStdout) {
  pid_t pid = fork();
  if (pid == 0) {
    std::FILE* out = std::freopen(aStdout.empty() ? "/dev/null" : aStdout.c_str(), "wb", stdout);
    if (!out) _exit(126);
    std::vector<char*> argv;
    for (const std::string& a : aArgs) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// CPU time of the children waited for so far.
double ChildCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Seconds(std::chrono::steady_clock::time_point aFrom) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - aFrom).count();
}

std::string ReadFile(const std::string& aPath, std::uint64_t iOffset = 0, std::uint64_t iSize = ~0ull) {
  std::ifstream f(aPath, std::ios::binary);
  f.seekg(static_cast<std::streamoff>(iOffset));
  std::string s;
  if (iSize == ~0ull) {
    s.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  } else {
    s.resize(iSize);
    f.read(s.data(), static_cast<std::streamsize>(iSize));
  }
  return s;
}

int Fail(const std::string& aWhat) {
  std::fprintf(stderr, "pack_bench: %s\n", aWhat.c_str());
  return 1;
}

}  // namespace

int main() {
  fs::path build = fs::read_symlink("/proc/self/exe").parent_path().parent_path();
  fs::path packer = build / "tools" / "orvanta-pack" / "orvanta-pack";
  // The sample product the build generates.
  fs::path product = build / "sample-product";
  if (!fs::exists(packer) || !fs::exists(product / "InstallScript.txt"))
    return Fail("build orvanta-pack and the sample product first");
  std::string work = (fs::temp_directory_path() / "orvanta-pack-bench-XXXXXX").string();
  if (!mkdtemp(work.data())) return Fail("no scratch folder");
  std::string scriptPath = (product / "InstallScript.txt").string();
  std::vector<TInstallScriptEntry> entries = InstallScriptParse(ReadFile(scriptPath));
  std::vector<std::string> files;
  std::uint64_t plainBytes = 0;
  for (const auto& e : entries) {
    std::string rel = TextToUtf8(e.Entry);
    for (char& c : rel)
      if (c == '\\') c = '/';
    files.push_back((product / "files" / rel).string());
    plainBytes += fs::file_size(files.back());
  }

  // xz, one file after another, each into its own raw stream.
  std::string xzOut = work + "/xz.out";
  std::uint64_t xzBytes = 0;
  double cpu0 = ChildCpuSeconds();
  auto t0 = std::chrono::steady_clock::now();
  for (const std::string& f : files) {
    if (Run({"xz", "--format=raw", "--lzma2=preset=4,dict=32MiB,nice=64,mf=bt4,mode=normal,depth=0", "-c", f}, xzOut) !=
        0)
      return Fail("xz failed (is xz-utils installed?)");
    xzBytes += fs::file_size(xzOut);
  }
  double xzSeconds = Seconds(t0);
  double xzCpu = ChildCpuSeconds() - cpu0;

  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  struct Result {
    double Seconds, Cpu;
    std::uint64_t Bytes;
  };
  // One packing run; every container is decoded again and compared with its file.
  auto pack = [&](bool bAlwaysCompress, Result& aResult) -> std::string {
    std::string setup = work + "/Setup";
    std::vector<std::string> args = {packer.string(), "--script", scriptPath, "--from", (product / "files").string(),
                                     "--out", setup, "--version", "4.2.1.77", "--stub", packer.string(),
                                     "-j", std::to_string(cores)};
    if (bAlwaysCompress) args.push_back("--always-compress");
    double c0 = ChildCpuSeconds();
    auto start = std::chrono::steady_clock::now();
    if (Run(args, "") != 0) return "orvanta-pack failed";
    aResult.Seconds = Seconds(start);
    aResult.Cpu = ChildCpuSeconds() - c0;
    auto table = sim::ResourceTable::Read(setup);
    if (!table) return "the installer carries no resource table";
    aResult.Bytes = 0;
    std::size_t checked = 0;
    for (const auto& r : *table) {
      if (r.Type.Id != 10 || r.Name.Name.size() < 2 || r.Name.Name[0] != u'F') continue;
      std::size_t k = std::stoul(TextToUtf8(r.Name.Name.substr(1)));
      if (k >= files.size()) return "unexpected resource " + TextToUtf8(r.Name.Name);
      aResult.Bytes += r.Size;
      TLZMAStream s;
      s.PrepareStreams();
      std::string c = ReadFile(setup, r.Offset, r.Size);
      s.Compressed->Write(c.data(), static_cast<std::int32_t>(c.size()));
      s.Compressed->SetPosition(0);
      s.Decompress();
      std::string plain(static_cast<const char*>(s.Decompressed->Memory()),
                        static_cast<std::size_t>(s.Decompressed->Size()));
      if (plain != ReadFile(files[k])) return "container F" + std::to_string(k) + " does not decode to its file";
      ++checked;
    }
    if (checked != files.size()) return "not every entry has its container";
    return std::string();
  };
  Result packed{}, encoderOnly{};
  std::string error = pack(false, packed);
  if (error.empty()) error = pack(true, encoderOnly);
  fs::remove_all(work);
  if (!error.empty()) return Fail(error);

  std::printf("pack_files: %zu\n", files.size());
  std::printf("pack_plain_mb: %.1f\n", static_cast<double>(plainBytes) / 1e6);
  std::printf("pack_cores: %u\n", cores);
  std::printf("xz_seconds: %.2f\n", xzSeconds);
  std::printf("xz_cpu_seconds: %.2f\n", xzCpu);
  std::printf("pack_seconds: %.2f\n", packed.Seconds);
  std::printf("pack_cpu_seconds: %.2f\n", packed.Cpu);
  std::printf("pack_vs_xz_ratio: %.3f\n", packed.Seconds / xzSeconds);
  std::printf("pack_size_vs_xz_ratio: %.5f\n", static_cast<double>(packed.Bytes) / static_cast<double>(xzBytes));
  // The same with every file through the encoder: the gain of the parallel runs alone.
  std::printf("pack_always_compress_seconds: %.2f\n", encoderOnly.Seconds);
  std::printf("pack_always_compress_vs_xz_ratio: %.3f\n", encoderOnly.Seconds / xzSeconds);
  std::printf("pack_always_compress_size_vs_xz_ratio: %.5f\n",
              static_cast<double>(encoderOnly.Bytes) / static_cast<double>(xzBytes));
  return 0;
}
