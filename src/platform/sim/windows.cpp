// Windows of the simulated machine. A process keeps its windows (class, procedure, styles,
// rectangle) in memory; its top-level windows are also rows of the machine's window table
// (state/windows), so that FindWindowW of any process of the machine finds them. A window of
// a process that has ended is gone, whatever its row says. Showing or hiding a top-level
// window appends a "window" event to the machine's event log.
#include "platform/sim/fail.h"
#include "platform/sim/windows.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/tables.h"
#include "platform/utf.h"

namespace win {

namespace {

using sim::Fail;


// The desktop shell's window: the machine's one window of a process that runs no program.
constexpr DWORD kShellThreadId = 1;  // thread ids of recorded processes are not host ids
HWND const kShellWindow = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x10010));

// The screen every simulated machine has: 1920 x 1080, the task bar's 40 pixels at the bottom.
constexpr LONG kScreenWidth = 1920;
constexpr LONG kScreenHeight = 1080;
constexpr LONG kTaskBarHeight = 40;

DWORD ShellRunning(const std::string& aMachine) {
  DWORD pid = sim::ShellProcessId(aMachine);
  if (!pid) return 0;
  auto s = sim::ProcessFind(aMachine, pid);
  return s && !s->Exited ? pid : 0;
}

bool NameEquals(TextView a, TextView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (sim::UpcaseChar(a[i]) != sim::UpcaseChar(b[i])) return false;
  return true;
}

struct WindowClass {
  Text Name;
  WNDPROC Proc = nullptr;  // null: a system class
};

struct Window {
  HWND Handle = nullptr;
  Text ClassName;
  WNDPROC Proc = nullptr;
  Text Title;
  DWORD Style = 0;
  DWORD ExStyle = 0;
  RECT Rect{};
  HWND Parent = nullptr;  // null: top-level; HWND_MESSAGE: message-only
  LONG_PTR UserData = 0;
  DWORD Thread = 0;
  LPARAM Image = 0;  // STATIC: the image given with STM_SETIMAGE

  bool TopLevel() const { return Parent == nullptr; }
  bool Visible() const { return (Style & WS_VISIBLE) != 0; }
};

struct Windows {
  std::mutex Lock;
  std::map<Text, WindowClass> Classes;  // by upper-cased name
  std::map<HWND, Window> All;
  ULONG_PTR Next = 1;
};

Windows& State() {
  static Windows* w = new Windows;
  return *w;
}

// Handles are unique across the machine: the process id in the high bits.
HWND HandleNew(Windows& w) {
  const sim::ProcessRecord* self = sim::CurrentProcess();
  ULONG_PTR pid = self ? self->Pid : 0;
  return reinterpret_cast<HWND>((pid << 24) | (w.Next++ << 1));
}

// Frame metrics of the simulation (Windows 10 at 100 %): they only need to agree between
// GetWindowRect, GetClientRect and AdjustWindowRectEx.
LONG FrameWidth(DWORD aStyle) {
  if (aStyle & WS_THICKFRAME) return 8;
  if (aStyle & WS_DLGFRAME) return 3;
  if (aStyle & WS_BORDER) return 1;
  return 0;
}
LONG CaptionHeight(DWORD aStyle) { return (aStyle & WS_CAPTION) == WS_CAPTION ? 23 : 0; }

bool HasBorder(DWORD aStyle) { return (aStyle & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME)) != 0; }

std::string Bool(bool b) { return b ? "true" : "false"; }

// The table row of a top-level window: handle, pid, thread, class, title, style, extended
// style, rectangle (left, top, right, bottom), visible.
std::string Row(const Window& w) {
  const sim::ProcessRecord* self = sim::CurrentProcess();
  std::vector<std::string> f = {std::to_string(reinterpret_cast<ULONG_PTR>(w.Handle)),
                                std::to_string(self ? self->Pid : 0),
                                std::to_string(w.Thread),
                                sim::TableFieldEscape(TextToUtf8(w.ClassName)),
                                sim::TableFieldEscape(TextToUtf8(w.Title)),
                                std::to_string(w.Style),
                                std::to_string(w.ExStyle),
                                std::to_string(w.Rect.left),
                                std::to_string(w.Rect.top),
                                std::to_string(w.Rect.right),
                                std::to_string(w.Rect.bottom),
                                w.Visible() ? "1" : "0"};
  std::string line;
  for (size_t i = 0; i < f.size(); ++i) line += (i ? "\t" : "") + f[i];
  return line;
}

// Writes (or with bRemove, deletes) a top-level window's row of the machine's table.
void TableUpdate(const Window& w, bool bRemove) {
  if (!w.TopLevel() || !sim::CurrentProcess()) return;
  std::string machine = sim::MachineFolderHost();
  sim::MachineLock lock(machine);
  std::string path = sim::StatePath(machine, "windows");
  std::string key = std::to_string(reinterpret_cast<ULONG_PTR>(w.Handle)) + "\t";
  std::string data;
  bool found = false;
  for (const auto& line : sim::TableLinesRead(path)) {
    if (line.rfind(key, 0) == 0) {
      found = true;
      if (!bRemove) data += Row(w) + "\n";
      continue;
    }
    data += line + "\n";
  }
  if (!found && !bRemove) data += Row(w) + "\n";
  sim::FileReplaceAtomically(path, data);
}

void VisibilityEvent(const Window& w) {
  const sim::ProcessRecord* self = sim::CurrentProcess();
  if (!w.TopLevel() || !self) return;
  sim::EventAppend(sim::MachineFolderHost(),
                   "{\"type\":\"window\",\"pid\":" + std::to_string(self->Pid) +
                       ",\"title\":" + sim::JsonEscape(TextToUtf8(w.Title)) +
                       ",\"width\":" + std::to_string(w.Rect.right - w.Rect.left) +
                       ",\"height\":" + std::to_string(w.Rect.bottom - w.Rect.top) +
                       ",\"border\":" + Bool(HasBorder(w.Style)) +
                       ",\"stayOnTop\":" + Bool((w.ExStyle & WS_EX_TOPMOST) != 0) +
                       ",\"visible\":" + Bool(w.Visible()) + "}");
}

struct TableWindow {
  HWND Handle = nullptr;
  DWORD Pid = 0;
  DWORD Thread = 0;
  Text ClassName;
  Text Title;
};

// The top-level windows of the machine's running processes, the newest first (the top of
// the Z order), the shell's window last.
std::vector<TableWindow> MachineWindows() {
  std::vector<TableWindow> out;
  std::string machine = sim::MachineFolderHost();
  std::set<DWORD> running;
  for (const auto& p : sim::ProcessTableRead(machine))
    if (!p.Exited) running.insert(p.Record.Pid);
  std::vector<std::string> lines;
  {
    sim::MachineLock lock(machine);
    lines = sim::TableLinesRead(sim::StatePath(machine, "windows"));
  }
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    auto f = sim::TableFieldsSplit(*it);
    if (f.size() < 12) continue;
    TableWindow t;
    try {
      t.Handle = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::stoull(f[0])));
      t.Pid = static_cast<DWORD>(std::stoul(f[1]));
      t.Thread = static_cast<DWORD>(std::stoul(f[2]));
    } catch (const std::exception&) {
      continue;
    }
    if (!running.count(t.Pid)) continue;
    t.ClassName = Utf8ToText(f[3]);
    t.Title = Utf8ToText(f[4]);
    out.push_back(std::move(t));
  }
  if (DWORD shell = ShellRunning(machine)) out.push_back({kShellWindow, shell, kShellThreadId, u"Progman", u"Program Manager"});
  return out;
}

}  // namespace

ATOM RegisterClassExW(const WNDCLASSEXW* lpwcx) {
  if (!lpwcx || lpwcx->cbSize != sizeof(WNDCLASSEXW) || !lpwcx->lpszClassName || !*lpwcx->lpszClassName ||
      !lpwcx->lpfnWndProc)
    return Fail(ERROR_INVALID_PARAMETER, ATOM(0));
  Windows& w = State();
  std::lock_guard<std::mutex> g(w.Lock);
  Text key = sim::UpcaseText(lpwcx->lpszClassName);
  if (w.Classes.count(key) || key == u"STATIC") return Fail(1410u, ATOM(0));  // ERROR_CLASS_ALREADY_EXISTS
  w.Classes[key] = WindowClass{lpwcx->lpszClassName, lpwcx->lpfnWndProc};
  return static_cast<ATOM>(0xC000 + w.Classes.size());
}

HWND CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                     int nWidth, int nHeight, HWND hWndParent, HMENU, HINSTANCE, LPVOID) {
  if (!lpClassName || !*lpClassName) return Fail(1407u, HWND(nullptr));  // ERROR_CANNOT_FIND_WND_CLASS
  Window win;
  {
    Windows& w = State();
    std::lock_guard<std::mutex> g(w.Lock);
    Text key = sim::UpcaseText(lpClassName);
    if (key == u"STATIC") {
      win.ClassName = u"Static";
    } else {
      auto c = w.Classes.find(key);
      if (c == w.Classes.end()) return Fail(1407u, HWND(nullptr));
      win.ClassName = c->second.Name;
      win.Proc = c->second.Proc;
    }
    if (hWndParent && hWndParent != HWND_MESSAGE && !w.All.count(hWndParent))
      return Fail(ERROR_INVALID_WINDOW_HANDLE, HWND(nullptr));
    if ((dwStyle & WS_CHILD) && !hWndParent) return Fail(1406u, HWND(nullptr));  // ERROR_TLW_WITH_WSCHILD
    win.Handle = HandleNew(w);
    win.Title = lpWindowName ? Text(lpWindowName) : Text();
    win.Style = dwStyle;
    win.ExStyle = dwExStyle;
    // An owned popup is still a top-level window; only a child hangs below its parent.
    win.Parent = (dwStyle & WS_CHILD) || hWndParent == HWND_MESSAGE ? hWndParent : nullptr;
    if (win.Parent == HWND_MESSAGE) win.Style &= ~WS_VISIBLE;
    LONG x = X == CW_USEDEFAULT ? 0 : X, y = Y == CW_USEDEFAULT ? 0 : Y;
    LONG cx = nWidth == CW_USEDEFAULT ? 800 : std::max(nWidth, 0);
    LONG cy = nHeight == CW_USEDEFAULT ? 600 : std::max(nHeight, 0);
    win.Rect = RECT{x, y, x + cx, y + cy};
    win.Thread = GetCurrentThreadId();
    w.All[win.Handle] = win;
  }
  TableUpdate(win, false);
  if (win.Visible()) VisibilityEvent(win);
  return win.Handle;
}

BOOL DestroyWindow(HWND hWnd) {
  std::vector<HWND> children;
  std::optional<sim::WindowTarget> target;
  {
    Windows& w = State();
    std::lock_guard<std::mutex> g(w.Lock);
    auto it = w.All.find(hWnd);
    if (it == w.All.end()) return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    for (const auto& [h, c] : w.All)
      if (c.Parent == hWnd) children.push_back(h);
  }
  // The window hears of its end first, then its children, as on Windows.
  target = sim::WindowTargetGet(hWnd);
  if (target && target->Proc) target->Proc(hWnd, WM_DESTROY, 0, 0);
  for (HWND c : children) DestroyWindow(c);
  Window gone;
  {
    Windows& w = State();
    std::lock_guard<std::mutex> g(w.Lock);
    auto it = w.All.find(hWnd);
    if (it == w.All.end()) return TRUE;
    gone = it->second;
    w.All.erase(it);
  }
  sim::MessagesWindowGone(hWnd);
  TableUpdate(gone, true);
  if (gone.Visible()) {
    gone.Style &= ~WS_VISIBLE;
    VisibilityEvent(gone);
  }
  return TRUE;
}

BOOL IsWindow(HWND hWnd) {
  {
    Windows& w = State();
    std::lock_guard<std::mutex> g(w.Lock);
    if (w.All.count(hWnd)) return TRUE;
  }
  if (!hWnd || !sim::CurrentProcess()) return FALSE;
  for (const auto& t : MachineWindows())
    if (t.Handle == hWnd) return TRUE;
  return FALSE;
}

namespace {

// Changes a window of this process and keeps its table row and the event log up to date.
template <class F>
BOOL WindowChange(HWND hWnd, F aChange) {
  Window before, after;
  {
    Windows& w = State();
    std::lock_guard<std::mutex> g(w.Lock);
    auto it = w.All.find(hWnd);
    if (it == w.All.end()) return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    before = it->second;
    aChange(it->second);
    if (it->second.Parent == HWND_MESSAGE) it->second.Style &= ~WS_VISIBLE;
    after = it->second;
  }
  if (after.TopLevel() && Row(after) != Row(before)) TableUpdate(after, false);
  if (after.Visible() != before.Visible()) VisibilityEvent(after);
  return TRUE;
}

}  // namespace

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
  BOOL wasVisible = FALSE;
  BOOL ok = WindowChange(hWnd, [&](Window& w) {
    wasVisible = w.Visible();
    if (nCmdShow == SW_HIDE) w.Style &= ~WS_VISIBLE;
    else w.Style |= WS_VISIBLE;
  });
  // The result is the earlier visibility, not success.
  return ok ? wasVisible : FALSE;
}

BOOL IsWindowVisible(HWND hWnd) {
  Windows& w = State();
  std::lock_guard<std::mutex> g(w.Lock);
  auto it = w.All.find(hWnd);
  if (it == w.All.end()) return FALSE;
  // Visible only when its parents are too.
  for (const Window* p = &it->second;;) {
    if (!p->Visible()) return FALSE;
    if (!p->Parent || p->Parent == HWND_MESSAGE) return TRUE;
    auto up = w.All.find(p->Parent);
    if (up == w.All.end()) return TRUE;
    p = &up->second;
  }
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
  return WindowChange(hWnd, [&](Window& w) {
    if (!(uFlags & SWP_NOMOVE)) {
      LONG width = w.Rect.right - w.Rect.left, height = w.Rect.bottom - w.Rect.top;
      w.Rect = RECT{X, Y, X + width, Y + height};
    }
    if (!(uFlags & SWP_NOSIZE)) {
      w.Rect.right = w.Rect.left + std::max(cx, 0);
      w.Rect.bottom = w.Rect.top + std::max(cy, 0);
    }
    if (!(uFlags & SWP_NOZORDER) && w.TopLevel()) {
      if (hWndInsertAfter == HWND_TOPMOST) w.ExStyle |= WS_EX_TOPMOST;
      else if (hWndInsertAfter == HWND_NOTOPMOST) w.ExStyle &= ~WS_EX_TOPMOST;
    }
    if (uFlags & SWP_SHOWWINDOW) w.Style |= WS_VISIBLE;
    if (uFlags & SWP_HIDEWINDOW) w.Style &= ~WS_VISIBLE;
  });
}

BOOL GetWindowRect(HWND hWnd, RECT* lpRect) {
  if (!lpRect) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  Windows& w = State();
  std::lock_guard<std::mutex> g(w.Lock);
  auto it = w.All.find(hWnd);
  if (it == w.All.end()) return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
  // Screen coordinates: a child's position is relative to its parent's client area.
  RECT r = it->second.Rect;
  for (HWND p = it->second.Parent; p && p != HWND_MESSAGE;) {
    auto up = w.All.find(p);
    if (up == w.All.end()) break;
    LONG dx = up->second.Rect.left + FrameWidth(up->second.Style);
    LONG dy = up->second.Rect.top + FrameWidth(up->second.Style) + CaptionHeight(up->second.Style);
    r = RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
    p = up->second.Parent;
  }
  *lpRect = r;
  return TRUE;
}

BOOL GetClientRect(HWND hWnd, RECT* lpRect) {
  if (!lpRect) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  Windows& w = State();
  std::lock_guard<std::mutex> g(w.Lock);
  auto it = w.All.find(hWnd);
  if (it == w.All.end()) return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
  const Window& win = it->second;
  LONG f = FrameWidth(win.Style);
  LONG width = std::max<LONG>(0, win.Rect.right - win.Rect.left - 2 * f);
  LONG height = std::max<LONG>(0, win.Rect.bottom - win.Rect.top - 2 * f - CaptionHeight(win.Style));
  *lpRect = RECT{0, 0, width, height};
  return TRUE;
}

BOOL AdjustWindowRectEx(RECT* lpRect, DWORD dwStyle, BOOL, DWORD) {
  if (!lpRect) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  LONG f = FrameWidth(dwStyle);
  lpRect->left -= f;
  lpRect->right += f;
  lpRect->top -= f + CaptionHeight(dwStyle);
  lpRect->bottom += f;
  return TRUE;
}

BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
  return WindowChange(hWnd, [&](Window& w) { w.Title = lpString ? Text(lpString) : Text(); });
}

int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
  Text title;
  {
    Windows& w = State();
    std::lock_guard<std::mutex> g(w.Lock);
    auto it = w.All.find(hWnd);
    if (it == w.All.end()) {
      if (lpString && nMaxCount > 0) *lpString = 0;
      return Fail(ERROR_INVALID_WINDOW_HANDLE, 0);
    }
    title = it->second.Title;
  }
  if (!lpString || nMaxCount <= 0) return 0;
  size_t n = std::min(title.size(), static_cast<size_t>(nMaxCount - 1));
  std::copy_n(title.begin(), n, lpString);
  lpString[n] = 0;
  return static_cast<int>(n);
}

LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex) {
  Windows& w = State();
  std::lock_guard<std::mutex> g(w.Lock);
  auto it = w.All.find(hWnd);
  if (it == w.All.end()) return Fail(ERROR_INVALID_WINDOW_HANDLE, LONG_PTR(0));
  switch (nIndex) {
    case GWL_STYLE: return static_cast<LONG_PTR>(it->second.Style);
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(it->second.ExStyle);
    case GWLP_USERDATA: return it->second.UserData;
    default: return Fail(1413u, LONG_PTR(0));  // ERROR_INVALID_INDEX
  }
}

LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  if (nIndex != GWL_STYLE && nIndex != GWL_EXSTYLE && nIndex != GWLP_USERDATA) return Fail(1413u, LONG_PTR(0));
  LONG_PTR previous = 0;
  BOOL ok = WindowChange(hWnd, [&](Window& w) {
    switch (nIndex) {
      case GWL_STYLE:
        previous = static_cast<LONG_PTR>(w.Style);
        w.Style = static_cast<DWORD>(dwNewLong);
        break;
      case GWL_EXSTYLE:
        // The topmost state changes only through SetWindowPos, as on Windows.
        previous = static_cast<LONG_PTR>(w.ExStyle);
        w.ExStyle = (static_cast<DWORD>(dwNewLong) & ~WS_EX_TOPMOST) | (w.ExStyle & WS_EX_TOPMOST);
        break;
      default:
        previous = w.UserData;
        w.UserData = dwNewLong;
    }
  });
  return ok ? previous : 0;
}

LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  // WM_CLOSE destroys the window; everything else needs no answer here.
  if (Msg == WM_CLOSE) DestroyWindow(hWnd);
  return 0;
}

BOOL UpdateWindow(HWND hWnd) {
  // Nothing is painted in the simulation.
  return IsWindow(hWnd) ? TRUE : FALSE;
}

HWND FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
  if (!sim::CurrentProcess()) return Fail(sim::kErrorNotReady, HWND(nullptr));
  for (const auto& t : MachineWindows()) {
    if (lpClassName && !NameEquals(lpClassName, t.ClassName)) continue;
    if (lpWindowName && !NameEquals(lpWindowName, t.Title)) continue;
    return t.Handle;
  }
  return Fail(ERROR_SUCCESS, HWND(nullptr));
}

DWORD GetWindowThreadProcessId(HWND hWnd, DWORD* lpdwProcessId) {
  {
    Windows& w = State();
    std::lock_guard<std::mutex> g(w.Lock);
    auto it = w.All.find(hWnd);
    if (it != w.All.end()) {
      if (lpdwProcessId) *lpdwProcessId = GetCurrentProcessId();
      return it->second.Thread;
    }
  }
  if (hWnd && sim::CurrentProcess()) {
    for (const auto& t : MachineWindows()) {
      if (t.Handle != hWnd) continue;
      if (lpdwProcessId) *lpdwProcessId = t.Pid;
      return t.Thread;
    }
  }
  return Fail(ERROR_INVALID_WINDOW_HANDLE, DWORD(0));
}

int GetSystemMetrics(int nIndex) {
  switch (nIndex) {
    case SM_CXSCREEN: return kScreenWidth;
    case SM_CYSCREEN: return kScreenHeight;
    default: return 0;
  }
}

BOOL SystemParametersInfoW(UINT uiAction, UINT, LPVOID pvParam, UINT) {
  if (uiAction != SPI_GETWORKAREA || !pvParam) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  *static_cast<RECT*>(pvParam) = RECT{0, 0, kScreenWidth, kScreenHeight - kTaskBarHeight};
  return TRUE;
}

}  // namespace win

namespace sim {

std::optional<WindowTarget> WindowTargetGet(win::HWND hWnd) {
  auto& w = win::State();
  std::lock_guard<std::mutex> g(w.Lock);
  auto it = w.All.find(hWnd);
  if (it == w.All.end()) return std::nullopt;
  return WindowTarget{it->second.Proc, it->second.Thread};
}

win::LRESULT WindowSystemProc(win::HWND hWnd, win::UINT aMsg, win::WPARAM wParam, win::LPARAM lParam) {
  auto& w = win::State();
  std::lock_guard<std::mutex> g(w.Lock);
  auto it = w.All.find(hWnd);
  if (it == w.All.end()) return 0;
  if (aMsg == win::STM_SETIMAGE && wParam == win::IMAGE_BITMAP) {
    win::LPARAM previous = it->second.Image;
    it->second.Image = lParam;
    return previous;
  }
  if (aMsg == win::STM_GETIMAGE && wParam == win::IMAGE_BITMAP) return it->second.Image;
  return 0;
}

}  // namespace sim

namespace sim {

std::vector<win::HWND> WindowsTopLevelGet() {
  auto& w = win::State();
  std::lock_guard<std::mutex> g(w.Lock);
  std::vector<win::HWND> r;
  for (const auto& [h, window] : w.All)
    if (window.TopLevel()) r.push_back(h);
  return r;
}

}  // namespace sim
