// The machine's shared tables: text files of tab-separated fields in the machine folder's
// state/, written under the machine-wide lock.
#include "platform/sim/tables.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/sim/machine.h"

namespace sim {

std::string StatePath(const std::string& aMachine, const char* aName) {
  return aMachine + "/state/" + aName;
}

namespace {

std::string FieldUnescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char n = s[++i];
      out += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

// Tables are text files of tab-separated fields; fields escape \, tab and line ends.
std::string TableFieldEscape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::vector<std::string> TableFieldsSplit(const std::string& aLine) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t tab = aLine.find('\t', start);
    out.push_back(FieldUnescape(aLine.substr(start, tab == std::string::npos ? std::string::npos : tab - start)));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return out;
}

void TableLineAppend(const std::string& aPath, const std::string& aLine) {
  int fd = ::open(aPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw MachineError("cannot write " + aPath + ": " + std::strerror(errno));
  std::string line = aLine + "\n";
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      throw MachineError("cannot write " + aPath + ": " + std::strerror(errno));
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  ::close(fd);
}

std::vector<std::string> TableLinesRead(const std::string& aPath) {
  std::vector<std::string> lines;
  std::ifstream in(aPath);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

void FileWriteAll(const std::string& aPath, const std::string& aData) {
  int fd = ::open(aPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw MachineError("cannot write " + aPath + ": " + std::strerror(errno));
  const char* p = aData.data();
  size_t left = aData.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      throw MachineError("cannot write " + aPath + ": " + std::strerror(e));
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (::close(fd) != 0) throw MachineError("cannot write " + aPath + ": " + std::strerror(errno));
}

void FileReplaceAtomically(const std::string& aPath, const std::string& aData) {
  std::string tmp = aPath + ".new";
  try {
    FileWriteAll(tmp, aData);
  } catch (const MachineError&) {
    ::unlink(tmp.c_str());  // a full disk leaves no half-written copy behind
    throw;
  }
  if (::rename(tmp.c_str(), aPath.c_str()) != 0) {
    int e = errno;
    ::unlink(tmp.c_str());
    throw MachineError("cannot replace " + aPath + ": " + std::strerror(e));
  }
}

MachineLock::MachineLock(const std::string& aMachine) {
  std::string path = StatePath(aMachine, "lock");
  FFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (FFd < 0) throw MachineError("cannot open " + path + ": " + std::strerror(errno));
  while (::flock(FFd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(FFd);
      throw MachineError("cannot lock " + path);
    }
  }
}

MachineLock::~MachineLock() {
  ::flock(FFd, LOCK_UN);
  ::close(FFd);
}

}  // namespace sim
