#include "platform/sim/sharing.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

namespace {

struct Line {
  long HostPid;
  unsigned long Id;
  win::DWORD Access;
  win::DWORD Share;
  unsigned long long Device;
  unsigned long long Inode;
};

std::string TablePath(const std::string& aMachine) { return aMachine + "/state/handles"; }

std::vector<Line> ReadTable(const std::string& aMachine) {
  std::vector<Line> lines;
  std::ifstream in(TablePath(aMachine));
  std::string s;
  std::map<long, bool> alive;
  while (std::getline(in, s)) {
    Line l{};
    unsigned long access = 0, share = 0;
    if (std::sscanf(s.c_str(), "%ld %lu %lu %lu %llu %llu", &l.HostPid, &l.Id, &access, &share, &l.Device, &l.Inode) != 6)
      continue;
    l.Access = static_cast<win::DWORD>(access);
    l.Share = static_cast<win::DWORD>(share);
    auto it = alive.find(l.HostPid);
    if (it == alive.end()) {
      bool a = ::kill(static_cast<pid_t>(l.HostPid), 0) == 0 || errno == EPERM;
      it = alive.emplace(l.HostPid, a).first;
    }
    if (it->second) lines.push_back(l);
  }
  return lines;
}

void WriteTable(const std::string& aMachine, const std::vector<Line>& aLines) {
  std::ostringstream out;
  for (const auto& l : aLines)
    out << l.HostPid << ' ' << l.Id << ' ' << l.Access << ' ' << l.Share << ' ' << l.Device << ' ' << l.Inode << '\n';
  std::string tmp = TablePath(aMachine) + ".new";
  {
    std::ofstream f(tmp, std::ios::trunc);
    f << out.str();
  }
  ::rename(tmp.c_str(), TablePath(aMachine).c_str());
}

bool Conflicts(const Line& aOpen, AccessKind aKind, win::DWORD aShare) {
  AccessKind other = AccessKindOf(aOpen.Access);
  if (aKind.Read && !(aOpen.Share & win::FILE_SHARE_READ)) return true;
  if (aKind.Write && !(aOpen.Share & win::FILE_SHARE_WRITE)) return true;
  if (aKind.Delete && !(aOpen.Share & win::FILE_SHARE_DELETE)) return true;
  if (other.Read && !(aShare & win::FILE_SHARE_READ)) return true;
  if (other.Write && !(aShare & win::FILE_SHARE_WRITE)) return true;
  if (other.Delete && !(aShare & win::FILE_SHARE_DELETE)) return true;
  return false;
}

win::DWORD Check(const std::vector<Line>& aLines, FileKey aKey, AccessKind aKind, win::DWORD aShare) {
  for (const auto& l : aLines) {
    if (l.Device == static_cast<unsigned long long>(aKey.Device) && l.Inode == static_cast<unsigned long long>(aKey.Inode) &&
        Conflicts(l, aKind, aShare))
      return win::ERROR_SHARING_VIOLATION;
  }
  return 0;
}

std::atomic<unsigned long> gNextId{1};

}  // namespace

AccessKind AccessKindOf(win::DWORD a) {
  AccessKind k;
  k.Read = (a & (win::GENERIC_READ | win::GENERIC_EXECUTE | win::GENERIC_ALL | win::FILE_READ_DATA | win::FILE_EXECUTE)) != 0;
  k.Write = (a & (win::GENERIC_WRITE | win::GENERIC_ALL | win::FILE_WRITE_DATA | win::FILE_APPEND_DATA)) != 0;
  k.Delete = (a & (win::DELETE | win::GENERIC_ALL)) != 0;
  return k;
}

ShareEntry::~ShareEntry() {
  try {
    MachineLock lock(FMachine);
    auto lines = ReadTable(FMachine);
    long me = static_cast<long>(::getpid());
    std::vector<Line> kept;
    for (const auto& l : lines) {
      if (!(l.HostPid == me && l.Id == FId)) kept.push_back(l);
    }
    WriteTable(FMachine, kept);
  } catch (const std::exception&) {
    // The machine went away under us; there is nothing left to release.
  }
}

std::unique_ptr<ShareEntry> ShareRegister(const std::string& aMachine, FileKey aKey, win::DWORD aAccess,
                                          win::DWORD aShareMode, win::DWORD& aError) {
  aError = 0;
  AccessKind kind = AccessKindOf(aAccess);
  if (!kind.Any()) return nullptr;
  MachineLock lock(aMachine);
  auto lines = ReadTable(aMachine);
  aError = Check(lines, aKey, kind, aShareMode);
  if (aError) return nullptr;
  Line l{static_cast<long>(::getpid()), gNextId++, aAccess, aShareMode,
         static_cast<unsigned long long>(aKey.Device), static_cast<unsigned long long>(aKey.Inode)};
  lines.push_back(l);
  WriteTable(aMachine, lines);
  return std::make_unique<ShareEntry>(aMachine, l.Id);
}

win::DWORD ShareCheckOpen(const std::string& aMachine, const std::string& aHost, win::DWORD aAccess, win::DWORD aShareMode) {
  struct stat st;
  if (::stat(aHost.c_str(), &st) != 0) return 0;
  MachineLock lock(aMachine);
  return Check(ReadTable(aMachine), FileKey{st.st_dev, st.st_ino}, AccessKindOf(aAccess), aShareMode);
}

win::DWORD ShareCheckDelete(const std::string& aMachine, const std::string& aHost) {
  return ShareCheckOpen(aMachine, aHost, win::DELETE, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE);
}

}  // namespace sim
