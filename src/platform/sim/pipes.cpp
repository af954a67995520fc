// Named pipes of the simulated machine. The processes of a machine are host processes, so a
// pipe travels over Unix stream sockets in the host's abstract namespace (nothing to clean up
// when a process dies, no path length limit): instance k of pipe NAME of a machine listens at
// "orvanta-sim-pipe-H-k", H hashing the machine folder and the upper-cased name, k < 255.
//
// Each server instance has a thread that accepts on its socket. A client connects to every
// address in turn and asks for the instance with one byte: 'C' (take it) or 'Q' (is it free?,
// for WaitNamedPipeW); the instance answers 'A' (taken by this client), 'F' (free) or 'B'
// (busy). So an instance is known to exist while it listens, and holds one client at most,
// as on Windows. Only byte-mode, blocking pipes without overlapped I/O are simulated.
#include "platform/sim/pipes.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/fail.h"
#include "platform/sim/handles.h"
#include "platform/sim/machine.h"
#include "platform/utf.h"
#include "platform/win32api.h"
#include "platform/sim/threadcycles.h"

namespace sim {

namespace {

constexpr int kInstancesMax = 255;
constexpr int kAnswerTimeoutMs = 5000;  // an instance's accept thread answers at once

// The pipe's name after \\.\pipe\ ; empty when aPath names no pipe.
Text PipeNameOf(win::LPCWSTR aPath) {
  if (!aPath) return {};
  Text p(aPath);
  if (p.size() < 10) return {};
  if (!(p[0] == u'\\' && p[1] == u'\\' && (p[2] == u'.' || p[2] == u'?') && p[3] == u'\\')) return {};
  if (UpcaseText(TextView(p).substr(4, 5)) != u"PIPE\\") return {};
  return p.substr(9);
}

std::uint64_t Fnv1a(const std::string& s) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

// The socket address of instance aIndex of a pipe of this process's machine.
struct Address {
  sockaddr_un Addr{};
  socklen_t Size = 0;
};
Address AddressOf(std::uint64_t aHash, int aIndex) {
  Address a;
  a.Addr.sun_family = AF_UNIX;
  char name[64];
  int n = std::snprintf(name, sizeof name, "orvanta-sim-pipe-%016llx-%d", static_cast<unsigned long long>(aHash), aIndex);
  std::memcpy(a.Addr.sun_path + 1, name, static_cast<size_t>(n));  // sun_path[0] = 0: abstract
  a.Size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(n));
  return a;
}

std::uint64_t PipeHash(const Text& aName) {
  std::string machine = MachineFolderHost();
  if (char* real = ::realpath(machine.c_str(), nullptr)) {
    machine = real;
    std::free(real);
  }
  return Fnv1a(machine + "\n" + TextToUtf8(UpcaseText(aName)));
}

int SocketNew() { return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }

bool SendAll(int aFd, const char* aData, size_t aSize, int& aErrno) {
  for (size_t done = 0; done < aSize;) {
    ssize_t n = ::send(aFd, aData + done, aSize - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      aErrno = errno;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// One byte within aTimeoutMs; 0 when none came.
char ByteRead(int aFd, int aTimeoutMs) {
  pollfd p{aFd, POLLIN, 0};
  int r;
  sim::TThreadBlocked blocked;
  do r = ::poll(&p, 1, aTimeoutMs);
  while (r < 0 && errno == EINTR);
  char c = 0;
  if (r == 1 && ::recv(aFd, &c, 1, 0) == 1) return c;
  return 0;
}

// What the accept thread of an instance and the handle's users share.
struct InstanceState {
  std::mutex Lock;
  std::condition_variable Changed;
  int ListenFd = -1;
  int ClientFd = -1;       // the connected client's socket; -1: none
  bool Connected = false;  // a client took the instance since its creation or last disconnection
  bool Listening = true;   // false from DisconnectNamedPipe until the next ConnectNamedPipe
  bool Stop = false;
  // Sockets of earlier clients: shut down at once, closed with the handle, so that a thread
  // still reading one never reads a reused descriptor.
  std::vector<int> Retired;
};

void AcceptLoop(std::shared_ptr<InstanceState> s) {
  for (;;) {
    int fd = ::accept4(s->ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // shut down: the handle is closed
    }
    char request = ByteRead(fd, 1000);
    std::unique_lock<std::mutex> lock(s->Lock);
    if (s->Stop) {
      ::close(fd);
      return;
    }
    int e = 0;
    const bool free = s->Listening && !s->Connected;
    if (request == 'C' && free) {
      // The answer goes before anything the server writes: the client reads it first.
      if (SendAll(fd, "A", 1, e)) {
        s->ClientFd = fd;
        s->Connected = true;
        s->Changed.notify_all();
        continue;
      }
    } else if (request == 'Q') {
      SendAll(fd, free ? "F" : "B", 1, e);
    } else {
      SendAll(fd, "B", 1, e);
    }
    ::close(fd);
  }
}

class PipeServer : public KernelObject {
 public:
  std::shared_ptr<InstanceState> S = std::make_shared<InstanceState>();
  bool CanRead = false;
  bool CanWrite = false;
  std::thread Acceptor;
  ~PipeServer() override {
    {
      std::lock_guard<std::mutex> lock(S->Lock);
      S->Stop = true;
      S->Changed.notify_all();
    }
    if (S->ListenFd >= 0) ::shutdown(S->ListenFd, SHUT_RDWR);  // wakes accept
    if (Acceptor.joinable()) Acceptor.join();
    if (S->ListenFd >= 0) ::close(S->ListenFd);
    if (S->ClientFd >= 0) ::close(S->ClientFd);
    for (int fd : S->Retired) ::close(fd);
  }
  // The connected client's socket, or the error of a server without one.
  int ClientFd(win::DWORD& aError) {
    std::lock_guard<std::mutex> lock(S->Lock);
    if (S->ClientFd >= 0) return S->ClientFd;
    aError = S->Connected ? win::ERROR_PIPE_NOT_CONNECTED : win::ERROR_PIPE_LISTENING;
    return -1;
  }
};

class PipeClient : public KernelObject {
 public:
  int Fd = -1;
  bool CanRead = false;
  bool CanWrite = false;
  ~PipeClient() override {
    if (Fd >= 0) ::close(Fd);
  }
};

enum class Probe { Taken, Free, Busy, Absent };

// Asks instance aIndex for itself ('C') or whether it is free ('Q'); with Taken, aFd is the
// connected socket.
Probe InstanceAsk(std::uint64_t aHash, int aIndex, char aRequest, int& aFd) {
  aFd = -1;
  int fd = SocketNew();
  if (fd < 0) return Probe::Absent;
  Address a = AddressOf(aHash, aIndex);
  int r;
  do r = ::connect(fd, reinterpret_cast<sockaddr*>(&a.Addr), a.Size);
  while (r < 0 && errno == EINTR);
  if (r < 0) {
    ::close(fd);
    return Probe::Absent;
  }
  int e = 0;
  char answer = SendAll(fd, &aRequest, 1, e) ? ByteRead(fd, kAnswerTimeoutMs) : 0;
  if (answer == 'A') {
    aFd = fd;
    return Probe::Taken;
  }
  ::close(fd);
  return answer == 'F' ? Probe::Free : Probe::Busy;
}

// Asks every instance of the pipe in turn: Taken or Free as soon as one says so, else Busy when
// some instance exists, else Absent.
Probe InstancesAsk(std::uint64_t aHash, char aRequest, int& aFd) {
  bool any = false;
  for (int k = 0; k < kInstancesMax; ++k) {
    Probe p = InstanceAsk(aHash, k, aRequest, aFd);
    if (p == Probe::Taken || p == Probe::Free) return p;
    if (p == Probe::Busy) any = true;
  }
  return any ? Probe::Busy : Probe::Absent;
}

win::DWORD ErrnoOfPipe(int e, bool bWrite) {
  if (e == EPIPE || e == ECONNRESET || e == ENOTCONN) return bWrite ? win::ERROR_NO_DATA : win::ERROR_BROKEN_PIPE;
  if (e == EBADF) return win::ERROR_INVALID_HANDLE;
  return win::ERROR_GEN_FAILURE;
}

}  // namespace

bool PipePathIs(win::LPCWSTR aPath) { return !PipeNameOf(aPath).empty(); }

win::HANDLE PipeClientOpen(win::LPCWSTR aPath, win::DWORD dwDesiredAccess, win::DWORD dwCreationDisposition) {
  if (!CurrentProcess()) return Fail(kErrorNotReady, win::INVALID_HANDLE_VALUE);
  if (dwCreationDisposition != win::OPEN_EXISTING && dwCreationDisposition != win::OPEN_ALWAYS)
    return Fail(win::ERROR_INVALID_PARAMETER, win::INVALID_HANDLE_VALUE);
  int fd = -1;
  switch (InstancesAsk(PipeHash(PipeNameOf(aPath)), 'C', fd)) {
    case Probe::Taken: break;
    case Probe::Absent: return Fail(win::ERROR_FILE_NOT_FOUND, win::INVALID_HANDLE_VALUE);
    default: return Fail(win::ERROR_PIPE_BUSY, win::INVALID_HANDLE_VALUE);
  }
  auto c = std::make_shared<PipeClient>();
  c->Fd = fd;
  c->CanRead = (dwDesiredAccess & (win::GENERIC_READ | win::GENERIC_ALL | win::FILE_READ_DATA)) != 0;
  c->CanWrite = (dwDesiredAccess & (win::GENERIC_WRITE | win::GENERIC_ALL | win::FILE_WRITE_DATA)) != 0;
  return HandleInsert(c);
}

bool PipeHandleIs(win::HANDLE aHandle) {
  auto o = HandleGet(aHandle);
  return o && (dynamic_cast<PipeServer*>(o.get()) || dynamic_cast<PipeClient*>(o.get()));
}

win::BOOL PipeRead(win::HANDLE aHandle, void* aBuffer, win::DWORD aSize, win::DWORD* aRead) {
  if (aRead) *aRead = 0;
  int fd = -1;
  std::shared_ptr<KernelObject> keep = HandleGet(aHandle);  // the socket lives while we read
  if (auto s = std::dynamic_pointer_cast<PipeServer>(keep)) {
    if (!s->CanRead) return Fail(win::ERROR_ACCESS_DENIED, win::FALSE);
    win::DWORD error = 0;
    fd = s->ClientFd(error);
    if (fd < 0) return Fail(error, win::FALSE);
  } else if (auto c = std::dynamic_pointer_cast<PipeClient>(keep)) {
    if (!c->CanRead) return Fail(win::ERROR_ACCESS_DENIED, win::FALSE);
    fd = c->Fd;
  } else {
    return Fail(win::ERROR_INVALID_HANDLE, win::FALSE);
  }
  if (aSize == 0) return win::TRUE;
  ssize_t n;
  do n = ::recv(fd, aBuffer, aSize, 0);
  while (n < 0 && errno == EINTR);
  if (n < 0) return Fail(ErrnoOfPipe(errno, false), win::FALSE);
  if (n == 0) return Fail(win::ERROR_BROKEN_PIPE, win::FALSE);  // the other end has gone
  if (aRead) *aRead = static_cast<win::DWORD>(n);
  return win::TRUE;
}

win::BOOL PipeWrite(win::HANDLE aHandle, const void* aBuffer, win::DWORD aSize, win::DWORD* aWritten) {
  if (aWritten) *aWritten = 0;
  int fd = -1;
  std::shared_ptr<KernelObject> keep = HandleGet(aHandle);
  if (auto s = std::dynamic_pointer_cast<PipeServer>(keep)) {
    if (!s->CanWrite) return Fail(win::ERROR_ACCESS_DENIED, win::FALSE);
    win::DWORD error = 0;
    fd = s->ClientFd(error);
    if (fd < 0) return Fail(error, win::FALSE);
  } else if (auto c = std::dynamic_pointer_cast<PipeClient>(keep)) {
    if (!c->CanWrite) return Fail(win::ERROR_ACCESS_DENIED, win::FALSE);
    fd = c->Fd;
  } else {
    return Fail(win::ERROR_INVALID_HANDLE, win::FALSE);
  }
  int e = 0;
  if (!SendAll(fd, static_cast<const char*>(aBuffer), aSize, e)) return Fail(ErrnoOfPipe(e, true), win::FALSE);
  if (aWritten) *aWritten = aSize;
  return win::TRUE;
}

}  // namespace sim

namespace win {

HANDLE CreateNamedPipeW(LPCWSTR lpName, DWORD dwOpenMode, DWORD dwPipeMode, DWORD nMaxInstances, DWORD, DWORD, DWORD,
                        LPSECURITY_ATTRIBUTES) {
  if (!sim::CurrentProcess()) return sim::Fail(sim::kErrorNotReady, INVALID_HANDLE_VALUE);
  Text name = sim::PipeNameOf(lpName);
  if (name.empty()) return sim::Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
  DWORD access = dwOpenMode & PIPE_ACCESS_DUPLEX;
  if (!access || nMaxInstances == 0 || nMaxInstances > PIPE_UNLIMITED_INSTANCES ||
      (dwOpenMode & FILE_FLAG_OVERLAPPED) || (dwPipeMode & (PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_NOWAIT)))
    return sim::Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  const std::uint64_t hash = sim::PipeHash(name);
  // Existing instances count against the limit; the new one takes the lowest free address.
  int existing = 0;
  for (int k = 0; k < sim::kInstancesMax; ++k) {
    int fd = -1;
    if (sim::InstanceAsk(hash, k, 'Q', fd) != sim::Probe::Absent) ++existing;
  }
  if (existing >= static_cast<int>(nMaxInstances)) return sim::Fail(ERROR_PIPE_BUSY, INVALID_HANDLE_VALUE);
  if (existing && (dwOpenMode & FILE_FLAG_FIRST_PIPE_INSTANCE)) return sim::Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  auto server = std::make_shared<sim::PipeServer>();
  server->CanRead = (access & PIPE_ACCESS_INBOUND) != 0;
  server->CanWrite = (access & PIPE_ACCESS_OUTBOUND) != 0;
  for (int k = 0; k < sim::kInstancesMax && server->S->ListenFd < 0; ++k) {
    int fd = sim::SocketNew();
    if (fd < 0) return sim::Fail(ERROR_TOO_MANY_OPEN_FILES, INVALID_HANDLE_VALUE);
    sim::Address a = sim::AddressOf(hash, k);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a.Addr), a.Size) == 0 && ::listen(fd, 16) == 0) {
      server->S->ListenFd = fd;
      break;
    }
    ::close(fd);
  }
  if (server->S->ListenFd < 0) return sim::Fail(ERROR_PIPE_BUSY, INVALID_HANDLE_VALUE);
  server->Acceptor = std::thread(sim::AcceptLoop, server->S);
  return sim::HandleInsert(server);
}

BOOL ConnectNamedPipe(HANDLE hNamedPipe, OVERLAPPED* lpOverlapped) {
  auto server = sim::HandleGetAs<sim::PipeServer>(hNamedPipe);
  if (!server) return sim::Fail(ERROR_INVALID_HANDLE, FALSE);
  if (lpOverlapped) return sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::unique_lock<std::mutex> lock(server->S->Lock);
  if (server->S->Connected) return sim::Fail(ERROR_PIPE_CONNECTED, FALSE);
  server->S->Listening = true;
  {
    sim::TThreadBlocked blocked;
    server->S->Changed.wait(lock, [&] { return server->S->Connected || server->S->Stop; });
  }
  if (!server->S->Connected) return sim::Fail(ERROR_BROKEN_PIPE, FALSE);
  return TRUE;
}

BOOL DisconnectNamedPipe(HANDLE hNamedPipe) {
  auto server = sim::HandleGetAs<sim::PipeServer>(hNamedPipe);
  if (!server) return sim::Fail(ERROR_INVALID_HANDLE, FALSE);
  std::lock_guard<std::mutex> lock(server->S->Lock);
  if (server->S->ClientFd >= 0) {
    // shutdown first: a thread of ours still reading the socket sees its end.
    ::shutdown(server->S->ClientFd, SHUT_RDWR);
    server->S->Retired.push_back(server->S->ClientFd);
  }
  server->S->ClientFd = -1;
  server->S->Connected = false;
  server->S->Listening = false;  // clients find it busy until it connects again
  return TRUE;
}

BOOL WaitNamedPipeW(LPCWSTR lpNamedPipeName, DWORD nTimeOut) {
  if (!sim::CurrentProcess()) return sim::Fail(sim::kErrorNotReady, FALSE);
  Text name = sim::PipeNameOf(lpNamedPipeName);
  if (name.empty()) return sim::Fail(ERROR_INVALID_NAME, FALSE);
  const std::uint64_t hash = sim::PipeHash(name);
  const DWORD timeout = nTimeOut == NMPWAIT_USE_DEFAULT_WAIT ? 50 : nTimeOut;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    int fd = -1;
    sim::Probe p = sim::InstancesAsk(hash, 'Q', fd);
    if (p == sim::Probe::Free) return TRUE;
    if (p == sim::Probe::Absent) return sim::Fail(ERROR_FILE_NOT_FOUND, FALSE);
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    if (timeout != NMPWAIT_WAIT_FOREVER && waited >= static_cast<long long>(timeout)) return sim::Fail(ERROR_SEM_TIMEOUT, FALSE);
    sim::TThreadBlocked blocked;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace win
