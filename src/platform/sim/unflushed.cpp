// Faults on demand: the data a power cut loses. While a run plans a power cut, its processes
// record each write, flush and deletion in the plan's folder (one fixed-size record per
// append, so that records of several processes never mix); the cut replays the records and
// zeros every range written since the file's last flush, keeping each file's size.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <vector>

#include "platform/sim/faults.h"

namespace sim {

namespace {

enum RecordKind : std::uint32_t { kWrite = 1, kFlush = 2, kDrop = 3 };

struct Record {
  std::uint32_t Kind;
  std::uint32_t Reserved;
  std::uint64_t Device;
  std::uint64_t Inode;
  std::uint64_t Offset;
  std::uint64_t Length;
};

faults::Run* Tracking() {
  faults::Run* run = faults::RunGet();
  return run && run->Plan.PowerCut && run->UnflushedFd >= 0 ? run : nullptr;
}

void Append(const faults::Run& aRun, RecordKind aKind, const struct stat& aStat, std::uint64_t aOffset,
            std::uint64_t aLength) {
  const Record r{aKind, 0, static_cast<std::uint64_t>(aStat.st_dev), static_cast<std::uint64_t>(aStat.st_ino),
                 aOffset, aLength};
  // One write with O_APPEND: whole records, in the order the processes made them.
  while (::write(aRun.UnflushedFd, &r, sizeof r) < 0 && errno == EINTR) {
  }
}

// Writes zeros over [aFrom, aTo) of an open host file.
void ZerosWrite(int aFd, std::uint64_t aFrom, std::uint64_t aTo) {
  static const std::vector<char> zeros(1 << 16, 0);
  while (aFrom < aTo) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(aTo - aFrom, zeros.size()));
    const ssize_t done = ::pwrite(aFd, zeros.data(), n, static_cast<off_t>(aFrom));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    aFrom += static_cast<std::uint64_t>(done);
  }
}

}  // namespace

void UnflushedWrite(int aFd, std::uint64_t aLength) {
  const faults::Run* run = Tracking();
  struct stat st;
  if (!run || aLength == 0 || ::fstat(aFd, &st) != 0) return;
  const off_t position = ::lseek(aFd, 0, SEEK_CUR);
  if (position >= 0) Append(*run, kWrite, st, static_cast<std::uint64_t>(position), aLength);
}

void UnflushedFlush(int aFd) {
  const faults::Run* run = Tracking();
  struct stat st;
  if (run && ::fstat(aFd, &st) == 0) Append(*run, kFlush, st, 0, 0);
}

void UnflushedWhole(const std::string& aHost) {
  const faults::Run* run = Tracking();
  struct stat st;
  if (run && ::stat(aHost.c_str(), &st) == 0 && st.st_size > 0)
    Append(*run, kWrite, st, 0, static_cast<std::uint64_t>(st.st_size));
}

UnflushedGoing::UnflushedGoing(const std::string& aHost) {
  struct stat st;
  if (Tracking() && ::stat(aHost.c_str(), &st) == 0) {
    FKnown = true;
    FDevice = static_cast<std::uint64_t>(st.st_dev);
    FInode = static_cast<std::uint64_t>(st.st_ino);
  }
}

void UnflushedGoing::Gone() {
  const faults::Run* run = Tracking();
  if (!run || !FKnown) return;
  struct stat st{};
  st.st_dev = static_cast<dev_t>(FDevice);
  st.st_ino = static_cast<ino_t>(FInode);
  Append(*run, kDrop, st, 0, 0);
}

void faults::UnflushedLose(const Run& aRun) {
  using Key = std::pair<std::uint64_t, std::uint64_t>;
  std::map<Key, std::vector<std::pair<std::uint64_t, std::uint64_t>>> dirty;
  const int in = ::open((aRun.Folder + "/unflushed").c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return;
  Record r;
  while (::read(in, &r, sizeof r) == static_cast<ssize_t>(sizeof r)) {
    const Key key{r.Device, r.Inode};
    if (r.Kind == kWrite) dirty[key].emplace_back(r.Offset, r.Offset + r.Length);
    else if (r.Kind == kFlush || r.Kind == kDrop) dirty.erase(key);
  }
  ::close(in);
  if (dirty.empty()) return;
  // The files are found where they are now: renames since the writes stay.
  namespace fs = std::filesystem;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(aRun.Machine + "/drives", fs::directory_options::skip_permission_denied, ec),
       end;
       !ec && it != end; it.increment(ec)) {
    struct stat st;
    const std::string host = it->path().string();
    if (::lstat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    auto d = dirty.find(Key{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
    if (d == dirty.end()) continue;
    // A read-only file (no owner write bit) is written all the same, as the disk does.
    const bool readOnly = !(st.st_mode & S_IWUSR);
    if (readOnly) ::chmod(host.c_str(), st.st_mode | S_IWUSR);
    const int fd = ::open(host.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
      const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
      for (const auto& [from, to] : d->second) ZerosWrite(fd, std::min(from, size), std::min(to, size));
      ::close(fd);
    }
    if (readOnly) ::chmod(host.c_str(), st.st_mode);
    dirty.erase(d);
  }
}

}  // namespace sim
