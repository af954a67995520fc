// Call stacks on Windows.
//
// The own thread: RtlCaptureStackBackTrace. Another thread: suspended, its context read, its
// frames walked into a fixed buffer (nothing on the way allocates, so a thread suspended while
// it holds the heap lock cannot block us), then resumed. x86_64 walks with the unwind tables
// of the images (RtlLookupFunctionEntry, RtlVirtualUnwind); i686 follows the frame-pointer
// chain, which is what a walker without symbol files does there too. Symbols come from
// dbghelp.dll, loaded at run time from the system folder only: never imported, never from the
// program's own folder. dbghelp is single-threaded, hence the lock around every call.
//
// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/stackwalk.h"
#include "platform/win32api.h"

#include <windows.h>
#include <dbghelp.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <set>
#include <unordered_map>

#include "platform/utf.h"
#include "platform/win32/convert.h"

namespace win {

namespace {

constexpr int kMaxFrames = 256;

template <class Fn>
Fn ProcOf(::HMODULE aModule, const char* aName) {
  return aModule ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(aModule, aName))) : nullptr;
}

// The bounds of the stack region that holds aSp: a walk that leaves them has gone astray.
bool StackRegionOf(std::uintptr_t aSp, std::uintptr_t& aLow, std::uintptr_t& aHigh) {
  MEMORY_BASIC_INFORMATION mbi{};
  if (::VirtualQuery(reinterpret_cast<LPCVOID>(aSp), &mbi, sizeof mbi) != sizeof mbi || mbi.State != MEM_COMMIT)
    return false;
  aLow = reinterpret_cast<std::uintptr_t>(mbi.BaseAddress);
  aHigh = aLow + mbi.RegionSize;
  return true;
}

// Walks a suspended thread's frames from its context into aOut; returns the count. The first
// address is where the thread stands; the others are return addresses minus one.
int FramesWalk(CONTEXT& aContext, std::uintptr_t* aOut) {
  int n = 0;
#if defined(_WIN64)
  std::uintptr_t low = 0, high = 0;
  if (!StackRegionOf(aContext.Rsp, low, high)) return 0;
  while (n < kMaxFrames) {
    DWORD64 pc = aContext.Rip;
    if (pc == 0) break;
    aOut[n] = n == 0 ? pc : pc - 1;
    ++n;
    DWORD64 imageBase = 0;
    PRUNTIME_FUNCTION fn = ::RtlLookupFunctionEntry(pc, &imageBase, nullptr);
    if (fn) {
      PVOID handlerData = nullptr;
      DWORD64 establisher = 0;
      ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, pc, fn, &aContext, &handlerData, &establisher, nullptr);
    } else {
      // A leaf routine: the return address is on top of the stack.
      if (aContext.Rsp < low || aContext.Rsp + 8 > high) break;
      aContext.Rip = *reinterpret_cast<DWORD64*>(aContext.Rsp);
      aContext.Rsp += 8;
    }
    if (aContext.Rsp < low || aContext.Rsp > high) break;
  }
#else
  std::uintptr_t low = 0, high = 0;
  if (!StackRegionOf(aContext.Esp, low, high)) return 0;
  aOut[n++] = aContext.Eip;
  std::uintptr_t fp = aContext.Ebp;
  while (n < kMaxFrames && fp >= low && fp + 8 <= high && fp % 4 == 0) {
    auto* frame = reinterpret_cast<const std::uintptr_t*>(fp);
    std::uintptr_t ret = frame[1];
    if (ret == 0) break;
    aOut[n++] = ret - 1;
    if (frame[0] <= fp) break;  // the chain only goes up the stack
    fp = frame[0];
  }
#endif
  return n;
}

// Code of a loaded image. A walk that reaches anything else has left the real frames (past
// the thread's first routine, some systems report leftovers of the stack).
bool IsImageCode(std::uintptr_t aAddress) {
  MEMORY_BASIC_INFORMATION mbi{};
  return aAddress != 0 &&
         ::VirtualQuery(reinterpret_cast<LPCVOID>(aAddress), &mbi, sizeof mbi) == sizeof mbi &&
         mbi.State == MEM_COMMIT && mbi.Type == MEM_IMAGE;
}

std::vector<std::uintptr_t> UpToFirstNonCode(const std::uintptr_t* aFrames, int aCount) {
  std::vector<std::uintptr_t> out;
  for (int i = 0; i < aCount && IsImageCode(aFrames[i]); ++i) out.push_back(aFrames[i]);
  return out;
}

}  // namespace

__attribute__((noinline)) std::vector<std::uintptr_t> StackAddressesOfCurrentThread(int iSkip) {
  void* frames[kMaxFrames];
  USHORT n = ::RtlCaptureStackBackTrace(0, kMaxFrames, frames, nullptr);
  // The stack starts at this function's caller: the frame this call returns into. Whether the
  // system's first frame is this function's own or already its caller's differs (the 32-bit
  // walk of Wine starts one further out), so the caller is looked for; then what the caller
  // asks to drop goes too.
  const void* const caller = __builtin_return_address(0);
  USHORT first = n > 0 ? 1 : 0;
  for (USHORT i = 0; i < n; ++i)
    if (frames[i] == caller) {
      first = i;
      break;
    }
  if (iSkip > 0) first = static_cast<USHORT>(std::min<int>(n, first + iSkip));
  std::uintptr_t addresses[kMaxFrames];
  for (USHORT i = first; i < n; ++i) addresses[i - first] = reinterpret_cast<std::uintptr_t>(frames[i]) - 1;
  return UpToFirstNonCode(addresses, n - first);
}

std::vector<std::uintptr_t> StackAddressesOfThread(DWORD aThreadId) {
  if (aThreadId == 0) return {};
  if (aThreadId == ::GetCurrentThreadId()) return StackAddressesOfCurrentThread(1);
  ::HANDLE thread =
      ::OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, aThreadId);
  if (!thread) return {};
  // Only a thread of this process: its stack is readable here.
  if (::GetProcessIdOfThread(thread) != ::GetCurrentProcessId()) {
    ::CloseHandle(thread);
    return {};
  }
  std::uintptr_t frames[kMaxFrames];
  int n = 0;
  if (::SuspendThread(thread) != static_cast<::DWORD>(-1)) {
    CONTEXT context{};
    context.ContextFlags = CONTEXT_FULL;
    if (::GetThreadContext(thread, &context)) n = FramesWalk(context, frames);
    ::ResumeThread(thread);
  }
  ::CloseHandle(thread);
  return UpToFirstNonCode(frames, n);
}

std::vector<DWORD> ThreadIdsOfProcess() {
  std::vector<DWORD> out;
  ::HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return out;
  THREADENTRY32 e{};
  e.dwSize = sizeof e;
  ::DWORD self = ::GetCurrentProcessId();
  for (::BOOL ok = ::Thread32First(snap, &e); ok; ok = ::Thread32Next(snap, &e))
    if (e.th32OwnerProcessID == self) out.push_back(e.th32ThreadID);
  ::CloseHandle(snap);
  return out;
}

// ---- symbols ----------------------------------------------------------------------------

namespace {

struct TDbgHelp {
  using TSymSetOptions = ::DWORD(WINAPI*)(::DWORD);
  using TSymInitializeW = ::BOOL(WINAPI*)(::HANDLE, PCWSTR, ::BOOL);
  using TSymFromAddrW = ::BOOL(WINAPI*)(::HANDLE, DWORD64, PDWORD64, PSYMBOL_INFOW);
  using TSymGetLineFromAddrW64 = ::BOOL(WINAPI*)(::HANDLE, DWORD64, PDWORD, PIMAGEHLP_LINEW64);
  using TSymRefreshModuleList = ::BOOL(WINAPI*)(::HANDLE);

  std::mutex Lock;
  bool Ready = false;
  TSymFromAddrW SymFromAddrW = nullptr;
  TSymGetLineFromAddrW64 SymGetLineFromAddrW64 = nullptr;
  TSymRefreshModuleList SymRefreshModuleList = nullptr;
  std::set<::HMODULE> Refreshed;
  std::map<::HMODULE, std::vector<std::pair<std::uint32_t, std::string>>> CoffSymbols;
  std::unordered_map<std::uintptr_t, std::vector<TStackFrameSymbol>> Cache;
};

// dbghelp.dll is no known DLL: only the copy in the system folder is acceptable.
::HMODULE DbgHelpLoad() {
  wchar_t folder[MAX_PATH];
  ::UINT len = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (len == 0 || len >= MAX_PATH) return nullptr;
  std::wstring path = std::wstring(folder, len) + L"\\dbghelp.dll";
  // Its own imports from the system folder too (Windows 7 without the search-flags update
  // rejects the flag; the full path alone still keeps the program's folder out for the DLL).
  ::HMODULE m = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!m && ::GetLastError() == ERROR_INVALID_PARAMETER) m = ::LoadLibraryExW(path.c_str(), nullptr, 0);
  return m;
}

// Never destroyed: symbols may be asked for while the process ends.
TDbgHelp& DbgHelp() {
  static TDbgHelp* d = [] {
    auto* n = new TDbgHelp;
    ::HMODULE m = DbgHelpLoad();
    auto setOptions = ProcOf<TDbgHelp::TSymSetOptions>(m, "SymSetOptions");
    auto initialize = ProcOf<TDbgHelp::TSymInitializeW>(m, "SymInitializeW");
    n->SymFromAddrW = ProcOf<TDbgHelp::TSymFromAddrW>(m, "SymFromAddrW");
    n->SymGetLineFromAddrW64 = ProcOf<TDbgHelp::TSymGetLineFromAddrW64>(m, "SymGetLineFromAddrW64");
    n->SymRefreshModuleList = ProcOf<TDbgHelp::TSymRefreshModuleList>(m, "SymRefreshModuleList");
    if (setOptions && initialize && n->SymFromAddrW) {
      setOptions(SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES | SYMOPT_FAIL_CRITICAL_ERRORS);
      n->Ready = initialize(::GetCurrentProcess(), nullptr, TRUE) != FALSE;
    }
    return n;
  }();
  return *d;
}

bool FileReadAt(::HANDLE aFile, std::uint64_t aOffset, void* aBuffer, ::DWORD aSize) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(aOffset);
  ::DWORD done = 0;
  return ::SetFilePointerEx(aFile, at, nullptr, FILE_BEGIN) && ::ReadFile(aFile, aBuffer, aSize, &done, nullptr) &&
         done == aSize;
}

template <class T>
T LittleAt(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The function symbols of a module's COFF symbol table (MinGW's linker keeps one in the file
// unless the program is stripped; the system's DLLs have none), by address relative to the
// image, sorted. Empty when the file has none or cannot be read.
std::vector<std::pair<std::uint32_t, std::string>> CoffSymbolsRead(const Text& aPath) {
  std::vector<std::pair<std::uint32_t, std::string>> out;
  ::HANDLE f = ::CreateFileW(reinterpret_cast<const wchar_t*>(aPath.c_str()), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return out;
  LARGE_INTEGER size{};
  unsigned char dos[64], pe[24];
  if (::GetFileSizeEx(f, &size) && FileReadAt(f, 0, dos, sizeof dos) && dos[0] == 'M' && dos[1] == 'Z') {
    std::uint32_t peAt = LittleAt<std::uint32_t>(dos + 0x3C);
    if (FileReadAt(f, peAt, pe, sizeof pe) && std::memcmp(pe, "PE\0\0", 4) == 0) {
      std::uint16_t sectionCount = LittleAt<std::uint16_t>(pe + 6);
      std::uint32_t symbolsAt = LittleAt<std::uint32_t>(pe + 12);
      std::uint32_t symbolCount = LittleAt<std::uint32_t>(pe + 16);
      std::uint16_t optionalSize = LittleAt<std::uint16_t>(pe + 20);
      std::uint64_t tableSize = std::uint64_t(symbolCount) * 18;
      std::vector<unsigned char> sections(std::size_t(sectionCount) * 40);
      unsigned char stringsSize[4];
      if (symbolsAt != 0 && symbolCount != 0 && symbolsAt + tableSize + 4 <= std::uint64_t(size.QuadPart) &&
          tableSize < (256u << 20) && FileReadAt(f, std::uint64_t(peAt) + 24 + optionalSize, sections.data(),
                                                 static_cast<::DWORD>(sections.size())) &&
          FileReadAt(f, symbolsAt + tableSize, stringsSize, 4)) {
        std::uint32_t stringsLength = LittleAt<std::uint32_t>(stringsSize);
        if (stringsLength < 4 || symbolsAt + tableSize + stringsLength > std::uint64_t(size.QuadPart)) stringsLength = 4;
        std::vector<unsigned char> table(tableSize + stringsLength);
        if (FileReadAt(f, symbolsAt, table.data(), static_cast<::DWORD>(table.size()))) {
          const unsigned char* strings = table.data() + tableSize;
          for (std::uint32_t i = 0; i < symbolCount; ++i) {
            const unsigned char* sym = table.data() + std::size_t(i) * 18;
            std::int16_t section = LittleAt<std::int16_t>(sym + 12);
            std::uint16_t type = LittleAt<std::uint16_t>(sym + 14);
            std::uint8_t storage = sym[16];
            bool function = (type & 0x30) == 0x20 && (storage == 2 || storage == 3);
            if (function && section > 0 && section <= sectionCount) {
              std::string name;
              if (LittleAt<std::uint32_t>(sym) == 0) {
                std::uint32_t at = LittleAt<std::uint32_t>(sym + 4);
                if (at >= 4 && at < stringsLength)
                  name.assign(reinterpret_cast<const char*>(strings + at),
                              strnlen(reinterpret_cast<const char*>(strings + at), stringsLength - at));
              } else {
                name.assign(reinterpret_cast<const char*>(sym), strnlen(reinterpret_cast<const char*>(sym), 8));
              }
              std::uint32_t base = LittleAt<std::uint32_t>(sections.data() + std::size_t(section - 1) * 40 + 12);
#if !defined(_WIN64)
              // 32-bit C symbols carry a leading underscore ("__ZN3win..." for "_ZN3win...").
              if (!name.empty() && name[0] == '_') name.erase(0, 1);
#endif
              if (!name.empty()) out.emplace_back(base + LittleAt<std::uint32_t>(sym + 8), std::move(name));
            }
            i += sym[17];  // auxiliary records
          }
        }
      }
    }
  }
  ::CloseHandle(f);
  std::sort(out.begin(), out.end());
  return out;
}

// CRC-32 (IEEE, reflected, as the GNU debug link records it) of a whole file; false when it
// cannot be read.
bool FileCrc32(::HANDLE aFile, std::uint32_t& aCrc) {
  static std::uint32_t table[256] = {};
  if (!table[1])
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(aFile, start, nullptr, FILE_BEGIN)) return false;
  std::vector<unsigned char> buffer(1 << 16);
  std::uint32_t crc = 0xFFFFFFFFu;
  for (;;) {
    ::DWORD done = 0;
    if (!::ReadFile(aFile, buffer.data(), static_cast<::DWORD>(buffer.size()), &done, nullptr)) return false;
    if (done == 0) break;
    for (::DWORD i = 0; i < done; ++i) crc = table[(crc ^ buffer[i]) & 0xFF] ^ (crc >> 8);
  }
  aCrc = crc ^ 0xFFFFFFFFu;
  return true;
}

// The debug file of a stripped module: the ".gnu_debuglink" section (objcopy
// --add-gnu-debuglink) names it and carries its CRC-32; it is looked for beside the module and
// taken only when the CRC matches, so that a debug file of another build never names routines.
// Empty when there is none.
Text DebugLinkFileGet(const Text& aPath) {
  Text result;
  ::HANDLE f = ::CreateFileW(reinterpret_cast<const wchar_t*>(aPath.c_str()), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return result;
  unsigned char dos[64], pe[24];
  std::string name;
  std::uint32_t crc = 0;
  if (FileReadAt(f, 0, dos, sizeof dos) && dos[0] == 'M' && dos[1] == 'Z') {
    std::uint32_t peAt = LittleAt<std::uint32_t>(dos + 0x3C);
    if (FileReadAt(f, peAt, pe, sizeof pe) && std::memcmp(pe, "PE\0\0", 4) == 0) {
      std::uint16_t sectionCount = LittleAt<std::uint16_t>(pe + 6);
      std::uint16_t optionalSize = LittleAt<std::uint16_t>(pe + 20);
      std::vector<unsigned char> sections(std::size_t(sectionCount) * 40);
      if (FileReadAt(f, std::uint64_t(peAt) + 24 + optionalSize, sections.data(), static_cast<::DWORD>(sections.size())))
        for (std::uint16_t i = 0; i < sectionCount && name.empty(); ++i) {
          const unsigned char* h = sections.data() + std::size_t(i) * 40;
          // A long section name is "/" and the offset of the name in the COFF string table,
          // which the linker keeps for these names even in a stripped image.
          char longName[16] = {};
          if (h[0] == '/') {
            std::uint32_t at = 0;
            for (int k = 1; k < 8 && h[k] >= '0' && h[k] <= '9'; ++k) at = at * 10 + (h[k] - '0');
            std::uint64_t strings = LittleAt<std::uint32_t>(pe + 12) + std::uint64_t(LittleAt<std::uint32_t>(pe + 16)) * 18;
            if (LittleAt<std::uint32_t>(pe + 12) == 0 || !FileReadAt(f, strings + at, longName, 15)) continue;
          }
          if (std::strcmp(longName, ".gnu_debuglink") != 0 && std::memcmp(h, ".gnu_deb", 8) != 0) continue;
          std::uint32_t size = LittleAt<std::uint32_t>(h + 16), at = LittleAt<std::uint32_t>(h + 20);
          std::uint32_t used = std::min(LittleAt<std::uint32_t>(h + 8), size);
          if (used == 0) used = size;
          std::vector<char> data(used);
          if (used < 8 || used > 4096 || !FileReadAt(f, at, data.data(), used)) break;
          std::size_t len = strnlen(data.data(), used);
          std::size_t crcAt = (len + 4) & ~std::size_t(3);
          if (len == 0 || crcAt + 4 > used) break;
          name.assign(data.data(), len);
          crc = LittleAt<std::uint32_t>(reinterpret_cast<const unsigned char*>(data.data()) + crcAt);
        }
    }
  }
  ::CloseHandle(f);
  // A bare file name only: the link must not lead out of the module's folder.
  if (name.empty() || name.find_first_of("/\\:") != std::string::npos) return result;
  std::size_t slash = aPath.find_last_of(u"\\/");
  Text candidate = (slash == Text::npos ? Text() : aPath.substr(0, slash + 1)) + Utf8ToText(name);
  ::HANDLE d = ::CreateFileW(reinterpret_cast<const wchar_t*>(candidate.c_str()), GENERIC_READ, FILE_SHARE_READ,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  if (d == INVALID_HANDLE_VALUE) return result;
  std::uint32_t actual = 0;
  if (FileCrc32(d, actual) && actual == crc) result = candidate;
  ::CloseHandle(d);
  return result;
}

// The routine of an address from the module's COFF symbols.
bool CoffSymbolFind(TDbgHelp& d, ::HMODULE aModule, const Text& aPath, std::uintptr_t aAddress, TStackFrameSymbol& s) {
  auto it = d.CoffSymbols.find(aModule);
  if (it == d.CoffSymbols.end()) {
    auto symbols = CoffSymbolsRead(aPath);
    if (symbols.empty()) {
      const Text debugFile = DebugLinkFileGet(aPath);
      if (!debugFile.empty()) symbols = CoffSymbolsRead(debugFile);
    }
    it = d.CoffSymbols.emplace(aModule, std::move(symbols)).first;
  }
  const auto& symbols = it->second;
  std::uintptr_t rva = aAddress - reinterpret_cast<std::uintptr_t>(aModule);
  auto next = std::upper_bound(symbols.begin(), symbols.end(), rva,
                               [](std::uintptr_t a, const std::pair<std::uint32_t, std::string>& e) { return a < e.first; });
  if (next == symbols.begin()) return false;
  --next;
  s.SymbolName = next->second;
  s.RoutineOffset = rva - next->first;
  return true;
}

std::vector<TStackFrameSymbol> SymbolizeLocked(TDbgHelp& d, std::uintptr_t aAddress) {
  TStackFrameSymbol s;
  s.Address = aAddress;
  ::HMODULE module = nullptr;
  if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<const wchar_t*>(aAddress), &module)) {
    std::vector<wchar_t> path(32768);
    ::DWORD len = ::GetModuleFileNameW(module, path.data(), static_cast<::DWORD>(path.size()));
    if (len > 0 && len < path.size()) s.ModulePath = Text(reinterpret_cast<const char16_t*>(path.data()), len);
  }
  if (!d.Ready) {
    if (module) CoffSymbolFind(d, module, s.ModulePath, aAddress, s);
    return {s};
  }
  alignas(SYMBOL_INFOW) unsigned char buffer[sizeof(SYMBOL_INFOW) + 1024 * sizeof(wchar_t)];
  auto* info = reinterpret_cast<PSYMBOL_INFOW>(buffer);
  auto lookUp = [&]() {
    std::memset(buffer, 0, sizeof buffer);
    info->SizeOfStruct = sizeof(SYMBOL_INFOW);
    info->MaxNameLen = 1024;
    DWORD64 displacement = 0;
    if (!d.SymFromAddrW(::GetCurrentProcess(), aAddress, &displacement, info)) return false;
    s.RoutineOffset = static_cast<std::uintptr_t>(displacement);
    s.SymbolName = TextToUtf8(Text(reinterpret_cast<const char16_t*>(info->Name), info->NameLen));
    return true;
  };
  bool found = lookUp();
  // A module loaded after dbghelp looked at the process: have it look again, once a module.
  if (!found && module && d.SymRefreshModuleList && d.Refreshed.insert(module).second) {
    d.SymRefreshModuleList(::GetCurrentProcess());
    found = lookUp();
  }
  if (!found && module) found = CoffSymbolFind(d, module, s.ModulePath, aAddress, s);
  if (found && d.SymGetLineFromAddrW64) {
    IMAGEHLP_LINEW64 line{};
    line.SizeOfStruct = sizeof line;
    ::DWORD lineDisplacement = 0;
    if (d.SymGetLineFromAddrW64(::GetCurrentProcess(), aAddress, &lineDisplacement, &line)) {
      s.Line = static_cast<int>(line.LineNumber);
      if (line.FileName) s.SourcePath = Text(reinterpret_cast<const char16_t*>(line.FileName));
    }
  }
  return {s};
}

constexpr std::size_t kCacheLimit = 200000;

}  // namespace

std::vector<TStackFrameSymbol> AddressSymbolize(std::uintptr_t aAddress) {
  TDbgHelp& d = DbgHelp();
  std::lock_guard<std::mutex> g(d.Lock);
  auto it = d.Cache.find(aAddress);
  if (it != d.Cache.end()) return it->second;
  std::vector<TStackFrameSymbol> result = SymbolizeLocked(d, aAddress);
  if (d.Cache.size() >= kCacheLimit) d.Cache.clear();
  d.Cache.emplace(aAddress, result);
  return result;
}

}  // namespace win
