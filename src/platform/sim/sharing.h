// Share modes checked across every process of a simulated machine.
//
// Each open handle that reads, writes or deletes is a line of the machine's state/handles
// table (host pid, handle number, access, share mode, file identity). An open succeeds only
// if its access is allowed by the share mode of every open handle of the file, and its own
// share mode allows the access of every open handle. Lines of host processes that have
// ended are ignored, so a killed process releases its files as on Windows.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/win32api_types.h"

namespace sim {

struct FileKey {
  dev_t Device;
  ino_t Inode;
};

struct AccessKind {
  bool Read = false;
  bool Write = false;
  bool Delete = false;
  bool Any() const { return Read || Write || Delete; }
};
AccessKind AccessKindOf(win::DWORD aAccess);

// A registered handle; unregisters itself when destroyed.
class ShareEntry {
 public:
  ShareEntry(std::string aMachine, unsigned long aId) : FMachine(std::move(aMachine)), FId(aId) {}
  ~ShareEntry();
  ShareEntry(const ShareEntry&) = delete;
  ShareEntry& operator=(const ShareEntry&) = delete;

 private:
  std::string FMachine;
  unsigned long FId;
};

// Checks and registers an open. aError is 0, or ERROR_SHARING_VIOLATION. An open that
// neither reads, writes nor deletes takes no part and gets no entry (null).
std::unique_ptr<ShareEntry> ShareRegister(const std::string& aMachine, FileKey aKey, win::DWORD aAccess,
                                          win::DWORD aShareMode, win::DWORD& aError);
// Would an open of the host entry with this access and share mode be allowed? 0 or 32.
win::DWORD ShareCheckOpen(const std::string& aMachine, const std::string& aHost, win::DWORD aAccess,
                          win::DWORD aShareMode);
// Deleting or renaming needs DELETE access: 0 or ERROR_SHARING_VIOLATION.
win::DWORD ShareCheckDelete(const std::string& aMachine, const std::string& aHost);

}  // namespace sim
