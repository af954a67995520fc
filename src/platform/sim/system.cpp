// Modules, resources, version information, WOW64 and the system's folders of the
// simulated machine.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/sim/handles.h"
#include "platform/sim/machine.h"
#include "platform/sim/restable.h"
#include "platform/utf.h"
#include "platform/win32api.h"

namespace win {

namespace {

constexpr DWORD ERROR_NOT_READY_ = 21;

// A module: the process's own image, kernel32, or a file loaded for its resources. Its
// resource table is read once; the file is mapped so that resources are not copied.
struct Module {
  Text Name;
  std::string Host;
  bool Kernel32 = false;
  std::once_flag MapOnce;
  std::optional<std::vector<sim::ResourceEntry>> Resources;
  const unsigned char* Base = nullptr;
  size_t Size = 0;
  int References = 1;

  void Map() {
    std::call_once(MapOnce, [this] {
      if (Host.empty()) return;
      Resources = sim::ResourceTable::Read(Host);
      if (!Resources) return;
      int fd = ::open(Host.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return;
      struct stat st;
      if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p != MAP_FAILED) {
          Base = static_cast<const unsigned char*>(p);
          Size = static_cast<size_t>(st.st_size);
        }
      }
      ::close(fd);
      if (!Base) Resources.reset();
    });
  }
};

struct Modules {
  std::mutex Lock;
  Module Self;
  Module Kernel32;
  std::map<Text, Module*> Loaded;  // by upper-cased full path
};

Modules& ModuleTable() {
  static Modules* m = [] {
    auto* t = new Modules;  // lives to the very end: resource data stays valid
    t->Kernel32.Name = u"kernel32.dll";
    t->Kernel32.Kernel32 = true;
    return t;
  }();
  return *m;
}

std::optional<sim::ResolvedPath> ResolveForCaller(const Text& aPath, DWORD& aError) {
  sim::PathContext c;
  try {
    c = sim::CurrentPathContext();
  } catch (const sim::MachineError&) {
    aError = ERROR_NOT_READY_;
    return std::nullopt;
  }
  WCHAR cur[MAX_PATH + 1];
  DWORD n = GetCurrentDirectoryW(MAX_PATH + 1, cur);
  if (n > 0 && n <= MAX_PATH) c.CurrentDirectory = Text(cur, n);
  sim::ResolvedPath r = sim::ResolvePath(c, aPath);
  if (r.Error) {
    aError = r.Error;
    return std::nullopt;
  }
  if (!r.Exists || r.IsDirectory) {
    aError = ERROR_FILE_NOT_FOUND;
    return std::nullopt;
  }
  return r;
}

Module* SelfModule() {
  Modules& t = ModuleTable();
  std::lock_guard<std::mutex> g(t.Lock);
  if (t.Self.Name.empty()) {
    WCHAR buf[32768];
    DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
    t.Self.Name = Text(buf, n);
    if (const sim::ProcessRecord* p = sim::CurrentProcess()) {
      (void)p;
      sim::PathContext c = sim::CurrentPathContext();
      c.Redirect = false;  // the image path is already the real one
      sim::ResolvedPath r = sim::ResolvePath(c, t.Self.Name);
      if (!r.Error && r.Exists) t.Self.Host = r.Host;
    } else {
      t.Self.Host = TextToUtf8(t.Self.Name);
    }
  }
  return &t.Self;
}

Module* ModuleOf(HMODULE h) {
  if (h == nullptr || h == static_cast<HMODULE>(SelfModule())) return SelfModule();
  Modules& t = ModuleTable();
  if (h == static_cast<HMODULE>(&t.Kernel32)) return &t.Kernel32;
  std::lock_guard<std::mutex> g(t.Lock);
  for (auto& [name, m] : t.Loaded) {
    if (m == h) return m;
  }
  return nullptr;
}

bool SameName(const Text& a, const Text& b) { return sim::UpcaseText(a) == sim::UpcaseText(b); }

Text FileNameOf(const Text& aPath) {
  size_t p = aPath.find_last_of(u"\\/");
  return p == Text::npos ? aPath : aPath.substr(p + 1);
}

bool IsKernel32(const Text& aName) {
  Text n = FileNameOf(aName);
  return SameName(n, u"kernel32.dll") || SameName(n, u"kernel32");
}

sim::ResourceId IdOf(LPCWSTR p) {
  if (IS_INTRESOURCE(p)) return sim::ResourceId(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(p)));
  Text t(p);
  if (t.size() > 1 && t[0] == u'#') {
    // "#123" names the number 123.
    unsigned v = 0;
    bool digits = true;
    for (size_t i = 1; i < t.size(); ++i) {
      if (t[i] < u'0' || t[i] > u'9' || v > 6553) {
        digits = false;
        break;
      }
      v = v * 10 + (t[i] - u'0');
    }
    if (digits && v > 0 && v <= 0xFFFF) return sim::ResourceId(static_cast<WORD>(v));
  }
  return sim::ResourceId(t);
}

bool IsWow64Caller() {
  const sim::ProcessRecord* p = sim::CurrentProcess();
  if (!p) return false;
  try {
    return p->Bits == 32 && sim::CurrentPathContext().MachineBits == 64;
  } catch (const sim::MachineError&) {
    return false;
  }
}

DWORD CopyOut(const Text& aText, UINT aSize, LPWSTR aBuffer) {
  if (!aBuffer || aSize < aText.size() + 1) return static_cast<DWORD>(aText.size() + 1);
  std::memcpy(aBuffer, aText.c_str(), (aText.size() + 1) * sizeof(WCHAR));
  return static_cast<DWORD>(aText.size());
}

}  // namespace

// ---- modules ------------------------------------------------------------------------------

HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
  if (lpModuleName == nullptr) return SelfModule();
  Text name(lpModuleName);
  if (IsKernel32(name)) return &ModuleTable().Kernel32;
  Module* self = SelfModule();
  if (SameName(name, self->Name) || SameName(FileNameOf(name), FileNameOf(self->Name))) return self;
  Modules& t = ModuleTable();
  std::lock_guard<std::mutex> g(t.Lock);
  for (auto& [upper, m] : t.Loaded) {
    if (SameName(name, m->Name) || SameName(FileNameOf(name), FileNameOf(m->Name))) return m;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
  if (!lpLibFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Text name(lpLibFileName);
  if (IsKernel32(name)) return &ModuleTable().Kernel32;
  // A bare name is looked for in the system folder.
  Text path = name.find_first_of(u"\\/:") == Text::npos ? u"C:\\Windows\\System32\\" + name : name;
  DWORD error = 0;
  auto r = ResolveForCaller(path, error);
  if (!r) {
    SetLastError(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_MOD_NOT_FOUND : error);
    return nullptr;
  }
  Modules& t = ModuleTable();
  std::lock_guard<std::mutex> g(t.Lock);
  Text key = sim::UpcaseText(r->WinPath);
  auto it = t.Loaded.find(key);
  if (it != t.Loaded.end()) {
    ++it->second->References;
    return it->second;
  }
  auto* m = new Module;  // kept after FreeLibrary: handed-out resource data must not dangle
  m->Name = r->WinPath;
  m->Host = r->Host;
  t.Loaded[key] = m;
  return m;
}

BOOL FreeLibrary(HMODULE hLibModule) {
  Module* m = ModuleOf(hLibModule);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(ModuleTable().Lock);
  if (m->References > 0) --m->References;
  return TRUE;
}

namespace {
BOOL Sim_IsWow64Process(HANDLE h, BOOL* w) { return IsWow64Process(h, w); }
BOOL Sim_Wow64Disable(LPVOID* v) { return Wow64DisableWow64FsRedirection(v); }
BOOL Sim_Wow64Revert(LPVOID v) { return Wow64RevertWow64FsRedirection(v); }
}  // namespace

FARPROC GetProcAddress(HMODULE hModule, const char* lpProcName) {
  Module* m = ModuleOf(hModule);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (m->Kernel32 && lpProcName && reinterpret_cast<ULONG_PTR>(lpProcName) > 0xFFFF) {
    std::string n = lpProcName;
    if (n == "IsWow64Process") return reinterpret_cast<FARPROC>(&Sim_IsWow64Process);
    if (n == "Wow64DisableWow64FsRedirection") return reinterpret_cast<FARPROC>(&Sim_Wow64Disable);
    if (n == "Wow64RevertWow64FsRedirection") return reinterpret_cast<FARPROC>(&Sim_Wow64Revert);
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL IsWow64Process(HANDLE hProcess, BOOL* Wow64Process) {
  if (!Wow64Process) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (hProcess != GetCurrentProcess()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *Wow64Process = IsWow64Caller() ? TRUE : FALSE;
  return TRUE;
}

int ProgramPointerBits() {
  if (const sim::ProcessRecord* p = sim::CurrentProcess()) return p->Bits;
  return static_cast<int>(sizeof(void*) * 8);
}

// ---- WOW64 and the system's folders -------------------------------------------------------

BOOL Wow64DisableWow64FsRedirection(LPVOID* OldValue) {
  if (!IsWow64Caller()) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  if (OldValue) *OldValue = reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(sim::ThreadRedirectionEnabled() ? 0 : 1));
  sim::ThreadRedirectionSet(false);
  return TRUE;
}

BOOL Wow64RevertWow64FsRedirection(LPVOID OlValue) {
  if (!IsWow64Caller()) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  sim::ThreadRedirectionSet(OlValue == nullptr);
  return TRUE;
}

UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) { return CopyOut(u"C:\\Windows\\system32", uSize, lpBuffer); }
UINT GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize) { return CopyOut(u"C:\\Windows", uSize, lpBuffer); }

BOOL SHGetSpecialFolderPathW(HWND, LPWSTR lpszPath, int csidl, BOOL fCreate) {
  if (!lpszPath) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  bool wow64 = IsWow64Caller();
  bool machine64 = false;
  try {
    machine64 = sim::CurrentPathContext().MachineBits == 64;
  } catch (const sim::MachineError&) {
  }
  Text path;
  switch (csidl & 0xFF) {
    case CSIDL_PROGRAM_FILES: path = wow64 ? u"C:\\Program Files (x86)" : u"C:\\Program Files"; break;
    case CSIDL_PROGRAM_FILESX86: path = machine64 ? u"C:\\Program Files (x86)" : u"C:\\Program Files"; break;
    case CSIDL_COMMON_APPDATA: path = u"C:\\ProgramData"; break;
    case CSIDL_APPDATA: path = u"C:\\Users\\User\\AppData\\Roaming"; break;
    case CSIDL_LOCAL_APPDATA: path = u"C:\\Users\\User\\AppData\\Local"; break;
    case CSIDL_WINDOWS: path = u"C:\\Windows"; break;
    case CSIDL_SYSTEM: path = u"C:\\Windows\\system32"; break;
    case CSIDL_SYSTEMX86: path = machine64 ? u"C:\\Windows\\SysWOW64" : u"C:\\Windows\\system32"; break;
    default:
      lpszPath[0] = 0;
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  if (fCreate && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) CreateDirectoryW(path.c_str(), nullptr);
  CopyOut(path, MAX_PATH, lpszPath);
  return TRUE;
}

// ---- resources ----------------------------------------------------------------------------

HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
  Module* m = ModuleOf(hModule);
  if (!m || m->Kernel32) {
    SetLastError(m ? ERROR_RESOURCE_DATA_NOT_FOUND : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!lpName || !lpType) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  m->Map();
  if (!m->Resources) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  sim::ResourceId type = IdOf(lpType), name = IdOf(lpName);
  bool typeSeen = false;
  for (auto& e : *m->Resources) {
    if (!e.Type.Matches(type)) continue;
    typeSeen = true;
    if (e.Name.Matches(name)) return &e;
  }
  SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

namespace {
const sim::ResourceEntry* EntryOf(Module* m, HRSRC h) {
  if (!m || !m->Resources) return nullptr;
  for (auto& e : *m->Resources) {
    if (&e == h) return &e;
  }
  return nullptr;
}
}  // namespace

HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo) {
  Module* m = ModuleOf(hModule);
  const sim::ResourceEntry* e = EntryOf(m, hResInfo);
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<unsigned char*>(m->Base + e->Offset);
}

DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  const sim::ResourceEntry* e = EntryOf(ModuleOf(hModule), hResInfo);
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(e->Size);
}

LPVOID LockResource(HGLOBAL hResData) { return hResData; }

HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE, DWORD) {
  // Every module of the simulation is loaded for its resources alone.
  return LoadLibraryW(lpLibFileName);
}

namespace {

class ResourceUpdate : public sim::KernelObject {
 public:
  std::string Host;
  bool DeleteExisting = false;
  sim::ResourceTable Table;
};

}  // namespace

HANDLE BeginUpdateResourceW(LPCWSTR pFileName, BOOL bDeleteExistingResources) {
  DWORD error = 0;
  auto r = pFileName ? ResolveForCaller(pFileName, error) : std::nullopt;
  if (!r) {
    SetLastError(pFileName ? error : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto existing = sim::ResourceTable::Read(r->Host);
  if (existing) {
    // Rewriting a table already written is not needed by anything here.
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto u = std::make_shared<ResourceUpdate>();
  u->Host = r->Host;
  u->DeleteExisting = bDeleteExistingResources != FALSE;
  return sim::HandleInsert(u);
}

BOOL UpdateResourceW(HANDLE hUpdate, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage, LPVOID lpData, DWORD cb) {
  auto u = sim::HandleGetAs<ResourceUpdate>(hUpdate);
  if (!u || !lpType || !lpName) {
    SetLastError(u ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // As on Windows: the same type, name and language again replaces the resource, and no data
  // with a size of 0 deletes it.
  if (!lpData && cb == 0) {
    u->Table.Remove(IdOf(lpType), IdOf(lpName), wLanguage);
    return TRUE;
  }
  if (!lpData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  u->Table.Set(IdOf(lpType), IdOf(lpName), wLanguage, std::string(static_cast<const char*>(lpData), cb));
  return TRUE;
}

BOOL EndUpdateResourceW(HANDLE hUpdate, BOOL fDiscard) {
  auto u = sim::HandleGetAs<ResourceUpdate>(hUpdate);
  if (!u) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  sim::HandleClose(hUpdate);
  if (fDiscard) return TRUE;
  try {
    u->Table.AppendTo(u->Host);
  } catch (const std::exception&) {
    SetLastError(ERROR_WRITE_PROTECT);
    return FALSE;
  }
  return TRUE;
}

// ---- version information ------------------------------------------------------------------

namespace {

std::optional<std::string> VersionBlockOf(LPCWSTR aFile, DWORD& aError) {
  if (!aFile) {
    aError = ERROR_INVALID_PARAMETER;
    return std::nullopt;
  }
  auto r = ResolveForCaller(aFile, aError);
  if (!r) return std::nullopt;
  auto table = sim::ResourceTable::Read(r->Host);
  if (!table) {
    aError = ERROR_RESOURCE_TYPE_NOT_FOUND;
    return std::nullopt;
  }
  for (const auto& e : *table) {
    if (e.Type.Id != RT_VERSION_ID) continue;
    int fd = ::open(r->Host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      aError = ERROR_ACCESS_DENIED;
      return std::nullopt;
    }
    std::string data(e.Size, '\0');
    ssize_t n = ::pread(fd, data.data(), data.size(), static_cast<off_t>(e.Offset));
    ::close(fd);
    if (n != static_cast<ssize_t>(data.size())) {
      aError = ERROR_INVALID_DATA;
      return std::nullopt;
    }
    return data;
  }
  aError = ERROR_RESOURCE_TYPE_NOT_FOUND;
  return std::nullopt;
}

WORD U16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

// One node of a version block, checked against the bytes it may occupy.
struct VersionNode {
  const BYTE* Start;
  size_t Length;  // wLength, within bounds
  WORD ValueLength;
  WORD Type;
  Text Key;
  const BYTE* Value;
  const BYTE* Children;
};

std::optional<VersionNode> NodeAt(const BYTE* p, size_t aAvailable) {
  if (aAvailable < 6) return std::nullopt;
  VersionNode n;
  n.Start = p;
  n.Length = U16(p);
  n.ValueLength = U16(p + 2);
  n.Type = U16(p + 4);
  if (n.Length < 6 || n.Length > aAvailable) return std::nullopt;
  size_t i = 6;
  while (i + 1 < n.Length && U16(p + i) != 0) {
    n.Key.push_back(static_cast<char16_t>(U16(p + i)));
    i += 2;
  }
  if (i + 1 >= n.Length) return std::nullopt;
  i += 2;
  i = (i + 3) & ~size_t(3);
  size_t valueBytes = n.Type == 1 ? n.ValueLength * 2u : n.ValueLength;
  if (i + valueBytes > n.Length) {
    if (valueBytes) return std::nullopt;
    i = n.Length;
  }
  n.Value = p + i;
  i += valueBytes;
  i = (i + 3) & ~size_t(3);
  n.Children = p + std::min(i, n.Length);
  return n;
}

}  // namespace

DWORD GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, DWORD* lpdwHandle) {
  if (lpdwHandle) *lpdwHandle = 0;
  DWORD error = 0;
  auto block = VersionBlockOf(lptstrFilename, error);
  if (!block) {
    SetLastError(error);
    return 0;
  }
  return static_cast<DWORD>(block->size());
}

BOOL GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
  DWORD error = 0;
  auto block = VersionBlockOf(lptstrFilename, error);
  if (!block) {
    SetLastError(error);
    return FALSE;
  }
  if (!lpData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::memcpy(lpData, block->data(), std::min<size_t>(dwLen, block->size()));
  return TRUE;
}

BOOL VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen) {
  if (!pBlock || !lpSubBlock || !lplpBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const BYTE* base = static_cast<const BYTE*>(pBlock);
  auto node = NodeAt(base, U16(base));
  if (!node) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  Text path(lpSubBlock);
  size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == u'\\') ++i;
    if (i >= path.size()) break;
    size_t j = path.find(u'\\', i);
    if (j == Text::npos) j = path.size();
    Text want = sim::UpcaseText(path.substr(i, j - i));
    i = j;
    std::optional<VersionNode> found;
    const BYTE* c = node->Children;
    const BYTE* end = node->Start + node->Length;
    while (c + 6 <= end) {
      auto child = NodeAt(c, static_cast<size_t>(end - c));
      if (!child) break;
      if (sim::UpcaseText(child->Key) == want) {
        found = child;
        break;
      }
      c += (child->Length + 3) & ~size_t(3);
    }
    if (!found) {
      SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
      return FALSE;
    }
    node = found;
  }
  if (node->ValueLength == 0) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  *lplpBuffer = const_cast<BYTE*>(node->Value);
  if (puLen) *puLen = node->ValueLength;
  return TRUE;
}

}  // namespace win
