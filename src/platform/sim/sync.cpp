// Critical sections, events and waits of the simulated machine.
//
// A critical section is a futex word in the Windows layout: LockCount 0 free, 1 held, 2 held
// with waiters; OwningThread the owner's id. Events without a name, or with a name on a
// process that belongs to no machine, live in this process. Named events of a machine are
// shared by its processes: each is a small file under <machine>/objects/, mapped by every
// process that holds it, with the state in the mapping and waiters sleeping on a futex in it.
// The file also lists the processes that hold the event, so that the event goes with the
// last of them, as on Windows, even when one of them was killed.
#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/sim/handles.h"
#include "platform/sim/machine.h"
#include "platform/utf.h"
#include "platform/win32api.h"
#include "platform/sim/threadcycles.h"

namespace {

using win::DWORD;

DWORD SelfTid() {
  thread_local DWORD tid = static_cast<DWORD>(::syscall(SYS_gettid));
  return tid;
}

long Futex(void* aAddr, int aOp, std::uint32_t aVal, const timespec* aTimeout) {
  return ::syscall(SYS_futex, aAddr, aOp, aVal, aTimeout, nullptr, 0);
}

// How long a thread spins on a held critical section before it sleeps; one processor spins
// for nothing (the holder cannot run meanwhile).
const int kSpinCount = std::thread::hardware_concurrency() > 1 ? 2000 : 0;

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Takes a free section (LockCount 0 -> 1); else false, with the count seen in aSeen.
bool Take(win::CRITICAL_SECTION* cs, win::LONG& aSeen) {
  aSeen = 0;
  return __atomic_compare_exchange_n(&cs->LockCount, &aSeen, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED);
}

void OwnerSet(win::CRITICAL_SECTION* cs, DWORD aTid) {
  std::atomic_ref<win::HANDLE>(cs->OwningThread)
      .store(reinterpret_cast<win::HANDLE>(static_cast<win::ULONG_PTR>(aTid)), std::memory_order_relaxed);
}

}  // namespace

namespace win {

// ---- critical sections ------------------------------------------------------------------

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  std::memset(lpCriticalSection, 0, sizeof(*lpCriticalSection));
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  DWORD me = SelfTid();
  // Only this thread ever writes its own id there, so a match means it holds the section.
  if (CriticalSectionOwnerGet(cs) == me) {
    ++cs->RecursionCount;
    return;
  }
  LONG c;
  bool taken = Take(cs, c);
  // As Windows does on a machine of several processors, spin a little first: a section held
  // for a few instructions is free again long before a sleep and a wake-up would be over.
  for (int spin = 0; !taken && c != 2 && spin < kSpinCount; ++spin) {
    Pause();
    c = __atomic_load_n(&cs->LockCount, __ATOMIC_RELAXED);
    taken = c == 0 && Take(cs, c);
  }
  if (!taken) {
    if (c != 2) c = __atomic_exchange_n(&cs->LockCount, 2, __ATOMIC_ACQUIRE);
    while (c != 0) {
      sim::TThreadBlocked blocked;
      Futex(&cs->LockCount, FUTEX_WAIT_PRIVATE, 2, nullptr);
      c = __atomic_exchange_n(&cs->LockCount, 2, __ATOMIC_ACQUIRE);
    }
  }
  OwnerSet(cs, me);
  cs->RecursionCount = 1;
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  DWORD me = SelfTid();
  if (CriticalSectionOwnerGet(cs) == me) {
    ++cs->RecursionCount;
    return TRUE;
  }
  LONG c;
  if (!Take(cs, c)) return FALSE;
  OwnerSet(cs, me);
  cs->RecursionCount = 1;
  return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  // Leaving a section the thread does not hold would free it under its owner's feet; the
  // simulation refuses that instead of corrupting the section.
  if (CriticalSectionOwnerGet(cs) != SelfTid()) return;
  if (--cs->RecursionCount > 0) return;
  OwnerSet(cs, 0);
  if (__atomic_exchange_n(&cs->LockCount, 0, __ATOMIC_RELEASE) == 2) Futex(&cs->LockCount, FUTEX_WAKE_PRIVATE, 1, nullptr);
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { (void)lpCriticalSection; }

}  // namespace win

// ---- events -------------------------------------------------------------------------------

namespace {

using win::BOOL;
using win::HANDLE;

class EventObject : public sim::KernelObject {
 public:
  bool Waitable() const override { return true; }
  virtual void Set() = 0;
  virtual void Reset() = 0;
};

class LocalEvent : public EventObject {
 public:
  LocalEvent(bool bManual, bool bInitial) : FManual(bManual), FSignalled(bInitial) {}
  bool SignalTest(bool bConsume) override {
    if (!FSignalled) return false;
    if (bConsume && !FManual) FSignalled = false;
    return true;
  }
  void Set() override {
    std::lock_guard<std::mutex> g(sim::KernelLock());
    FSignalled = true;
    SignalNotify();
  }
  void Reset() override {
    std::lock_guard<std::mutex> g(sim::KernelLock());
    FSignalled = false;
  }

 private:
  bool FManual;
  bool FSignalled;  // under KernelLock
};

// The mapped state of a machine-wide event.
struct SharedBlock {
  static constexpr std::uint32_t kMagic = 0x4F52564E;  // written last, once initialised
  static constexpr int kUsers = 200;
  std::uint32_t Magic;
  std::uint32_t Manual;
  std::uint32_t State;     // 1: signalled
  std::uint32_t Sequence;  // bumped by every SetEvent; waiters sleep on it
  struct User {
    std::int32_t Pid;
    std::uint32_t Count;
  } Users[kUsers];
};

// Serialises opening and closing of the machine's named objects (flock on objects/lock).
class ObjectsLock {
 public:
  explicit ObjectsLock(const std::string& aFolder) {
    FFd = ::open((aFolder + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (FFd >= 0)
      while (::flock(FFd, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~ObjectsLock() {
    if (FFd >= 0) ::close(FFd);
  }
  bool Ok() const { return FFd >= 0; }

 private:
  int FFd;
};

bool PidAlive(std::int32_t aPid) { return aPid > 0 && (::kill(aPid, 0) == 0 || errno != ESRCH); }

class SharedEvent : public EventObject {
 public:
  // Opens (bCreate: or creates) the event file; on failure Error() tells why.
  SharedEvent(std::string aFolder, std::string aFile, bool bCreate, bool bManual, bool bInitial)
      : FFolder(std::move(aFolder)), FPath(FFolder + "/" + aFile) {
    ObjectsLock lock(FFolder);
    if (!lock.Ok()) {
      FError = win::ERROR_ACCESS_DENIED;
      return;
    }
    int fd = ::open(FPath.c_str(), bCreate ? O_RDWR | O_CREAT | O_CLOEXEC : O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0) {
      FError = errno == ENOENT ? win::ERROR_FILE_NOT_FOUND : win::ERROR_ACCESS_DENIED;
      return;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 ||
        (st.st_size < static_cast<off_t>(sizeof(SharedBlock)) && ::ftruncate(fd, sizeof(SharedBlock)) != 0)) {
      ::close(fd);
      FError = win::ERROR_NOT_ENOUGH_MEMORY;
      return;
    }
    void* p = ::mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED) {
      FError = win::ERROR_NOT_ENOUGH_MEMORY;
      return;
    }
    FBlock = static_cast<SharedBlock*>(p);
    // Processes that ended without closing their handles no longer hold it.
    bool held = false;
    for (auto& u : FBlock->Users) {
      if (u.Pid != 0 && !PidAlive(u.Pid)) u = {0, 0};
      held = held || u.Pid != 0;
    }
    if (!held || FBlock->Magic != SharedBlock::kMagic) {
      if (!bCreate) {
        Drop();
        FError = win::ERROR_FILE_NOT_FOUND;
        return;
      }
      std::memset(static_cast<void*>(FBlock), 0, sizeof(SharedBlock));
      FBlock->Manual = bManual ? 1 : 0;
      FBlock->State = bInitial ? 1 : 0;
      __atomic_store_n(&FBlock->Magic, SharedBlock::kMagic, __ATOMIC_RELEASE);
    } else {
      FExisted = true;
    }
    SharedBlock::User* slot = nullptr;
    for (auto& u : FBlock->Users)
      if (u.Pid == ::getpid()) slot = &u;
    for (auto& u : FBlock->Users)
      if (!slot && u.Pid == 0) slot = &u;
    if (!slot) {
      ::munmap(FBlock, sizeof(SharedBlock));
      FBlock = nullptr;
      FError = win::ERROR_NOT_ENOUGH_MEMORY;
      return;
    }
    slot->Pid = ::getpid();
    ++slot->Count;
  }

  ~SharedEvent() override {
    if (!FBlock) return;
    ObjectsLock lock(FFolder);
    for (auto& u : FBlock->Users)
      if (u.Pid == ::getpid() && --u.Count == 0) u.Pid = 0;
    bool held = false;
    for (auto& u : FBlock->Users) held = held || u.Pid != 0;
    if (held)
      ::munmap(FBlock, sizeof(SharedBlock));
    else
      Drop();
  }

  DWORD Error() const { return FError; }
  bool Existed() const { return FExisted; }

  bool SignalsLocally() const override { return false; }

  bool SignalTest(bool bConsume) override {
    if (bConsume && !FBlock->Manual) {
      std::uint32_t one = 1;
      return __atomic_compare_exchange_n(&FBlock->State, &one, 0, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
    }
    return __atomic_load_n(&FBlock->State, __ATOMIC_ACQUIRE) == 1;
  }

  std::optional<bool> WaitAlone(DWORD dwMilliseconds) override {
    using Clock = std::chrono::steady_clock;
    const bool infinite = dwMilliseconds == win::INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : dwMilliseconds);
    for (;;) {
      std::uint32_t seq = __atomic_load_n(&FBlock->Sequence, __ATOMIC_ACQUIRE);
      if (SignalTest(true)) return true;
      timespec ts{}, *pts = nullptr;
      if (!infinite) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        ts.tv_sec = static_cast<time_t>(left / 1000000000);
        ts.tv_nsec = static_cast<long>(left % 1000000000);
        pts = &ts;
      }
      // Shared between processes: not a private futex.
      sim::TThreadBlocked blocked;
      Futex(&FBlock->Sequence, FUTEX_WAIT, seq, pts);
    }
  }

  void Set() override {
    __atomic_store_n(&FBlock->State, 1, __ATOMIC_RELEASE);
    __atomic_add_fetch(&FBlock->Sequence, 1, __ATOMIC_ACQ_REL);
    Futex(&FBlock->Sequence, FUTEX_WAKE, INT_MAX, nullptr);
    std::lock_guard<std::mutex> g(sim::KernelLock());
    SignalNotify();
  }

  void Reset() override { __atomic_store_n(&FBlock->State, 0, __ATOMIC_RELEASE); }

 private:
  // Unmaps and removes the file: nobody holds the event any more.
  void Drop() {
    ::munmap(FBlock, sizeof(SharedBlock));
    FBlock = nullptr;
    ::unlink(FPath.c_str());
  }

  std::string FFolder;
  std::string FPath;
  SharedBlock* FBlock = nullptr;
  DWORD FError = 0;
  bool FExisted = false;
};

// Named events of this process, by normalised name; the objects go with their last handle.
struct NameTable {
  std::mutex Lock;
  std::map<Text, std::weak_ptr<EventObject>> Events;
};

NameTable& Names() {
  static NameTable* t = new NameTable;  // lives to the very end of the process
  return *t;
}

// The object name as the namespace keys it: "Local\" is the session's namespace, which is
// also where names without a prefix go; "Global\" is kept. Any other '\' names a folder of
// the object namespace that does not exist.
bool NameNormalise(TextView aName, Text& aKey) {
  constexpr TextView kLocal = u"Local\\";
  constexpr TextView kGlobal = u"Global\\";
  TextView rest = aName;
  Text prefix;
  if (rest.substr(0, kLocal.size()) == kLocal) {
    rest.remove_prefix(kLocal.size());
  } else if (rest.substr(0, kGlobal.size()) == kGlobal) {
    rest.remove_prefix(kGlobal.size());
    prefix = Text(kGlobal);
  }
  if (rest.find(u'\\') != TextView::npos) {
    win::SetLastError(win::ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (aName.size() > win::MAX_PATH) {
    win::SetLastError(win::ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  aKey = prefix + Text(rest);
  return true;
}

// A host file name for an object name: letters, digits, '-', '_' and '.' as they are, other
// bytes of the UTF-8 form as %XX; long names are shortened with a hash of the whole name.
std::string ObjectFileName(const Text& aKey) {
  std::string utf8 = TextToUtf8(aKey);
  std::string out = "event-";
  static const char* hex = "0123456789ABCDEF";
  for (unsigned char c : utf8) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  if (out.size() > 180) {
    std::uint64_t h = 1469598103934665603ull;
    for (char16_t c : aKey) h = (h ^ c) * 1099511628211ull;
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    out = out.substr(0, 160) + "~" + buf;
  }
  return out;
}

std::string ObjectsFolder() {
  std::string machine = sim::MachineFolderHost();
  if (machine.empty()) return std::string();
  std::string folder = machine + "/objects";
  ::mkdir(folder.c_str(), 0777);
  return folder;
}

// Finds or (bCreate) creates a named event; null with the last error set on failure.
std::shared_ptr<EventObject> NamedEvent(TextView aName, bool bCreate, bool bManual, bool bInitial, bool& bExisted) {
  Text key;
  if (!NameNormalise(aName, key)) return nullptr;
  NameTable& t = Names();
  std::lock_guard<std::mutex> g(t.Lock);
  auto it = t.Events.find(key);
  if (it != t.Events.end()) {
    if (auto e = it->second.lock()) {
      bExisted = true;
      return e;
    }
    t.Events.erase(it);
  }
  std::shared_ptr<EventObject> e;
  std::string folder = ObjectsFolder();
  if (folder.empty()) {
    if (!bCreate) {
      win::SetLastError(win::ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    e = std::make_shared<LocalEvent>(bManual, bInitial);
    bExisted = false;
  } else {
    auto s = std::make_shared<SharedEvent>(folder, ObjectFileName(key), bCreate, bManual, bInitial);
    if (s->Error() != 0) {
      win::SetLastError(s->Error());
      return nullptr;
    }
    bExisted = s->Existed();
    e = s;
  }
  t.Events[key] = e;
  return e;
}

std::shared_ptr<EventObject> EventOf(HANDLE h) { return sim::HandleGetAs<EventObject>(h); }

}  // namespace

namespace win {

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
  (void)lpEventAttributes;
  std::shared_ptr<EventObject> e;
  bool existed = false;
  if (lpName && *lpName) {
    e = NamedEvent(lpName, true, bManualReset != FALSE, bInitialState != FALSE, existed);
    if (!e) return nullptr;
  } else {
    e = std::make_shared<LocalEvent>(bManualReset != FALSE, bInitialState != FALSE);
  }
  HANDLE h = sim::HandleInsert(e);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
  (void)dwDesiredAccess;
  (void)bInheritHandle;
  if (!lpName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool existed = false;
  auto e = NamedEvent(lpName, false, false, false, existed);
  return e ? sim::HandleInsert(e) : nullptr;
}

BOOL SetEvent(HANDLE hEvent) {
  auto e = EventOf(hEvent);
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  e->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  auto e = EventOf(hEvent);
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  e->Reset();
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<sim::KernelObject>> objects;
  objects.reserve(nCount);
  for (DWORD i = 0; i < nCount; ++i) {
    auto o = sim::HandleGet(lpHandles[i]);
    if (!o || !o->Waitable()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    if (bWaitAll)
      for (auto& prev : objects)
        if (prev == o) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return WAIT_FAILED;
        }
    objects.push_back(std::move(o));
  }
  return sim::WaitObjects(objects, bWaitAll != FALSE, dwMilliseconds);
}

}  // namespace win
