// Call stacks on the Linux host.
//
// Frames come from the C++ runtime's unwinder (libgcc's _Unwind_Backtrace, driven by the
// call-frame information every object carries), symbols and lines from elfutils' libdw. A
// thread other than the caller is sampled with a real-time signal: its handler unwinds into a
// preallocated buffer (nothing there allocates or locks) and wakes the caller through a
// semaphore; the slow part, symbolisation, runs on the calling thread.
#include "platform/stackwalk.h"

#include <dirent.h>
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <elfutils/libdwfl.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include <unwind.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/utf.h"
#include "platform/win32api.h"

namespace win {

namespace {

constexpr int kMaxFrames = 256;

// Frames as the unwinder reports them. Interrupted marks the frame a signal interrupted: its
// address is the instruction to run next, not a return address.
struct TRawFrames {
  std::uintptr_t Address[kMaxFrames];
  bool Interrupted[kMaxFrames];
  int Count;
};

_Unwind_Reason_Code FrameCollect(_Unwind_Context* aContext, void* aArg) {
  auto* f = static_cast<TRawFrames*>(aArg);
  if (f->Count >= kMaxFrames) return _URC_END_OF_STACK;
  int beforeInsn = 0;
  std::uintptr_t ip = _Unwind_GetIPInfo(aContext, &beforeInsn);
  if (ip == 0) return _URC_END_OF_STACK;
  // A return address points past the call; one byte back is still the call's line.
  f->Address[f->Count] = beforeInsn ? ip : ip - 1;
  f->Interrupted[f->Count] = beforeInsn != 0;
  ++f->Count;
  return _URC_NO_REASON;
}

// The first frame reported is this function's own. Async-signal-safe: libgcc finds the
// frame tables without locks or allocation (through _dl_find_object on this glibc).
__attribute__((noinline)) void FramesUnwind(TRawFrames& aFrames) {
  aFrames.Count = 0;
  _Unwind_Backtrace(FrameCollect, &aFrames);
  asm volatile("" ::: "memory");  // keeps the call above from becoming a tail call
}

pid_t HostTid() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// ---- sampling another thread ------------------------------------------------------------

enum : int { kIdle, kRequested, kWriting, kWritten };

// One request at a time. The handler claims a live request (kRequested -> kWriting), so a
// handler that comes too late, after the caller gave up, finds kIdle and writes nothing.
struct TSampler {
  std::mutex RequestLock;
  sem_t Done;
  std::atomic<int> State{kIdle};
  std::atomic<pid_t> Target{0};
  TRawFrames Frames;
};

std::atomic<TSampler*> gSampler{nullptr};

void SampleSignalHandler(int, siginfo_t*, void*) {
  int savedErrno = errno;
  TSampler* s = gSampler.load(std::memory_order_acquire);
  if (s && s->Target.load(std::memory_order_acquire) == HostTid()) {
    int expected = kRequested;
    if (s->State.compare_exchange_strong(expected, kWriting, std::memory_order_acq_rel)) {
      FramesUnwind(s->Frames);
      s->State.store(kWritten, std::memory_order_release);
      ::sem_post(&s->Done);
    }
  }
  errno = savedErrno;
}

// A real-time signal of its own; the C library keeps the first few for itself, which
// SIGRTMIN already accounts for.
int SampleSignal() { return SIGRTMIN + 5; }

// Never destroyed: a late signal may still look at it while the process ends.
TSampler& Sampler() {
  static TSampler* s = [] {
    auto* n = new TSampler;
    ::sem_init(&n->Done, 0, 0);
    // Resolves and warms the unwinder outside any signal handler.
    FramesUnwind(n->Frames);
    n->Frames.Count = 0;
    gSampler.store(n, std::memory_order_release);
    struct sigaction sa {};
    sa.sa_sigaction = SampleSignalHandler;
    sa.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SampleSignal(), &sa, nullptr);
    return n;
  }();
  return *s;
}

timespec DeadlineIn(long aMilliseconds) {
  timespec t{};
  ::clock_gettime(CLOCK_REALTIME, &t);
  t.tv_sec += aMilliseconds / 1000;
  t.tv_nsec += (aMilliseconds % 1000) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec += 1;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}

// Long enough for a thread busy in a system call (the signal interrupts the call); a thread
// that never answers costs this much once.
constexpr long kSampleTimeoutMs = 1000;

__attribute__((noinline)) std::vector<std::uintptr_t> OwnAddresses(int iSkip) {
  TRawFrames f;
  FramesUnwind(f);
  // FramesUnwind and this function, then what the caller asks to drop.
  int first = 2 + (iSkip > 0 ? iSkip : 0);
  std::vector<std::uintptr_t> out;
  for (int i = first; i < f.Count; ++i) out.push_back(f.Address[i]);
  return out;
}

}  // namespace

__attribute__((noinline)) std::vector<std::uintptr_t> StackAddressesOfCurrentThread(int iSkip) {
  return OwnAddresses(1 + (iSkip > 0 ? iSkip : 0));
}

__attribute__((noinline)) std::vector<std::uintptr_t> StackAddressesOfThread(DWORD aThreadId) {
  if (aThreadId == 0) return {};
  if (static_cast<pid_t>(aThreadId) == HostTid()) return OwnAddresses(1);

  TSampler& s = Sampler();
  std::lock_guard<std::mutex> g(s.RequestLock);
  while (::sem_trywait(&s.Done) == 0) {
  }
  s.Target.store(static_cast<pid_t>(aThreadId), std::memory_order_release);
  s.State.store(kRequested, std::memory_order_release);
  // tgkill reaches only a thread of this process: any other id fails with ESRCH.
  if (::syscall(SYS_tgkill, ::getpid(), static_cast<pid_t>(aThreadId), SampleSignal()) != 0) {
    s.State.store(kIdle, std::memory_order_release);
    s.Target.store(0, std::memory_order_release);
    return {};
  }
  timespec deadline = DeadlineIn(kSampleTimeoutMs);
  bool written = false;
  for (;;) {
    if (::sem_timedwait(&s.Done, &deadline) == 0) {
      if (s.State.load(std::memory_order_acquire) == kWritten) {
        written = true;
        break;
      }
      continue;
    }
    if (errno == EINTR) continue;
    // Timed out. Withdraw the request unless the handler has claimed it; then it is
    // writing right now and finishes soon.
    int expected = kRequested;
    if (s.State.compare_exchange_strong(expected, kIdle, std::memory_order_acq_rel)) break;
    while (::sem_wait(&s.Done) != 0 && errno == EINTR) {
    }
    written = s.State.load(std::memory_order_acquire) == kWritten;
    break;
  }
  std::vector<std::uintptr_t> out;
  if (written) {
    // Drop the handler's own frames: everything up to the interrupted frame. A sanitizer
    // may run the handler later from its own code, without a signal frame; then only the
    // two frames of ours go.
    int first = -1;
    for (int i = 0; i < s.Frames.Count; ++i)
      if (s.Frames.Interrupted[i]) {
        first = i;
        break;
      }
    if (first < 0) first = s.Frames.Count >= 2 ? 2 : s.Frames.Count;
    for (int i = first; i < s.Frames.Count; ++i) out.push_back(s.Frames.Address[i]);
  }
  s.State.store(kIdle, std::memory_order_release);
  s.Target.store(0, std::memory_order_release);
  return out;
}

std::vector<DWORD> ThreadIdsOfProcess() {
  std::vector<DWORD> out;
  DIR* d = ::opendir("/proc/self/task");
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    out.push_back(static_cast<DWORD>(std::strtoul(e->d_name, nullptr, 10)));
  }
  ::closedir(d);
  return out;
}

// ---- symbols ----------------------------------------------------------------------------

namespace {

char* gDebugInfoPath = nullptr;
const Dwfl_Callbacks kCallbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr,
                                   &gDebugInfoPath};

// One libdw session for the process: it maps each module's symbols and DWARF once. Results
// per address are cached; libdw itself is not thread-safe, hence the lock.
struct TSymbols {
  std::mutex Lock;
  Dwfl* Session = nullptr;
  std::unordered_map<std::uintptr_t, std::vector<TStackFrameSymbol>> Cache;
};

TSymbols& Symbols() {
  static TSymbols* s = new TSymbols;
  return *s;
}

// (Re)reads the process's modules from /proc/self/maps: libraries loaded since the last
// report are added, known ones kept.
void ModulesReport(TSymbols& s) {
  if (!s.Session) {
    s.Session = dwfl_begin(&kCallbacks);
    if (!s.Session) return;
  } else {
    dwfl_report_begin_add(s.Session);
  }
  dwfl_linux_proc_report(s.Session, ::getpid());
  dwfl_report_end(s.Session, nullptr, nullptr);
}

bool IsRoutineTag(int aTag) { return aTag == DW_TAG_subprogram || aTag == DW_TAG_inlined_subroutine; }

bool IsClassTag(int aTag) {
  return aTag == DW_TAG_class_type || aTag == DW_TAG_structure_type || aTag == DW_TAG_union_type;
}

// The DIE that declares a routine: an inlined or out-of-line instance points at its abstract
// definition, a method defined outside its class at the declaration inside it.
Dwarf_Die DeclarationOf(Dwarf_Die aDie) {
  for (int hop = 0; hop < 8; ++hop) {
    Dwarf_Attribute a;
    Dwarf_Die next;
    if ((dwarf_attr(&aDie, DW_AT_abstract_origin, &a) || dwarf_attr(&aDie, DW_AT_specification, &a)) &&
        dwarf_formref_die(&a, &next)) {
      aDie = next;
      continue;
    }
    break;
  }
  return aDie;
}

// Class and routine of a routine DIE. Namespaces are left out; a lambda is "{lambda}" after
// the routine that contains it.
void RoutineNames(Dwarf_Die aDie, Text& aClass, Text& aRoutine, int aDepth = 0) {
  Dwarf_Die decl = DeclarationOf(aDie);
  const char* name = dwarf_diename(&decl);
  aClass.clear();
  aRoutine = name ? Utf8ToText(name) : Text();
  Dwarf_Die* chain = nullptr;
  int n = dwarf_getscopes_die(&decl, &chain);
  for (int i = 1; i < n; ++i) {
    int tag = dwarf_tag(&chain[i]);
    if (IsClassTag(tag)) {
      if (const char* cls = dwarf_diename(&chain[i])) {
        aClass = Utf8ToText(cls);
        break;
      }
      // An unnamed class: a lambda's closure. Name it after the routine that holds it.
      aRoutine = u"{lambda}";
      for (int j = i + 1; j < n && aDepth < 4; ++j)
        if (IsRoutineTag(dwarf_tag(&chain[j]))) {
          Text outerClass, outerRoutine;
          RoutineNames(chain[j], outerClass, outerRoutine, aDepth + 1);
          aClass = outerClass;
          aRoutine = (outerRoutine.empty() ? Text() : outerRoutine + u".") + aRoutine;
          break;
        }
      break;
    }
    if (IsRoutineTag(tag) || tag == DW_TAG_compile_unit) break;
  }
  std::free(chain);
}

int DeclLineOf(Dwarf_Die aDie) {
  int line = 0;
  if (dwarf_decl_line(&aDie, &line) != 0) line = 0;
  return line;
}

std::uint64_t AttrUData(Dwarf_Die& aDie, unsigned aName) {
  Dwarf_Attribute a;
  Dwarf_Word v = 0;
  if (!dwarf_attr(&aDie, aName, &a) || dwarf_formudata(&a, &v) != 0) return 0;
  return v;
}

std::vector<TStackFrameSymbol> SymbolizeLocked(TSymbols& s, std::uintptr_t aAddress) {
  std::vector<TStackFrameSymbol> out;
  TStackFrameSymbol base;
  base.Address = aAddress;
  if (!s.Session) ModulesReport(s);
  Dwfl_Module* mod = s.Session ? dwfl_addrmodule(s.Session, aAddress) : nullptr;
  if (!mod && s.Session) {
    ModulesReport(s);
    mod = dwfl_addrmodule(s.Session, aAddress);
  }
  if (!mod) {
    out.push_back(base);
    return out;
  }
  const char* mainFile = nullptr;
  const char* modName = dwfl_module_info(mod, nullptr, nullptr, nullptr, nullptr, nullptr, &mainFile, nullptr);
  base.ModulePath = Utf8ToText(mainFile ? mainFile : modName ? modName : "");
  GElf_Off offset = 0;
  GElf_Sym sym;
  if (const char* symName = dwfl_module_addrinfo(mod, aAddress, &offset, &sym, nullptr, nullptr, nullptr)) {
    base.SymbolName = symName;
    base.RoutineOffset = offset;
  }

  Dwarf_Addr bias = 0;
  Dwarf_Die* cu = dwfl_module_addrdie(mod, aAddress, &bias);
  if (cu) {
    Text file;
    int line = 0;
    if (Dwfl_Line* l = dwfl_module_getsrc(mod, aAddress)) {
      if (const char* f = dwfl_lineinfo(l, nullptr, &line, nullptr, nullptr, nullptr)) file = Utf8ToText(f);
    }
    Dwarf_Die* scopes = nullptr;
    int n = dwarf_getscopes(cu, aAddress - bias, &scopes);
    int innermost = -1;
    for (int i = 0; i < n; ++i)
      if (IsRoutineTag(dwarf_tag(&scopes[i]))) {
        innermost = i;
        break;
      }
    if (innermost >= 0) {
      // The lexical chain of the innermost routine: inlined instances up to the routine
      // the machine code belongs to.
      Dwarf_Die* chain = nullptr;
      int m = dwarf_getscopes_die(&scopes[innermost], &chain);
      Dwarf_Files* files = nullptr;
      size_t fileCount = 0;
      if (dwarf_getsrcfiles(cu, &files, &fileCount) != 0) files = nullptr;
      for (int i = 0; i < m; ++i) {
        int tag = dwarf_tag(&chain[i]);
        if (!IsRoutineTag(tag)) continue;
        TStackFrameSymbol frame = base;
        frame.SourcePath = file;
        frame.Line = line;
        frame.DeclLine = DeclLineOf(chain[i]);
        RoutineNames(chain[i], frame.ClassName, frame.RoutineName);
        out.push_back(std::move(frame));
        if (tag == DW_TAG_subprogram) break;
        // The routine this one was inlined into continues at the call site.
        line = static_cast<int>(AttrUData(chain[i], DW_AT_call_line));
        std::uint64_t fileIndex = AttrUData(chain[i], DW_AT_call_file);
        const char* callFile = files && fileIndex < fileCount ? dwarf_filesrc(files, fileIndex, nullptr, nullptr) : nullptr;
        file = callFile ? Utf8ToText(callFile) : Text();
      }
      std::free(chain);
    } else if (!file.empty()) {
      base.SourcePath = file;
      base.Line = line;
    }
    std::free(scopes);
  }
  if (out.empty()) out.push_back(base);
  return out;
}

// Enough for every address a long-running program meets; past it the cache starts over.
constexpr std::size_t kCacheLimit = 200000;

}  // namespace

std::vector<TStackFrameSymbol> AddressSymbolize(std::uintptr_t aAddress) {
  TSymbols& s = Symbols();
  std::lock_guard<std::mutex> g(s.Lock);
  auto it = s.Cache.find(aAddress);
  if (it != s.Cache.end()) return it->second;
  std::vector<TStackFrameSymbol> result = SymbolizeLocked(s, aAddress);
  if (s.Cache.size() >= kCacheLimit) s.Cache.clear();
  s.Cache.emplace(aAddress, result);
  return result;
}

}  // namespace win
