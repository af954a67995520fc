// The file-system core of the simulated machine.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/sim/fail.h"
#include "platform/sim/faults.h"
#include "platform/sim/handles.h"
#include "platform/sim/machine.h"
#include "platform/sim/pipes.h"
#include "platform/sim/registry.h"
#include "platform/sim/sharing.h"
#include "platform/utf.h"
#include "platform/win32api.h"

namespace win {

namespace {

using sim::ResolvedPath;

DWORD ErrnoToError(int e) {
  switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES: case EPERM: case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC: case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EMFILE: case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_GEN_FAILURE;
  }
}

using sim::Fail;

Text CurrentDirectoryGet();

// Resolves a path for the calling process; false (with the last error set) when it cannot.
bool Resolve(LPCWSTR aPath, ResolvedPath& r, bool bWild = false) {
  if (!aPath) return Fail(ERROR_INVALID_PARAMETER, false);
  sim::PathContext c;
  try {
    c = sim::CurrentPathContext();
  } catch (const sim::MachineError&) {
    return Fail(21 /* ERROR_NOT_READY */, false);
  }
  c.CurrentDirectory = CurrentDirectoryGet();
  r = sim::ResolvePath(c, TextView(aPath), bWild);
  if (r.Error) return Fail(r.Error, false);
  if (win::DWORD e = sim::FailPathError(r.WinPath)) return Fail(e, false);
  return true;
}

std::string MachineOf() { return sim::MachineFolderHost(); }

FILETIME ToFileTime(const struct timespec& ts) {
  // 100-ns intervals since 1601-01-01.
  ULONGLONG t = static_cast<ULONGLONG>(ts.tv_sec) * 10000000ULL + static_cast<ULONGLONG>(ts.tv_nsec) / 100ULL +
                116444736000000000ULL;
  return FILETIME{static_cast<DWORD>(t & 0xFFFFFFFF), static_cast<DWORD>(t >> 32)};
}

class FileObject : public sim::KernelObject {
 public:
  int Fd = -1;
  DWORD Access = 0;
  bool CanRead = false;
  bool CanWrite = false;
  bool IsDirectory = false;
  bool DeleteOnClose = false;
  std::string Host;
  Text WinPath;  // as opened, for the fault events
  std::unique_ptr<sim::ShareEntry> Share;  // removed from the machine's table on close
  ~FileObject() override {
    if (DeleteOnClose) {
      if (IsDirectory) {
        ::rmdir(Host.c_str());
      } else {
        sim::UnflushedGoing going(Host);
        if (::unlink(Host.c_str()) == 0) going.Gone();
      }
    }
    if (Fd >= 0) ::close(Fd);
  }
};

class FindObject : public sim::KernelObject {
 public:
  std::vector<WIN32_FIND_DATAW> Entries;
  size_t Next = 0;
};

std::shared_ptr<FileObject> FileOf(HANDLE h) { return sim::HandleGetAs<FileObject>(h); }

bool IsReadOnlyHost(const std::string& aHost) {
  DWORD a = sim::HostAttributesGet(aHost);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

// The Windows attributes a new file gets from CreateFileW's flags.
DWORD NewFileAttributes(DWORD aFlags) {
  DWORD a = aFlags & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  return a | FILE_ATTRIBUTE_ARCHIVE;
}

// Case-insensitive wildcard match of '*' and '?', as directory searches use it.
bool WildMatch(const Text& aPattern, const Text& aName) {
  Text p = sim::UpcaseText(aPattern), n = sim::UpcaseText(aName);
  if (p == u"*" || p == u"*.*") return true;
  size_t pi = 0, ni = 0, star = Text::npos, mark = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == u'?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == u'*') {
      star = pi++;
      mark = ni;
    } else if (star != Text::npos) {
      pi = star + 1;
      ni = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && (p[pi] == u'*' || p[pi] == u'.')) ++pi;
  return pi == p.size();
}

bool FindDataFill(const std::string& aHost, const Text& aName, WIN32_FIND_DATAW& d) {
  struct stat st;
  if (::stat(aHost.c_str(), &st) != 0) return false;
  std::memset(&d, 0, sizeof d);
  d.dwFileAttributes = sim::HostAttributesGet(aHost);
  d.ftCreationTime = ToFileTime(st.st_ctim);
  d.ftLastAccessTime = ToFileTime(st.st_atim);
  d.ftLastWriteTime = ToFileTime(st.st_mtim);
  if (!S_ISDIR(st.st_mode)) {
    d.nFileSizeHigh = static_cast<DWORD>(static_cast<ULONGLONG>(st.st_size) >> 32);
    d.nFileSizeLow = static_cast<DWORD>(static_cast<ULONGLONG>(st.st_size) & 0xFFFFFFFF);
  }
  size_t n = std::min<size_t>(aName.size(), MAX_PATH - 1);
  std::memcpy(d.cFileName, aName.data(), n * sizeof(WCHAR));
  d.cFileName[n] = 0;
  return true;
}

bool CopyHostFile(const std::string& aFrom, const std::string& aTo, DWORD& aError) {
  int in = ::open(aFrom.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    aError = ErrnoToError(errno);
    return false;
  }
  // Written aside and renamed over the target, so that a failed copy leaves no partial file.
  std::string tmp = aTo + ".winsim-copy-" + std::to_string(::getpid());
  int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
  if (out < 0) {
    aError = ErrnoToError(errno);
    ::close(in);
    return false;
  }
  std::vector<char> buf(1 << 16);
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      aError = ErrnoToError(errno);
      ok = false;
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        aError = ErrnoToError(errno);
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  struct stat st;
  if (ok && ::fstat(in, &st) == 0) {
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out, times);
  }
  ::close(in);
  if (::close(out) != 0 && ok) {
    aError = ErrnoToError(errno);
    ok = false;
  }
  if (ok && ::rename(tmp.c_str(), aTo.c_str()) != 0) {
    aError = ErrnoToError(errno);
    ok = false;
  }
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

// Records a move (or, without a target, a deletion) for the next start of Windows, in the
// registry value Windows carries them out from. It needs an administrator's token.
BOOL DelayedMove(LPCWSTR aFrom, LPCWSTR aTo, DWORD aFlags) {
  const sim::ProcessRecord* self = sim::CurrentProcess();
  if (!self) return Fail(21, FALSE);
  if (!aFrom) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  ResolvedPath from, to;
  if (!Resolve(aFrom, from)) return FALSE;
  if (aTo && *aTo && !Resolve(aTo, to)) return FALSE;
  if (self->Integrity < sim::kIntegrityHigh) return Fail(ERROR_ACCESS_DENIED, FALSE);
  Text source = u"\\??\\" + from.WinPath;
  Text target;
  if (aTo && *aTo) target = Text((aFlags & MOVEFILE_REPLACE_EXISTING) ? u"!" : u"") + u"\\??\\" + to.WinPath;
  try {
    sim::RegistryTransact(MachineOf(), [&](sim::RegStore& s) {
      sim::RegKey& k = s.Create(sim::kSessionManagerKey);
      for (auto& v : k.Values) {
        if (sim::UpcaseText(v.Name) == sim::UpcaseText(sim::kPendingRenames)) {
          std::vector<Text> pairs = sim::PendingPairsDecode(v.Data);
          pairs.push_back(source);
          pairs.push_back(target);
          v.Type = REG_MULTI_SZ;
          v.Data = sim::PendingPairsEncode(pairs);
          return true;
        }
      }
      k.Values.push_back({sim::kPendingRenames, REG_MULTI_SZ, sim::PendingPairsEncode({source, target})});
      return true;
    });
  } catch (const sim::MachineError&) {
    return Fail(ERROR_GEN_FAILURE, FALSE);
  }
  return TRUE;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
  if (sim::PipePathIs(lpFileName)) return sim::PipeClientOpen(lpFileName, dwDesiredAccess, dwCreationDisposition);
  sim::FileSystemCall call("CreateFileW", lpFileName);
  if (call.Error) return Fail(call.Error, INVALID_HANDLE_VALUE);
  ResolvedPath r;
  if (!Resolve(lpFileName, r)) return INVALID_HANDLE_VALUE;
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING)
    return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  sim::AccessKind kind = sim::AccessKindOf(dwDesiredAccess);
  bool wantsWrite = kind.Write;
  if (dwCreationDisposition == TRUNCATE_EXISTING && !wantsWrite) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  if (r.Name.empty() && !r.IsRoot) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);

  auto obj = std::make_shared<FileObject>();
  obj->Access = dwDesiredAccess;
  obj->CanRead = kind.Read;
  obj->CanWrite = kind.Write;
  bool created = false;
  const std::string machine = MachineOf();

  if (r.Exists && r.IsDirectory) {
    if (!(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS)) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    if (dwCreationDisposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING)
      return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    obj->IsDirectory = true;
    obj->CanWrite = false;
    obj->Fd = ::open(r.Host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (obj->Fd < 0) return Fail(ErrnoToError(errno), INVALID_HANDLE_VALUE);
  } else if (r.Exists) {
    if (dwCreationDisposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    bool truncate = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
    if (IsReadOnlyHost(r.Host) && (wantsWrite || kind.Delete || truncate))
      return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    int flags = O_CLOEXEC | (wantsWrite || truncate ? (kind.Read ? O_RDWR : O_WRONLY) : O_RDONLY);
    obj->Fd = ::open(r.Host.c_str(), flags);
    if (obj->Fd < 0) return Fail(ErrnoToError(errno), INVALID_HANDLE_VALUE);
  } else {
    if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING)
      return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    int flags = O_CLOEXEC | O_CREAT | O_EXCL | (kind.Read ? O_RDWR : O_WRONLY);
    obj->Fd = ::open(r.Host.c_str(), flags, 0755);
    if (obj->Fd < 0) {
      if (errno == EEXIST) return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);  // lost a race
      return Fail(ErrnoToError(errno), INVALID_HANDLE_VALUE);
    }
    created = true;
  }
  obj->Host = r.Host;
  obj->WinPath = r.WinPath;

  // Sharing is checked against every handle of every process of the machine.
  struct stat st;
  if (::fstat(obj->Fd, &st) != 0) return Fail(ErrnoToError(errno), INVALID_HANDLE_VALUE);
  DWORD shareError = 0;
  obj->Share = sim::ShareRegister(machine, sim::FileKey{st.st_dev, st.st_ino}, dwDesiredAccess, dwShareMode, shareError);
  if (shareError) {
    if (created) ::unlink(r.Host.c_str());
    return Fail(shareError, INVALID_HANDLE_VALUE);
  }
  if (created) {
    sim::HostAttributesSet(r.Host, NewFileAttributes(dwFlagsAndAttributes));
    SetLastError(ERROR_SUCCESS);
  } else if (!obj->IsDirectory) {
    bool truncate = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
    if (truncate && ::ftruncate(obj->Fd, 0) != 0) return Fail(ErrnoToError(errno), INVALID_HANDLE_VALUE);
    if (dwCreationDisposition == CREATE_ALWAYS) {
      DWORD a = sim::HostAttributesGet(r.Host);
      sim::HostAttributesSet(r.Host, (a & ~FILE_ATTRIBUTE_NORMAL) | NewFileAttributes(dwFlagsAndAttributes));
    }
    if (dwCreationDisposition == OPEN_ALWAYS || dwCreationDisposition == CREATE_ALWAYS) SetLastError(ERROR_ALREADY_EXISTS);
  }
  obj->DeleteOnClose = (dwFlagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
  return sim::HandleInsert(obj);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead, OVERLAPPED*) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  auto f = FileOf(hFile);
  if (!f && sim::PipeHandleIs(hFile)) return sim::PipeRead(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
  sim::FileSystemCall call("ReadFile", f ? f->WinPath.c_str() : nullptr);
  if (call.Error) return Fail(call.Error, FALSE);
  if (!f) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!f->CanRead || f->IsDirectory) return Fail(ERROR_ACCESS_DENIED, FALSE);
  size_t done = 0;
  auto* p = static_cast<char*>(lpBuffer);
  while (done < nNumberOfBytesToRead) {
    ssize_t n = ::read(f->Fd, p + done, nNumberOfBytesToRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(ErrnoToError(errno), FALSE);
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = static_cast<DWORD>(done);
  return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, DWORD* lpNumberOfBytesWritten, OVERLAPPED*) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  auto f = FileOf(hFile);
  if (!f && sim::PipeHandleIs(hFile)) return sim::PipeWrite(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
  sim::FileSystemCall call("WriteFile", f ? f->WinPath.c_str() : nullptr);
  if (call.Error) return Fail(call.Error, FALSE);
  if (!f) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!f->CanWrite) return Fail(ERROR_ACCESS_DENIED, FALSE);
  size_t done = 0;
  auto* p = static_cast<const char*>(lpBuffer);
  bool appendOnly = (f->Access & FILE_APPEND_DATA) && !(f->Access & (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL));
  if (appendOnly) ::lseek(f->Fd, 0, SEEK_END);
  sim::UnflushedWrite(f->Fd, nNumberOfBytesToWrite);
  while (done < nNumberOfBytesToWrite) {
    ssize_t n = ::write(f->Fd, p + done, nNumberOfBytesToWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = static_cast<DWORD>(done);
      return Fail(ErrnoToError(errno), FALSE);
    }
    done += static_cast<size_t>(n);
  }
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = static_cast<DWORD>(done);
  return TRUE;
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  auto f = FileOf(hFile);
  sim::FileSystemCall call("SetFilePointer", f ? f->WinPath.c_str() : nullptr);
  if (call.Error) return Fail(call.Error, INVALID_SET_FILE_POINTER);
  if (!f) return Fail(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);
  LONGLONG dist = lpDistanceToMoveHigh
                      ? static_cast<LONGLONG>((static_cast<ULONGLONG>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
                                              static_cast<DWORD>(lDistanceToMove))
                      : static_cast<LONGLONG>(lDistanceToMove);
  int whence = dwMoveMethod == FILE_BEGIN ? SEEK_SET : dwMoveMethod == FILE_CURRENT ? SEEK_CUR : dwMoveMethod == FILE_END ? SEEK_END : -1;
  if (whence < 0) return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  off_t cur = ::lseek(f->Fd, 0, SEEK_CUR);
  off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? cur : ::lseek(f->Fd, 0, SEEK_END);
  if (base + dist < 0) {
    ::lseek(f->Fd, cur, SEEK_SET);
    return Fail(131 /* ERROR_NEGATIVE_SEEK */, INVALID_SET_FILE_POINTER);
  }
  off_t pos = ::lseek(f->Fd, static_cast<off_t>(base + dist), SEEK_SET);
  if (pos < 0) return Fail(ErrnoToError(errno), INVALID_SET_FILE_POINTER);
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<ULONGLONG>(pos) >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(static_cast<ULONGLONG>(pos) & 0xFFFFFFFF);
}

BOOL SetEndOfFile(HANDLE hFile) {
  auto f = FileOf(hFile);
  sim::FileSystemCall call("SetEndOfFile", f ? f->WinPath.c_str() : nullptr);
  if (call.Error) return Fail(call.Error, FALSE);
  if (!f) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!f->CanWrite) return Fail(ERROR_ACCESS_DENIED, FALSE);
  off_t pos = ::lseek(f->Fd, 0, SEEK_CUR);
  if (::ftruncate(f->Fd, pos) != 0) return Fail(ErrnoToError(errno), FALSE);
  return TRUE;
}

DWORD GetFileSize(HANDLE hFile, DWORD* lpFileSizeHigh) {
  auto f = FileOf(hFile);
  sim::FileSystemCall call("GetFileSize", f ? f->WinPath.c_str() : nullptr);
  if (call.Error) return Fail(call.Error, INVALID_FILE_ATTRIBUTES);
  if (!f) return Fail(ERROR_INVALID_HANDLE, INVALID_FILE_ATTRIBUTES);
  struct stat st;
  if (::fstat(f->Fd, &st) != 0) return Fail(ErrnoToError(errno), INVALID_FILE_ATTRIBUTES);
  ULONGLONG size = f->IsDirectory ? 0 : static_cast<ULONGLONG>(st.st_size);
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size & 0xFFFFFFFF);
}

BOOL FlushFileBuffers(HANDLE hFile) {
  auto f = FileOf(hFile);
  if (!f && sim::PipeHandleIs(hFile)) return TRUE;  // a pipe's writes are with the reader at once
  sim::FileSystemCall call("FlushFileBuffers", f ? f->WinPath.c_str() : nullptr);
  if (call.Error) return Fail(call.Error, FALSE);
  if (!f) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!f->CanWrite) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (::fsync(f->Fd) != 0) return Fail(ErrnoToError(errno), FALSE);
  sim::UnflushedFlush(f->Fd);
  return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
  // Only the closing of a file counts as a file-system call.
  std::shared_ptr<FileObject> f = FileOf(hObject);
  std::optional<sim::FileSystemCall> call;
  if (f) {
    call.emplace("CloseHandle", f->WinPath.c_str());
    if (call->Error) return Fail(call->Error, FALSE);
  }
  const bool closed = sim::HandleClose(hObject);
  f.reset();  // a file deleted on close goes within the call
  if (!closed) return Fail(ERROR_INVALID_HANDLE, FALSE);
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
  sim::FileSystemCall call("GetFileAttributesW", lpFileName);
  if (call.Error) return Fail(call.Error, INVALID_FILE_ATTRIBUTES);
  ResolvedPath r;
  if (!Resolve(lpFileName, r)) return INVALID_FILE_ATTRIBUTES;
  if (!r.Exists) return Fail(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
  DWORD a = sim::HostAttributesGet(r.Host);
  if (a == INVALID_FILE_ATTRIBUTES) return Fail(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
  return a;
}

BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes) {
  sim::FileSystemCall call("SetFileAttributesW", lpFileName);
  if (call.Error) return Fail(call.Error, FALSE);
  ResolvedPath r;
  if (!Resolve(lpFileName, r)) return FALSE;
  if (!r.Exists) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                   FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (!sim::HostAttributesSet(r.Host, dwFileAttributes & settable)) return Fail(ErrnoToError(errno), FALSE);
  return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE hFile, BY_HANDLE_FILE_INFORMATION* lpFileInformation) {
  auto f = FileOf(hFile);
  sim::FileSystemCall call("GetFileInformationByHandle", f ? f->WinPath.c_str() : nullptr);
  if (call.Error) return Fail(call.Error, FALSE);
  if (!f) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!lpFileInformation) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  struct stat st;
  if (::fstat(f->Fd, &st) != 0) return Fail(ErrnoToError(errno), FALSE);
  BY_HANDLE_FILE_INFORMATION& i = *lpFileInformation;
  std::memset(&i, 0, sizeof i);
  i.dwFileAttributes = sim::HostAttributesGet(f->Host);
  if (i.dwFileAttributes == INVALID_FILE_ATTRIBUTES) i.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
  i.ftCreationTime = ToFileTime(st.st_ctim);
  i.ftLastAccessTime = ToFileTime(st.st_atim);
  i.ftLastWriteTime = ToFileTime(st.st_mtim);
  i.dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
  ULONGLONG size = f->IsDirectory ? 0 : static_cast<ULONGLONG>(st.st_size);
  i.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  i.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
  i.nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
  i.nFileIndexHigh = static_cast<DWORD>(static_cast<ULONGLONG>(st.st_ino) >> 32);
  i.nFileIndexLow = static_cast<DWORD>(static_cast<ULONGLONG>(st.st_ino) & 0xFFFFFFFF);
  return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  sim::FileSystemCall call("CreateDirectoryW", lpPathName);
  if (call.Error) return Fail(call.Error, FALSE);
  ResolvedPath r;
  if (!Resolve(lpPathName, r)) return FALSE;
  bool raw = lpPathName[0] == u'\\' && lpPathName[1] == u'\\' && lpPathName[2] == u'?';
  if (!raw && r.WinPath.size() >= MAX_PATH - 12) return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);
  if (r.Exists) return Fail(ERROR_ALREADY_EXISTS, FALSE);
  if (::mkdir(r.Host.c_str(), 0755) != 0) return Fail(ErrnoToError(errno), FALSE);
  sim::HostAttributesSet(r.Host, FILE_ATTRIBUTE_DIRECTORY);
  return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR lpPathName) {
  sim::FileSystemCall call("RemoveDirectoryW", lpPathName);
  if (call.Error) return Fail(call.Error, FALSE);
  ResolvedPath r;
  if (!Resolve(lpPathName, r)) return FALSE;
  if (!r.Exists) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (!r.IsDirectory) return Fail(ERROR_DIRECTORY, FALSE);
  if (r.IsRoot || IsReadOnlyHost(r.Host)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (::rmdir(r.Host.c_str()) != 0) return Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrnoToError(errno), FALSE);
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR lpFileName) {
  sim::FileSystemCall call("DeleteFileW", lpFileName);
  if (call.Error) return Fail(call.Error, FALSE);
  ResolvedPath r;
  if (!Resolve(lpFileName, r)) return FALSE;
  if (!r.Exists) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (r.IsDirectory || IsReadOnlyHost(r.Host)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  DWORD e = sim::ShareCheckDelete(MachineOf(), r.Host);
  if (e) return Fail(e, FALSE);
  sim::UnflushedGoing going(r.Host);
  if (::unlink(r.Host.c_str()) != 0) return Fail(ErrnoToError(errno), FALSE);
  going.Gone();
  return TRUE;
}

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
  sim::FileSystemCall call("MoveFileExW", lpExistingFileName, lpNewFileName);
  if (call.Error) return Fail(call.Error, FALSE);
  if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) return DelayedMove(lpExistingFileName, lpNewFileName, dwFlags);
  if (!lpNewFileName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  ResolvedPath from, to;
  if (!Resolve(lpExistingFileName, from)) return FALSE;
  if (!from.Exists) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (from.IsRoot) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!Resolve(lpNewFileName, to)) return FALSE;
  const std::string machine = MachineOf();
  bool sameEntry = to.Exists && sim::UpcaseText(to.WinPath) == sim::UpcaseText(from.WinPath);
  if (to.Exists && !sameEntry) {
    if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS, FALSE);
    if (to.IsDirectory || from.IsDirectory || IsReadOnlyHost(to.Host)) return Fail(ERROR_ACCESS_DENIED, FALSE);
    // A target that is open can only be replaced when every handle allows deletion.
    if (sim::ShareCheckDelete(machine, to.Host)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  }
  if (DWORD e = sim::ShareCheckDelete(machine, from.Host)) return Fail(e, FALSE);
  if (from.IsDirectory) {
    // A folder cannot move into itself.
    Text f = sim::UpcaseText(from.WinPath) + u"\\";
    if (sim::UpcaseText(to.WinPath).rfind(f, 0) == 0) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  }
  std::string target = sameEntry ? to.ParentHost + "/" + TextToUtf8(to.Name) : to.Host;
  sim::UnflushedGoing replaced(to.Exists && !sameEntry ? to.Host : std::string());
  if (::rename(from.Host.c_str(), target.c_str()) != 0) return Fail(ErrnoToError(errno), FALSE);
  replaced.Gone();
  return TRUE;
}

BOOL CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
  sim::FileSystemCall call("CopyFileW", lpExistingFileName, lpNewFileName);
  if (call.Error) return Fail(call.Error, FALSE);
  ResolvedPath from, to;
  if (!Resolve(lpExistingFileName, from)) return FALSE;
  if (!from.Exists) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (from.IsDirectory) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!Resolve(lpNewFileName, to)) return FALSE;
  if (to.Exists) {
    if (bFailIfExists) return Fail(ERROR_FILE_EXISTS, FALSE);
    if (to.IsDirectory || IsReadOnlyHost(to.Host)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  }
  const std::string machine = MachineOf();
  // The source is read (others must allow reading), the target written.
  if (DWORD e = sim::ShareCheckOpen(machine, from.Host, GENERIC_READ, FILE_SHARE_READ)) return Fail(e, FALSE);
  if (to.Exists) {
    if (DWORD e = sim::ShareCheckOpen(machine, to.Host, GENERIC_WRITE | DELETE, 0)) return Fail(e, FALSE);
  }
  DWORD attributes = sim::HostAttributesGet(from.Host);
  DWORD error = 0;
  sim::UnflushedGoing replaced(to.Exists ? to.Host : std::string());
  if (!CopyHostFile(from.Host, to.Host, error)) return Fail(error, FALSE);
  replaced.Gone();
  // The copy is in the cache, as the system leaves it: a power cut loses it unless flushed.
  sim::UnflushedWhole(to.Host);
  sim::HostAttributesSet(to.Host, (attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_ARCHIVE);
  return TRUE;
}

HANDLE FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW* lpFindFileData) {
  sim::FileSystemCall call("FindFirstFileW", lpFileName);
  if (call.Error) return Fail(call.Error, INVALID_HANDLE_VALUE);
  ResolvedPath r;
  if (!Resolve(lpFileName, r, true)) return INVALID_HANDLE_VALUE;
  if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  auto obj = std::make_shared<FindObject>();
  if (r.IsRoot || r.Name.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  bool wild = r.Name.find_first_of(u"*?") != Text::npos;
  if (!wild) {
    if (!r.Exists) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    WIN32_FIND_DATAW d;
    std::string name = r.Host.substr(r.Host.rfind('/') + 1);
    if (!FindDataFill(r.Host, Utf8ToText(name), d)) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    obj->Entries.push_back(d);
  } else {
    DIR* dir = ::opendir(r.ParentHost.c_str());
    if (!dir) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    std::vector<std::pair<Text, std::string>> names;  // (upper-cased name, host name)
    while (dirent* e = ::readdir(dir)) {
      std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      if (n.find(".winsim-") != std::string::npos) continue;  // our own files being written
      names.emplace_back(sim::UpcaseText(Utf8ToText(n)), n);
    }
    ::closedir(dir);
    // NTFS reports entries in the order of their upper-cased names; "." and ".." come first
    // except at a drive's root.
    std::sort(names.begin(), names.end());
    bool atRoot = r.ParentHost == sim::DriveHostFolder(MachineOf(), 'C');
    if (!atRoot) {
      for (const char16_t* dot : {u".", u".."}) {
        if (WildMatch(r.Name, dot)) {
          WIN32_FIND_DATAW d;
          if (FindDataFill(r.ParentHost, dot, d)) obj->Entries.push_back(d);
        }
      }
    }
    for (const auto& [upper, host] : names) {
      Text name = Utf8ToText(host);
      if (!WildMatch(r.Name, name)) continue;
      WIN32_FIND_DATAW d;
      if (FindDataFill(r.ParentHost + "/" + host, name, d)) obj->Entries.push_back(d);
    }
    if (obj->Entries.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  }
  *lpFindFileData = obj->Entries[0];
  obj->Next = 1;
  return sim::HandleInsert(obj);
}

BOOL FindNextFileW(HANDLE hFindFile, WIN32_FIND_DATAW* lpFindFileData) {
  sim::FileSystemCall call("FindNextFileW");
  if (call.Error) return Fail(call.Error, FALSE);
  auto f = sim::HandleGetAs<FindObject>(hFindFile);
  if (!f) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (f->Next >= f->Entries.size()) return Fail(ERROR_NO_MORE_FILES, FALSE);
  *lpFindFileData = f->Entries[f->Next++];
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  sim::FileSystemCall call("FindClose");
  if (call.Error) return Fail(call.Error, FALSE);
  if (!sim::HandleGetAs<FindObject>(hFindFile)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  sim::HandleClose(hFindFile);
  return TRUE;
}

namespace {

DWORD CopyOut(const Text& aText, DWORD nBufferLength, LPWSTR lpBuffer) {
  if (!lpBuffer || nBufferLength < aText.size() + 1) return static_cast<DWORD>(aText.size() + 1);
  std::memcpy(lpBuffer, aText.c_str(), (aText.size() + 1) * sizeof(WCHAR));
  return static_cast<DWORD>(aText.size());
}

// Never destroyed: threads of the process (a log writer finishing its queue) still resolve
// paths while the process's exit handlers run.
std::mutex& gCurrentDirectoryLock = *new std::mutex;
Text& gCurrentDirectory = *new Text;

Text CurrentDirectoryGet() {
  std::lock_guard<std::mutex> g(gCurrentDirectoryLock);
  if (gCurrentDirectory.empty()) {
    const sim::ProcessRecord* p = sim::CurrentProcess();
    gCurrentDirectory = p ? Utf8ToText(p->CurrentDirectory) : Text(u"C:\\");
    if (gCurrentDirectory.empty()) gCurrentDirectory = u"C:\\";
  }
  return gCurrentDirectory;
}

}  // namespace

DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
  return CopyOut(u"C:\\Users\\User\\AppData\\Local\\Temp\\", nBufferLength, lpBuffer);
}

DWORD GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
  Text cur = CurrentDirectoryGet();
  // Windows answers without the trailing separator, except at a drive's root.
  if (cur.size() > 3 && cur.back() == u'\\') cur.pop_back();
  return CopyOut(cur, nBufferLength, lpBuffer);
}

BOOL SetCurrentDirectoryW(LPCWSTR lpPathName) {
  ResolvedPath r;
  if (!Resolve(lpPathName, r)) return FALSE;
  if (!r.Exists) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (!r.IsDirectory) return Fail(ERROR_DIRECTORY, FALSE);
  std::lock_guard<std::mutex> g(gCurrentDirectoryLock);
  gCurrentDirectory = r.WinPath;
  if (gCurrentDirectory.back() != u'\\') gCurrentDirectory += u'\\';
  return TRUE;
}

}  // namespace win

