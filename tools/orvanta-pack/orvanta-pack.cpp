// orvanta-pack: builds an installer from an install script and a folder of product files.
// Reference: docs/orvanta-pack.md.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ContainerFile.h"
#include "InputCheck.h"
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
  struct stat Status {};  // when the script was checked; the file must stay so until packed
  TSha256Digest Checksum{};
};

std::string Quoted(const Text& aEntry) { return "'" + pack::MessageText(TextToUtf8(aEntry)) + "'"; }

// A script is held in memory whole; one this large is no list of files.
constexpr std::uint64_t kScriptMax = 256u << 20;
// What NTFS can hold in one part of a path, in UTF-16 units.
constexpr std::size_t kNamePartMax = 255;
// And in a whole path (the long-path form); an entry is part of one.
constexpr std::size_t kPathMax = 32767;

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
//
// aFromReal is --from with its links resolved: a file reached through a link must still lie
// below it.
std::vector<Entry> EntriesCollect(const std::string& aScriptPath, const std::string& aScript, const std::string& aFrom,
                                  const std::string& aFromReal) {
  std::vector<TInstallScriptEntry> parsed = InstallScriptParse(aScript);
  if (parsed.empty()) throw PackError(pack::MessageText(aScriptPath) + ": the script lists no files");
  std::vector<Entry> entries;
  // The names as the installer's file system compares them (a file and a folder cannot have
  // one name either).
  std::map<Text, int, std::less<>> seen;
  const std::string fromPrefix = aFromReal == "/" ? aFromReal : aFromReal + "/";
  for (std::size_t k = 0; k < parsed.size(); ++k) {
    const TInstallScriptEntry& p = parsed[k];
    std::string where =
        pack::MessageText(aScriptPath) + ":" + std::to_string(p.Line) + ": entry " + Quoted(p.Entry) + ": ";
    Text why = InstallScriptEntryCheck(p.Entry);
    if (!why.empty()) throw PackError(where + pack::MessageText(TextToUtf8(why), 400));
    if (p.Entry.size() > kPathMax)
      throw PackError(where + "the name is longer than the " + std::to_string(kPathMax) +
                      " characters a Windows path can hold");
    for (std::size_t start = 0; start <= p.Entry.size();) {
      std::size_t end = p.Entry.find_first_of(u"\\/", start);
      if (end == Text::npos) end = p.Entry.size();
      if (end - start > kNamePartMax)
        throw PackError(where + "a part of the name is longer than the " + std::to_string(kNamePartMax) +
                        " characters a Windows file name can hold");
      start = end + 1;
    }
    Text folded = pack::NameFold(p.Entry);
    auto [it, fresh] = seen.emplace(folded, p.Line);
    if (!fresh) throw PackError(where + "names the same file as line " + std::to_string(it->second));
    // Names below this one as a folder follow it in order, the first of them right after it.
    if (auto f = seen.lower_bound(folded + u'\\'); f != seen.end() && f->first.rfind(folded + u'\\', 0) == 0)
      throw PackError(where + "names a folder of the entry on line " + std::to_string(f->second));
    for (std::size_t at = folded.find(u'\\'); at != Text::npos; at = folded.find(u'\\', at + 1)) {
      if (auto f = seen.find(TextView(folded).substr(0, at)); f != seen.end())
        throw PackError(where + "lies in a folder that line " + std::to_string(f->second) + " names as a file");
    }
    std::string rel = TextToUtf8(p.Entry);
    std::replace(rel.begin(), rel.end(), '\\', '/');
    std::string source = (fs::path(aFrom) / rel).string();
    const std::string shown = pack::MessageText(source);
    struct stat st;
    if (::stat(source.c_str(), &st) != 0) {
      int err = errno;
      if (err == ENOENT || err == ENOTDIR) throw PackError(where + "no such file " + shown);
      throw PackError(where + "cannot read " + shown + ": " + std::strerror(err));
    }
    if (S_ISDIR(st.st_mode)) throw PackError(where + shown + " is not a file (a folder)");
    if (!S_ISREG(st.st_mode)) throw PackError(where + shown + " is not a file (a device, pipe or socket)");
    if (::access(source.c_str(), R_OK) != 0) throw PackError(where + "cannot read " + shown + ": " + std::strerror(errno));
    // Links below --from are followed; one that leads out of it would pack a file that is no
    // part of the product.
    char* real = ::realpath(source.c_str(), nullptr);
    if (!real) throw PackError(where + "cannot read " + shown + ": " + std::strerror(errno));
    std::string realPath = real;
    std::free(real);
    if (realPath.compare(0, fromPrefix.size(), fromPrefix) != 0)
      throw PackError(where + shown + " is a symbolic link, or lies in a linked folder, that leads out of --from (to " +
                      pack::MessageText(realPath) + ")");
    std::ifstream probe(source, std::ios::binary);
    if (!probe) throw PackError(where + "cannot read " + shown);
    Entry e;
    e.Index = static_cast<int>(k);
    e.Line = p.Line;
    e.Name = p.Entry;
    e.Source = source;
    e.Size = static_cast<std::uint64_t>(st.st_size);
    e.Status = st;
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
        // A file written in place keeps its size; its times tell. Compared before and after
        // it is read, so that the container holds one state of the file, not a mix.
        struct stat st;
        if (::stat(e.Source.c_str(), &st) != 0) throw PackError(std::string("cannot read it: ") + std::strerror(errno));
        if (pack::FileChanged(e.Status, st))
          throw PackError("the file changed since the script was checked; pack again once it is settled");
        e.ContainerSize = pack::ContainerFileWrite(
            e.Source, e.Container,
            [&](std::int64_t n) {
              aProgress.Add(n);
              if (gInterrupted) stop = true;
            },
            stop, !gAlwaysCompress, &e.Checksum);
        if (::stat(e.Source.c_str(), &st) != 0) throw PackError(std::string("cannot read it: ") + std::strerror(errno));
        if (pack::FileChanged(e.Status, st))
          throw PackError("the file changed while it was packed; pack again once it is settled");
      } catch (const std::exception& x) {
        std::lock_guard<std::mutex> l(errorMutex);
        if (error.empty() && !stop) {
          error = pack::MessageText(aScriptPath) + ":" + std::to_string(e.Line) + ": entry " + Quoted(e.Name) + ": " +
                  pack::MessageText(x.what(), 600);
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

// The stub's bytes into the installer being written; a full disk says so.
void StubCopy(const std::string& aStub, const std::string& aTarget) {
  std::ifstream in(aStub, std::ios::binary);
  if (!in) throw PackError("cannot read the stub " + pack::MessageText(aStub));
  std::FILE* out = std::fopen(aTarget.c_str(), "wb");
  if (!out) throw PackError("cannot write the installer: " + pack::WriteErrorText(errno));
  std::vector<char> buf(1 << 20);
  int err = 0;
  while (!err && in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    auto n = static_cast<std::size_t>(in.gcount());
    if (n && std::fwrite(buf.data(), 1, n, out) != n) err = errno ? errno : EIO;
  }
  if (!err && std::fflush(out) != 0) err = errno;
  if (std::fclose(out) != 0 && !err) err = errno;
  if (err) throw PackError("cannot write the installer: " + pack::WriteErrorText(err));
  if (in.bad()) throw PackError("cannot read the stub " + pack::MessageText(aStub));
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
  std::string script = pack::InputFileRead("--script", o.Script, kScriptMax);
  struct stat scriptStatus = pack::InputFileCheck("--script", o.Script);
  std::string fromReal = pack::FromFolderCheck(o.From);
  std::vector<Entry> entries = EntriesCollect(o.Script, script, o.From, fromReal);
  if (o.Stub.empty()) throw PackError("--stub: the installer program to carry the payload is needed");
  if (o.StubBeside && !fs::is_regular_file(o.Stub))
    throw PackError("no installer program for " + o.Target + " beside orvanta-pack (" + o.Stub + "): build it (" +
                    (o.Target == "windows" ? "./run windows" : "./run demo") + ") or name one with --stub");
  struct stat stubStatus = pack::InputFileCheck("--stub", o.Stub);
  if (o.Target == "linux") pack::LinuxStubCheck(o.Stub, stubStatus);
  if (o.Target == "linux" && sim::ResourceTable::Read(o.Stub))
    throw PackError("--stub " + pack::MessageText(o.Stub) + ": already carries resources");
  // Before any file is compressed: a stub that cannot take the resources fails at once.
  if (o.Target == "windows") (void)pack::PeStubRead(o.Stub);
  std::string splash = o.Splash.empty() ? pack::SplashBitmapBuild(240, 120) : pack::SplashRead(o.Splash);

  // The output replaces whatever --out names: never one of the inputs, by whatever name.
  struct stat outStatus;
  if (::stat(o.Out.c_str(), &outStatus) == 0) {
    const std::string out = "--out " + pack::MessageText(o.Out);
    if (S_ISDIR(outStatus.st_mode)) throw PackError(out + ": is a folder");
    // The installer is renamed into place: a device or pipe there would be replaced, not written.
    if (!S_ISREG(outStatus.st_mode)) throw PackError(out + ": is a device, pipe or socket, not a file");
    if (pack::FileSame(outStatus, scriptStatus)) throw PackError(out + ": is the script given with --script");
    if (pack::FileSame(outStatus, stubStatus)) throw PackError(out + ": is the stub given with --stub");
    struct stat splashStatus;
    if (!o.Splash.empty() && ::stat(o.Splash.c_str(), &splashStatus) == 0 && pack::FileSame(outStatus, splashStatus))
      throw PackError(out + ": is the picture given with --splash");
    for (const Entry& e : entries)
      if (pack::FileSame(outStatus, e.Status))
        throw PackError(out + ": is the file of entry " + Quoted(e.Name) + " (" + pack::MessageText(o.Script) + ":" +
                        std::to_string(e.Line) + ")");
  }

  // Everything is written aside, next to the output, and renamed into place at the end.
  fs::path out = fs::absolute(o.Out);
  Scratch scratch;
  std::string folderTemplate = (out.parent_path() / ("." + out.filename().string() + ".parts-XXXXXX")).string();
  if (!::mkdtemp(folderTemplate.data()))
    throw PackError("cannot create a folder next to " + pack::MessageText(out.string()) + ": " +
                    pack::WriteErrorText(errno));
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
    StubCopy(o.Stub, scratch.Partial);
    sim::ResourceTable table;
    table.Add(sim::ResourceId(win::RT_RCDATA_ID), sim::ResourceId(Text(u"INSTALLSCRIPT")), 0, script);
    for (const Entry& e : entries)
      table.AddFile(sim::ResourceId(win::RT_RCDATA_ID), sim::ResourceId(u"F" + T(std::to_string(e.Index))), 0,
                    e.Container);
    table.Add(sim::ResourceId(win::RT_RCDATA_ID), sim::ResourceId(Text(u"SPLASH")), 0, splash);
    table.Add(sim::ResourceId(win::RT_RCDATA_ID), sim::ResourceId(Text(kPayloadChecksumsResource)), 0, checksumsData);
    table.Add(sim::ResourceId(win::RT_VERSION_ID), sim::ResourceId(win::WORD(1)), 0x0409, versionBlock);
    try {
      errno = 0;
      table.AppendTo(scratch.Partial);
    } catch (const std::exception& x) {
      const int err = errno;
      throw PackError(std::string("cannot write the installer: ") + x.what() +
                      (err == ENOSPC || err == EDQUOT ? ": " + pack::WriteErrorText(err) : std::string()));
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
  if (ec) throw PackError("cannot write " + pack::MessageText(out.string()) + ": " + ec.message());
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
  // A closed terminal ends the run as ^C does: nothing is left aside.
  sigaction(SIGHUP, &sa, nullptr);
  try {
    Pack(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvanta-pack: %s\n", pack::MessageText(e.what(), 4000).c_str());
    return kFailed;
  }
  return 0;
}
