// wine-helper: what a person at a Windows desktop would do, for the runs of the installer
// under Wine (tools/wine-install.sh). A test program of the Windows builds that looks at the
// real system from outside the installer, so it talks to the API directly.
//
//   wine-helper window CAPTION SECONDS         waits for a top-level window titled CAPTION
//                                              (shown or not) and prints its geometry and styles
//   wine-helper press CAPTION BUTTON SECONDS   waits for the window titled CAPTION (a task
//                                              dialog), prints the texts in it and presses the
//                                              button labelled BUTTON
//   wine-helper hold FILE SECONDS              keeps FILE open (others may read it, nobody may
//                                              write, rename or delete it) for SECONDS
//   wine-helper load DLL                       loads DLL by name, with the default search, and
//                                              says whether it is the marker DLL
//
// Output goes to standard output, one line per fact; exit status 0 on success, 1 when the
// window, button or file was not found in time.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& s) {
  if (s.empty()) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const char* s) {
  int n = ::MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
  if (n > 1) ::MultiByteToWideChar(CP_UTF8, 0, s, -1, out.data(), n);
  return out;
}

std::wstring TextOf(HWND w) {
  wchar_t buf[4096] = {};
  DWORD_PTR n = 0;
  // WM_GETTEXT reaches windows of other processes; GetWindowTextW would not ask them.
  if (!::SendMessageTimeoutW(w, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, &n))
    return {};
  return std::wstring(buf, wcsnlen(buf, 4096));
}

struct TFind {
  std::wstring Caption;
  bool bHiddenToo = false;
  HWND Found = nullptr;
};

BOOL CALLBACK TopLevelVisit(HWND w, LPARAM p) {
  auto* f = reinterpret_cast<TFind*>(p);
  // The caption the system keeps: asking the window (WM_GETTEXT) would wait while its
  // program is busy, and the window may be gone by then.
  wchar_t caption[512] = {};
  ::GetWindowTextW(w, caption, 512);
  if ((f->bHiddenToo || ::IsWindowVisible(w)) && f->Caption == caption) {
    f->Found = w;
    return FALSE;
  }
  return TRUE;
}

HWND WindowWait(const std::wstring& aCaption, int iSeconds, bool bHiddenToo = false) {
  for (int i = 0; i < iSeconds * 50; ++i) {
    TFind f{aCaption, bHiddenToo};
    ::EnumWindows(TopLevelVisit, reinterpret_cast<LPARAM>(&f));
    if (f.Found) return f.Found;
    ::Sleep(20);
  }
  return nullptr;
}

BOOL CALLBACK ChildVisit(HWND w, LPARAM p) {
  reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
  return TRUE;
}

int Window(const std::wstring& aCaption, int iSeconds) {
  // A window made hidden counts too: its place and styles are set when it is made.
  HWND w = WindowWait(aCaption, iSeconds, true);
  if (!w) {
    std::printf("window: no window \"%s\" within %d s\n", Utf8(aCaption).c_str(), iSeconds);
    return 1;
  }
  RECT r{}, c{};
  ::GetWindowRect(w, &r);
  ::GetClientRect(w, &c);
  wchar_t cls[256] = {};
  ::GetClassNameW(w, cls, 256);
  std::printf("window \"%s\" %s class %s at %ld,%ld size %ldx%ld client %ldx%ld style 0x%08lX exstyle 0x%08lX screen %dx%d\n",
              Utf8(aCaption).c_str(), ::IsWindowVisible(w) ? "visible" : "hidden", Utf8(cls).c_str(), r.left, r.top, r.right - r.left, r.bottom - r.top,
              c.right - c.left, c.bottom - c.top, static_cast<unsigned long>(::GetWindowLongW(w, GWL_STYLE)),
              static_cast<unsigned long>(::GetWindowLongW(w, GWL_EXSTYLE)), ::GetSystemMetrics(SM_CXSCREEN),
              ::GetSystemMetrics(SM_CYSCREEN));
  return 0;
}

int Press(const std::wstring& aCaption, const std::wstring& aButton, int iSeconds) {
  HWND dialog = WindowWait(aCaption, iSeconds);
  if (!dialog) {
    std::printf("press: no window \"%s\" within %d s\n", Utf8(aCaption).c_str(), iSeconds);
    return 1;
  }
  // The dialog fills in its controls as it opens: look until the button is there.
  HWND button = nullptr;
  std::vector<HWND> children;
  for (int i = 0; i < 50 && !button; ++i) {
    children.clear();
    ::EnumChildWindows(dialog, ChildVisit, reinterpret_cast<LPARAM>(&children));
    for (HWND c : children)
      if (TextOf(c) == aButton && ::IsWindowVisible(c)) button = c;
    if (!button) ::Sleep(100);
  }
  for (HWND c : children) {
    std::wstring t = TextOf(c);
    if (t.empty()) continue;
    for (auto& ch : t)
      if (ch == L'\r' || ch == L'\n') ch = L'~';
    std::printf("text: %s\n", Utf8(t).c_str());
  }
  if (!button) {
    std::printf("press: no button \"%s\" in \"%s\"\n", Utf8(aButton).c_str(), Utf8(aCaption).c_str());
    return 1;
  }
  // A person reads first; then a click, as the mouse would make it; the dialog ends and its
  // window goes.
  ::Sleep(2000);
  ::PostMessageW(button, BM_CLICK, 0, 0);
  for (int i = 0; i < 50 && ::IsWindow(dialog); ++i) ::Sleep(100);
  if (::IsWindow(dialog)) {
    std::printf("press: \"%s\" still open after the click\n", Utf8(aCaption).c_str());
    return 1;
  }
  std::printf("pressed \"%s\" in \"%s\"\n", Utf8(aButton).c_str(), Utf8(aCaption).c_str());
  return 0;
}

int Hold(const std::wstring& aFile, int iSeconds) {
  HANDLE h = ::CreateFileW(aFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::printf("hold: cannot open %s (error %lu)\n", Utf8(aFile).c_str(), ::GetLastError());
    return 1;
  }
  std::printf("held %s\n", Utf8(aFile).c_str());
  std::fflush(stdout);
  ::Sleep(static_cast<DWORD>(iSeconds) * 1000);
  ::CloseHandle(h);
  return 0;
}

int Load(const std::wstring& aDll) {
  HMODULE m = ::LoadLibraryW(aDll.c_str());
  if (!m) {
    std::printf("load: %s not loaded (error %lu)\n", Utf8(aDll).c_str(), ::GetLastError());
    return 1;
  }
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(m, path, MAX_PATH);
  const bool marker = ::GetProcAddress(m, "OrvantaMarker") != nullptr;
  std::printf("load: %s loaded from %s (%s)\n", Utf8(aDll).c_str(), Utf8(path).c_str(),
              marker ? "the marker DLL" : "not the marker DLL");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "window" && argc == 4) return Window(Wide(argv[2]), std::atoi(argv[3]));
  if (mode == "press" && argc == 5) return Press(Wide(argv[2]), Wide(argv[3]), std::atoi(argv[4]));
  if (mode == "hold" && argc == 4) return Hold(Wide(argv[2]), std::atoi(argv[3]));
  if (mode == "load" && argc == 3) return Load(Wide(argv[2]));
  std::fprintf(stderr,
               "usage: wine-helper window CAPTION SECONDS | press CAPTION BUTTON SECONDS | hold FILE SECONDS | "
               "load DLL\n");
  return 2;
}
