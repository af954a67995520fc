// Names and paths: NTFS upper-casing, and how a Windows path maps onto the host folders
// (prefixes, current folder, WOW64 redirection).
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/sim/machine.h"
#include "platform/sim/volumes.h"
#include "platform/utf.h"

namespace sim {

char16_t UpcaseChar(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A: mostly pairs, upper case first.
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c % 2 == 1) ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 0x20);  // Greek
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);                // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);  // full-width Latin
  return c;
}

Text UpcaseText(TextView t) {
  Text out(t);
  for (auto& c : out) c = UpcaseChar(c);
  return out;
}

bool NameIsReserved(TextView aName) {
  // Windows looks at the name before its first dot, without trailing spaces.
  Text base(aName.substr(0, aName.find(u'.')));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  base = UpcaseText(base);
  if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL" || base == u"CONIN$" || base == u"CONOUT$")
    return true;
  if (base.size() == 4 && (base.compare(0, 3, u"COM") == 0 || base.compare(0, 3, u"LPT") == 0)) {
    char16_t d = base[3];
    return (d >= u'1' && d <= u'9') || d == u'\u00B9' || d == u'\u00B2' || d == u'\u00B3';
  }
  return false;
}

namespace {

bool IsSep(char16_t c) { return c == u'\\'; }

bool NameCharValid(char16_t c, bool bAllowWildcards) {
  if (c < 32) return false;
  switch (c) {
    case u'<': case u'>': case u':': case u'"': case u'|': case u'/':
      return false;
    case u'*': case u'?':
      return bAllowWildcards;
    default:
      return true;
  }
}

// Finds a child of a host folder whatever its case; empty when there is none.
std::string LookupChild(const std::string& aDirHost, const Text& aName) {
  std::string exact = TextToUtf8(aName);
  struct stat st;
  if (::lstat((aDirHost + "/" + exact).c_str(), &st) == 0) return exact;
  DIR* d = ::opendir(aDirHost.c_str());
  if (!d) return std::string();
  Text want = UpcaseText(aName);
  std::string found;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0))) continue;
    if (UpcaseText(Utf8ToText(e->d_name)) == want) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

bool HasUnpairedSurrogate(const Text& t) {
  for (size_t i = 0; i < t.size(); ++i) {
    char16_t c = t[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= t.size() || t[i + 1] < 0xDC00 || t[i + 1] > 0xDFFF) return true;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

}  // namespace

ResolvedPath ResolvePath(const PathContext& aContext, TextView aPath, bool bAllowWildcards) {
  ResolvedPath r;
  auto fail = [&](win::DWORD e) {
    r.Error = e;
    return r;
  };
  Text path(aPath);
  bool raw = false;
  if (path.rfind(u"\\\\?\\", 0) == 0 || path.rfind(u"\\??\\", 0) == 0) {
    raw = true;
    path = path.substr(4);
  } else if (path.rfind(u"\\\\.\\", 0) == 0) {
    path = path.substr(4);
  }
  if (!raw) std::replace(path.begin(), path.end(), u'/', u'\\');
  if (path.empty()) return fail(win::ERROR_PATH_NOT_FOUND);
  if (!raw && path.rfind(u"\\\\", 0) == 0) return fail(53);  // ERROR_BAD_NETPATH: no network here

  // Drive and the parts after it.
  Text rest;
  char16_t drive = 0;
  if (path.size() >= 2 && path[1] == u':' && ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'))) {
    drive = UpcaseChar(path[0]);
    rest = path.substr(2);
    if (!rest.empty() && !IsSep(rest[0])) {
      if (raw) return fail(win::ERROR_INVALID_NAME);
      // Drive-relative: relative to the current folder when it is on that drive.
      Text cur = aContext.CurrentDirectory;
      if (cur.size() >= 2 && UpcaseChar(cur[0]) == drive) rest = cur.substr(2) + u"\\" + rest;
      else rest = u"\\" + rest;
    }
  } else if (raw) {
    return fail(win::ERROR_INVALID_NAME);
  } else if (IsSep(path[0])) {
    drive = aContext.CurrentDirectory.empty() ? u'C' : UpcaseChar(aContext.CurrentDirectory[0]);
    rest = path;
  } else {
    Text cur = aContext.CurrentDirectory;
    if (cur.size() < 2) return fail(win::ERROR_PATH_NOT_FOUND);
    drive = UpcaseChar(cur[0]);
    rest = cur.substr(2) + u"\\" + path;
  }
  if (drive != u'C') {
    // A substituted drive ('winsim subst') is the folder it stands for: 'X:\a' on 'C:\dir'
    // is 'C:\dir\a', and the names the machine reports for it are on C:.
    auto target = SubstitutionTarget(aContext.Machine, drive);
    if (!target) return fail(win::ERROR_PATH_NOT_FOUND);
    Text base = target->substr(2);
    if (base == u"\\") base.clear();
    rest = base + (rest.empty() ? Text(u"\\") : rest);
    drive = (*target)[0];
  }

  // Split into parts; without the raw prefix, '.' and '..' are resolved and trailing dots
  // and spaces dropped, as Win32 does.
  std::vector<Text> parts;
  bool trailingSeparator = !rest.empty() && IsSep(rest.back());
  size_t i = 0;
  while (i <= rest.size()) {
    size_t j = rest.find(u'\\', i);
    if (j == Text::npos) j = rest.size();
    Text part = rest.substr(i, j - i);
    i = j + 1;
    if (raw) {
      if (part.empty()) {
        if (j == rest.size() || i == 1) continue;  // the separator after the drive, or a final one
        return fail(win::ERROR_INVALID_NAME);
      }
      if (part == u"." || part == u"..") return fail(win::ERROR_INVALID_NAME);
    } else {
      if (part.empty() || part == u".") continue;
      if (part == u"..") {
        if (!parts.empty()) parts.pop_back();
        continue;
      }
      while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) part.pop_back();
      if (part.empty()) continue;
    }
    parts.push_back(std::move(part));
  }
  for (size_t k = 0; k < parts.size(); ++k) {
    bool last = k + 1 == parts.size();
    for (char16_t c : parts[k]) {
      if (!NameCharValid(c, bAllowWildcards && last)) return fail(win::ERROR_INVALID_NAME);
    }
    if (HasUnpairedSurrogate(parts[k])) return fail(win::ERROR_INVALID_NAME);
    if (parts[k].size() > 255) return fail(win::ERROR_INVALID_NAME);
  }

  // WOW64: a 32-bit process on 64-bit Windows sees SysWOW64 as System32 (but for a few
  // shared folders) and reaches the real System32 through Sysnative.
  if (aContext.ProcessBits == 32 && aContext.MachineBits == 64 && parts.size() >= 2 &&
      UpcaseText(parts[0]) == u"WINDOWS") {
    Text second = UpcaseText(parts[1]);
    if (aContext.Redirect && second == u"SYSTEM32") {
      Text third = parts.size() >= 3 ? UpcaseText(parts[2]) : Text();
      bool exempt = third == u"CATROOT" || third == u"CATROOT2" || third == u"DRIVERSTORE" || third == u"LOGFILES" ||
                    third == u"SPOOL" || (third == u"DRIVERS" && parts.size() >= 4 && UpcaseText(parts[3]) == u"ETC");
      if (!exempt) parts[1] = u"SysWOW64";
    } else if (aContext.Redirect && second == u"SYSNATIVE") {
      parts[1] = u"System32";
    }
  }

  Text win = Text(1, drive) + u":\\";
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k) win += u'\\';
    win += parts[k];
  }
  if (!raw && win.size() >= win::MAX_PATH) return fail(win::ERROR_PATH_NOT_FOUND);
  (void)trailingSeparator;

  // Walk the host folders, finding each part whatever its case.
  std::string host = DriveHostFolder(aContext.Machine, 'C');
  Text winOnHost = Text(1, drive) + u":\\";
  r.IsRoot = parts.empty();
  if (r.IsRoot) {
    r.WinPath = winOnHost;
    r.Host = host;
    r.ParentHost = host;
    r.Exists = true;
    r.IsDirectory = true;
    return r;
  }
  for (size_t k = 0; k + 1 < parts.size(); ++k) {
    std::string child = LookupChild(host, parts[k]);
    if (child.empty()) return fail(win::ERROR_PATH_NOT_FOUND);
    host += "/" + child;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail(win::ERROR_PATH_NOT_FOUND);
    if (k) winOnHost += u'\\';
    winOnHost += Utf8ToText(child);
  }
  r.ParentHost = host;
  r.Name = parts.back();
  bool wild = r.Name.find_first_of(u"*?") != Text::npos;
  std::string child = wild ? std::string() : LookupChild(host, parts.back());
  if (parts.size() > 1) winOnHost += u'\\';
  if (child.empty()) {
    r.Host = host + "/" + TextToUtf8(parts.back());
    winOnHost += parts.back();
  } else {
    r.Host = host + "/" + child;
    winOnHost += Utf8ToText(child);
    struct stat st;
    r.Exists = ::lstat(r.Host.c_str(), &st) == 0;
    r.IsDirectory = r.Exists && S_ISDIR(st.st_mode);
  }
  r.WinPath = winOnHost;
  return r;
}

PathContext CurrentPathContext() {
  const ProcessRecord* p = CurrentProcess();
  if (!p) throw MachineError("this program runs on no simulated machine (start it with winsim run)");
  static const MachineConfig config = MachineConfigRead(MachineFolderHost());
  PathContext c;
  c.Machine = MachineFolderHost();
  c.ProcessBits = p->Bits;
  c.MachineBits = config.Bits;
  c.CurrentDirectory = Utf8ToText(p->CurrentDirectory);
  c.Redirect = c.ProcessBits == 32 && c.MachineBits == 64 && ThreadRedirectionEnabled();
  return c;
}

namespace {
thread_local bool tRedirectionOff = false;
}

bool ThreadRedirectionEnabled() { return !tRedirectionOff; }
void ThreadRedirectionSet(bool bEnabled) { tRedirectionOff = !bEnabled; }

}  // namespace sim
