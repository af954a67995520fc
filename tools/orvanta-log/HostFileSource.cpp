#include "HostFileSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

THostFileSource::THostFileSource(const std::string& aPath) : FPath(aPath) {
  FFd = ::open(aPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (FFd < 0) {
    FError = std::strerror(errno);
    return;
  }
  struct stat st;
  if (::fstat(FFd, &st) == 0) {
    FDevice = st.st_dev;
    FInode = st.st_ino;
    if (S_ISDIR(st.st_mode)) {
      FError = "is a folder";
      ::close(FFd);
      FFd = -1;
    }
  }
}

THostFileSource::~THostFileSource() {
  if (FFd >= 0) ::close(FFd);
}

std::uint64_t THostFileSource::SizeGet() {
  struct stat st;
  if (FFd < 0 || ::fstat(FFd, &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

bool THostFileSource::ReadAt(std::uint64_t aOffset, void* aData, size_t aSize) {
  auto* p = static_cast<char*>(aData);
  while (aSize > 0) {
    ssize_t n = ::pread(FFd, p, aSize, static_cast<off_t>(aOffset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    aSize -= static_cast<size_t>(n);
    aOffset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool THostFileSource::Replaced() const {
  struct stat st;
  if (::stat(FPath.c_str(), &st) != 0) return false;
  return st.st_dev != FDevice || st.st_ino != FInode;
}
