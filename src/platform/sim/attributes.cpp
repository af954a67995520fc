// Windows attributes of host entries.
#include <sys/stat.h>

#include "platform/sim/machine.h"

namespace sim {

// ---- attributes ---------------------------------------------------------------------------
//
// The owner's bits stay usable (rwx) so the host can always reach the entry; the Windows
// attributes live in the bits nobody else uses: no owner write bit = READONLY, and the group
// and other bits carry HIDDEN, SYSTEM, ARCHIVE, TEMPORARY and NOT_CONTENT_INDEXED.

namespace {
struct AttributeBit {
  win::DWORD attribute;
  mode_t mode;
};
const AttributeBit kAttributeBits[] = {
    {win::FILE_ATTRIBUTE_HIDDEN, S_IXOTH},
    {win::FILE_ATTRIBUTE_SYSTEM, S_IWOTH},
    {win::FILE_ATTRIBUTE_ARCHIVE, S_IROTH},
    {win::FILE_ATTRIBUTE_TEMPORARY, S_IWGRP},
    {win::FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, S_IXGRP},
};
}  // namespace

win::DWORD HostAttributesGet(const std::string& aHost) {
  struct stat st;
  if (::lstat(aHost.c_str(), &st) != 0) return win::INVALID_FILE_ATTRIBUTES;
  win::DWORD a = 0;
  if (!(st.st_mode & S_IWUSR)) a |= win::FILE_ATTRIBUTE_READONLY;
  for (const auto& b : kAttributeBits) {
    if (st.st_mode & b.mode) a |= b.attribute;
  }
  if (S_ISDIR(st.st_mode)) a |= win::FILE_ATTRIBUTE_DIRECTORY;
  else if (a == 0) a = win::FILE_ATTRIBUTE_NORMAL;
  return a;
}

bool HostAttributesSet(const std::string& aHost, win::DWORD aAttributes) {
  struct stat st;
  if (::lstat(aHost.c_str(), &st) != 0) return false;
  mode_t m = S_IRUSR | S_IXUSR | S_IRGRP;
  if (!(aAttributes & win::FILE_ATTRIBUTE_READONLY)) m |= S_IWUSR;
  for (const auto& b : kAttributeBits) {
    if (aAttributes & b.attribute) m |= b.mode;
  }
  return ::chmod(aHost.c_str(), m) == 0;
}

}  // namespace sim
