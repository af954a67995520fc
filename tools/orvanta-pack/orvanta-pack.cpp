// orvanta-pack: builds an installer from an install script and a folder of product files.
// Reference: docs/orvanta-pack.md.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ContainerFile.h"
#include "PeResources.h"
#include "Splash.h"
#include "compression/PayloadChecksums.h"
#include "installer/uInstallScript.h"
#include "platform/sim/restable.h"
#include "platform/utf.h"
#include "platform/win32api_resources.h"

namespace fs = std::filesystem;

// The installer's manifest (embedded by the build).
extern "C" const unsigned char kSetupManifest[];
extern "C" const std::size_t kSetupManifestSize;
using pack::PackError;

namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

std::atomic<bool> gInterrupted{false};
bool gAlwaysCompress = false;
void OnSignal(int) { gInterrupted = true; }

struct Entry {
  int Index;
  int Line;
  Text Name;
  std::string Source;     // host file
  std::string Container;  // host file of its container
  std::uint64_t Size = 0;
  std::uint64_t ContainerSize = 0;
  TSha256Digest Checksum{};
};

std::string Quoted(const Text& aEntry) { return "'" + TextToUtf8(aEntry) + "'"; }

std::string ReadWhole(const std::string& aPath, const char* aWhat) {
  std::ifstream f(aPath, std::ios::binary);
  if (!f) throw PackError(std::string("cannot read the ") + aWhat + " " + aPath);
  std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (f.bad()) throw PackError(std::string("cannot read the ") + aWhat + " " + aPath);
  return s;
}

Text FoldAscii(const Text& t) {
  Text r = t;
  for (char16_t& c : r)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return r;
}

// MAJOR.MINOR.RELEASE.BUILD, each 0..65535.
bool VersionParse(const std::string& aText, std::uint16_t aParts[4]) {
  std::size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    std::size_t end = aText.find('.', pos);
    if ((i < 3) != (end != std::string::npos)) return false;
    std::string part = aText.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos) return false;
    unsigned long v = std::stoul(part);
    if (v > 65535) return false;
    aParts[i] = static_cast<std::uint16_t>(v);
    pos = end + 1;
  }
  return true;
}

// The entries of the script, each checked against the folder. The first fault ends it.
std::vector<Entry> EntriesCollect(const std::string& aScriptPath, const std::string& aScript, const std::string& aFrom) {
  std::vector<TInstallScriptEntry> parsed = InstallScriptParse(aScript);
  if (parsed.empty()) throw PackError(aScriptPath + ": the script lists no files");
  std::vector<Entry> entries;
  std::map<Text, int> seen;
  for (std::size_t k = 0; k < parsed.size(); ++k) {
    const TInstallScriptEntry& p = parsed[k];
    std::string where = aScriptPath + ":" + std::to_string(p.Line) + ": entry " + Quoted(p.Entry) + ": ";
    Text why = InstallScriptEntryCheck(p.Entry);
    if (!why.empty()) throw PackError(where + TextToUtf8(why));
    auto [it, fresh] = seen.emplace(FoldAscii(p.Entry), p.Line);
    if (!fresh) throw PackError(where + "names the same file as line " + std::to_string(it->second));
    std::string rel = TextToUtf8(p.Entry);
    std::replace(rel.begin(), rel.end(), '\\', '/');
    std::string source = (fs::path(aFrom) / rel).string();
    struct stat st;
    if (::stat(source.c_str(), &st) != 0) throw PackError(where + "no such file " + source);
    if (!S_ISREG(st.st_mode)) throw PackError(where + source + " is not a file");
    if (::access(source.c_str(), R_OK) != 0) throw PackError(where + "cannot read " + source);
    std::ifstream probe(source, std::ios::binary);
    if (!probe) throw PackError(where + "cannot read " + source);
    Entry e;
    e.Index = static_cast<int>(k);
    e.Line = p.Line;
    e.Name = p.Entry;
    e.Source = source;
    e.Size = static_cast<std::uint64_t>(st.st_size);
    entries.push_back(std::move(e));
  }
  return entries;
}

// ---- progress ---------------------------------------------------------------------------

std::string Megabytes(double aBytes) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f MB", aBytes / 1e6);
  return b;
}

class Progress {
 public:
  Progress(std::uint64_t iTotal, bool bShow) : FTotal(iTotal), FShow(bShow), FStart(Clock::now()) {
    if (FShow) FThread = std::thread([this] { Run(); });
  }
  ~Progress() { Stop(); }
  void Add(std::int64_t n) { FDone += static_cast<std::uint64_t>(n); }
  void Stop() {
    {
      std::lock_guard<std::mutex> l(FMutex);
      FStopping = true;
    }
    FWake.notify_all();
    if (FThread.joinable()) {
      FThread.join();
      Draw(true);
      std::fputc('\n', stderr);
    }
  }

 private:
  using Clock = std::chrono::steady_clock;
  void Run() {
    std::unique_lock<std::mutex> l(FMutex);
    while (!FStopping) {
      Draw(false);
      FWake.wait_for(l, std::chrono::milliseconds(200));
    }
  }
  void Draw(bool bFinal) {
    std::uint64_t done = FDone;
    double secs = std::chrono::duration<double>(Clock::now() - FStart).count();
    double rate = secs > 0 ? static_cast<double>(done) / secs : 0;
    double fraction = FTotal && done < FTotal ? static_cast<double>(done) / static_cast<double>(FTotal) : 1;
    constexpr int kWidth = 30;
    int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kWidth, '.');
    char left[32] = "--:--";
    if (bFinal) {
      std::snprintf(left, sizeof left, "%.1fs", secs);
    } else if (rate > 0) {
      // A file that grew since it was listed can take the count past the total.
      int s = static_cast<int>(static_cast<double>(done < FTotal ? FTotal - done : 0) / rate);
      std::snprintf(left, sizeof left, "%d:%02d left", s / 60, s % 60);
    }
    std::fprintf(stderr, "\r[%s] %3d%%  %s of %s  %s/s  %s   ", bar.c_str(), static_cast<int>(fraction * 100),
                 Megabytes(static_cast<double>(done)).c_str(), Megabytes(static_cast<double>(FTotal)).c_str(),
                 Megabytes(rate).c_str(), left);
    std::fflush(stderr);
  }
  std::uint64_t FTotal;
  bool FShow;
  Clock::time_point FStart;
  std::atomic<std::uint64_t> FDone{0};
  std::mutex FMutex;
  std::condition_variable FWake;
  bool FStopping = false;
  std::thread FThread;
};

// ---- packing ----------------------------------------------------------------------------

// Compresses every entry into its container file, the largest files first so that the
// workers finish together.
void ContainersWrite(std::vector<Entry>& aEntries, const std::string& aScriptPath, unsigned iJobs, Progress& aProgress) {
  std::vector<Entry*> order;
  for (Entry& e : aEntries) order.push_back(&e);
  std::stable_sort(order.begin(), order.end(), [](const Entry* a, const Entry* b) { return a->Size > b->Size; });
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex errorMutex;
  std::string error;
  auto worker = [&] {
    for (;;) {
      std::size_t k = next++;
      if (k >= order.size() || stop) return;
      Entry& e = *order[k];
      try {
        e.ContainerSize = pack::ContainerFileWrite(
            e.Source, e.Container,
            [&](std::int64_t n) {
              aProgress.Add(n);
              if (gInterrupted) stop = true;
            },
            stop, !gAlwaysCompress, &e.Checksum);
      } catch (const std::exception& x) {
        std::lock_guard<std::mutex> l(errorMutex);
        if (error.empty() && !stop) {
          error = aScriptPath + ":" + std::to_string(e.Line) + ": entry " + Quoted(e.Name) + ": " + x.what();
        }
        stop = true;
      }
    }
  };
  std::vector<std::thread> threads;
  unsigned n = std::min<unsigned>(iJobs, static_cast<unsigned>(order.size()));
  for (unsigned i = 1; i < n; ++i) threads.emplace_back(worker);
  worker();
  for (auto& t : threads) t.join();
  if (gInterrupted) throw PackError("interrupted");
  if (!error.empty()) throw PackError(error);
}

constexpr std::uint16_t kRtManifest = 24;

struct Options {
  std::string Script, From, Out, Version, Target = "linux", Stub, Splash;
  bool StubBeside = false;  // the installer program built beside orvanta-pack
  unsigned Jobs = 0;
};

// The installer program the build puts beside orvanta-pack: "Setup" for linux, "Setup.exe"
// (the 32-bit Windows program) for windows.
std::string StubBesideGet(const std::string& aTarget) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "Setup";
  return (self.parent_path() / (aTarget == "windows" ? "Setup.exe" : "Setup")).string();
}

// Removes what a run leaves aside unless it finished.
struct Scratch {
  std::string Folder, Partial;
  ~Scratch() {
    std::error_code ec;
    if (!Folder.empty()) fs::remove_all(Folder, ec);
    if (!Partial.empty()) fs::remove(Partial, ec);
  }
};

void Pack(const Options& o) {
  std::uint16_t version[4];
  if (!VersionParse(o.Version, version))
    throw PackError("--version " + o.Version + ": expected MAJOR.MINOR.RELEASE.BUILD, each 0 to 65535");
  std::string script = ReadWhole(o.Script, "script");
  if (!fs::is_directory(o.From)) throw PackError("--from " + o.From + ": not a folder");
  std::vector<Entry> entries = EntriesCollect(o.Script, script, o.From);
  if (o.Stub.empty()) throw PackError("--stub: the installer program to carry the payload is needed");
  if (o.StubBeside && !fs::is_regular_file(o.Stub))
    throw PackError("no installer program for " + o.Target + " beside orvanta-pack (" + o.Stub + "): build it (" +
                    (o.Target == "windows" ? "./run windows" : "./run demo") + ") or name one with --stub");
  if (!fs::is_regular_file(o.Stub)) throw PackError("--stub " + o.Stub + ": no such file");
  if (o.Target == "linux" && sim::ResourceTable::Read(o.Stub))
    throw PackError("--stub " + o.Stub + ": already carries resources");
  // Before any file is compressed: a stub that cannot take the resources fails at once.
  if (o.Target == "windows") (void)pack::PeStubRead(o.Stub);
  std::string splash = o.Splash.empty() ? pack::SplashBitmapBuild(240, 120) : ReadWhole(o.Splash, "splash picture");

  // Everything is written aside, next to the output, and renamed into place at the end.
  fs::path out = fs::absolute(o.Out);
  Scratch scratch;
  std::string folderTemplate = (out.parent_path() / ("." + out.filename().string() + ".parts-XXXXXX")).string();
  if (!::mkdtemp(folderTemplate.data())) throw PackError("cannot create a folder next to " + out.string());
  scratch.Folder = folderTemplate;
  for (Entry& e : entries) e.Container = scratch.Folder + "/F" + std::to_string(e.Index);

  std::uint64_t total = 0;
  for (const Entry& e : entries) total += e.Size;
  unsigned jobs = o.Jobs ? o.Jobs : std::max(1u, std::thread::hardware_concurrency());
  {
    Progress progress(total, ::isatty(STDERR_FILENO) == 1);
    ContainersWrite(entries, o.Script, jobs, progress);
  }

  // The installer checks the script and every decoded file against these before it writes
  // anything.
  TPayloadChecksums checksums;
  checksums.Script = Sha256Of(script.data(), script.size());
  for (const Entry& e : entries) checksums.Files.push_back(e.Checksum);
  const std::string checksumsData = PayloadChecksumsBuild(checksums);

  scratch.Partial = scratch.Folder + "/setup.partial";
  std::string versionBlock = sim::VersionResourceBuild(version[0], version[1], version[2], version[3],
                                                       u"Orvanta - Installer", false);
  if (o.Target == "linux") {
    std::error_code ec;
    fs::copy_file(o.Stub, scratch.Partial, fs::copy_options::overwrite_existing, ec);
    if (ec) throw PackError("cannot copy the stub " + o.Stub + ": " + ec.message());
    sim::ResourceTable table;
    table.Add(sim::ResourceId(win::RT_RCDATA_ID), sim::ResourceId(Text(u"INSTALLSCRIPT")), 0, script);
    for (const Entry& e : entries)
      table.AddFile(sim::ResourceId(win::RT_RCDATA_ID), sim::ResourceId(u"F" + T(std::to_string(e.Index))), 0,
                    e.Container);
    table.Add(sim::ResourceId(win::RT_RCDATA_ID), sim::ResourceId(Text(u"SPLASH")), 0, splash);
    table.Add(sim::ResourceId(win::RT_RCDATA_ID), sim::ResourceId(Text(kPayloadChecksumsResource)), 0, checksumsData);
    table.Add(sim::ResourceId(win::RT_VERSION_ID), sim::ResourceId(win::WORD(1)), 0x0409, versionBlock);
    try {
      table.AppendTo(scratch.Partial);
    } catch (const std::exception& x) {
      throw PackError(std::string("cannot write the installer: ") + x.what());
    }
  } else {
    std::vector<pack::PeResource> resources;
    auto rc = [](Text aName) {
      pack::PeResource r;
      r.TypeId = win::RT_RCDATA_ID;
      r.Name = std::move(aName);
      return r;
    };
    resources.push_back(rc(u"INSTALLSCRIPT"));
    resources.back().Data = script;
    for (const Entry& e : entries) {
      resources.push_back(rc(u"F" + T(std::to_string(e.Index))));
      resources.back().HostPath = e.Container;
    }
    resources.push_back(rc(u"SPLASH"));
    resources.back().Data = splash;
    resources.push_back(rc(kPayloadChecksumsResource));
    resources.back().Data = checksumsData;
    pack::PeResource v;
    v.TypeId = win::RT_VERSION_ID;
    v.NameId = 1;
    v.Language = 0x0409;
    v.Data = versionBlock;
    resources.push_back(std::move(v));
    // The manifest: common controls 6 (task dialogs) and the installer's execution level.
    pack::PeResource manifest;
    manifest.TypeId = kRtManifest;
    manifest.NameId = 1;
    manifest.Language = 0x0409;
    manifest.Data.assign(reinterpret_cast<const char*>(kSetupManifest), kSetupManifestSize);
    resources.push_back(std::move(manifest));
    pack::PeResourcesWrite(o.Stub, scratch.Partial, resources);
  }
  struct stat st;
  mode_t mode = ::stat(o.Stub.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0755;
  ::chmod(scratch.Partial.c_str(), mode | S_IRUSR | S_IWUSR);
  if (gInterrupted) throw PackError("interrupted");
  std::error_code ec;
  fs::rename(scratch.Partial, out, ec);
  if (ec) throw PackError("cannot write " + out.string() + ": " + ec.message());
  scratch.Partial.clear();
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  CLI::App app{"orvanta-pack: builds an installer from an install script and a folder of product files"};
  app.add_option("--script", o.Script, "install script (one file name per line)")->required();
  app.add_option("--from", o.From, "folder holding the files the script names")->required();
  app.add_option("--out", o.Out, "installer to write")->required();
  app.add_option("--version", o.Version, "version resource, MAJOR.MINOR.RELEASE.BUILD")->required();
  app.add_option("--target", o.Target, "linux (resource table) or windows (PE resources)")
      ->check(CLI::IsMember({"linux", "windows"}));
  app.add_option("--stub", o.Stub,
                 "the installer program that carries the payload (default: the one built beside orvanta-pack)");
  app.add_option("--splash", o.Splash, "splash picture (default: a plain one)");
  app.add_flag("--always-compress", gAlwaysCompress,
               "run every file through the encoder, also those it cannot shrink");
  app.add_option("-j,--jobs", o.Jobs, "files compressed at once (default: number of cores)")
      ->check(CLI::Range(1u, 256u));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : kUsageError;
  }
  // A version that is not four numbers is a wrong command line, like a missing option.
  std::uint16_t version[4];
  if (!VersionParse(o.Version, version)) {
    std::fprintf(stderr, "orvanta-pack: --version %s: expected MAJOR.MINOR.RELEASE.BUILD, each 0 to 65535\n",
                 o.Version.c_str());
    return kUsageError;
  }
  if (o.Stub.empty()) {
    o.Stub = StubBesideGet(o.Target);
    o.StubBeside = true;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  try {
    Pack(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvanta-pack: %s\n", e.what());
    return kFailed;
  }
  return 0;
}
