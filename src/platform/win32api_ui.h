// Windows, messages, timers, message boxes and task dialogs: what the UI class library
// (src/ui) builds on.
#pragma once

#include "platform/win32api_base.h"
#include "platform/win32api_process.h"
#include "platform/win32api_types.h"

namespace win {

using WPARAM = ULONG_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using ATOM = WORD;
using HMENU = void*;
using HICON = void*;
using HCURSOR = void*;
using HBRUSH = void*;
using HBITMAP = void*;
using UINT_PTR = ULONG_PTR;

struct POINT {
  LONG x;
  LONG y;
};

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

using WNDPROC = LRESULT(ORV_WINAPI*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void(ORV_WINAPI*)(HWND, UINT, UINT_PTR, DWORD);

struct WNDCLASSEXW {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
  HICON hIconSm;
};

// Window styles.
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_DLGFRAME = 0x00400000;
constexpr DWORD WS_CAPTION = 0x00C00000;  // WS_BORDER | WS_DLGFRAME
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
// Static controls.
constexpr DWORD SS_BITMAP = 0x0000000E;
constexpr DWORD SS_REALSIZEIMAGE = 0x00000800;

constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);
// The parent of a message-only window: it is never shown and FindWindowW does not see it.
inline HWND const HWND_MESSAGE = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-3));
inline HWND const HWND_TOP = nullptr;
inline HWND const HWND_TOPMOST = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
inline HWND const HWND_NOTOPMOST = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-2));

// SetWindowPos flags.
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_FRAMECHANGED = 0x0020;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;

// Get/SetWindowLongPtrW.
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWLP_USERDATA = -21;

// Messages.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_TIMECHANGE = 0x001E;
constexpr UINT WM_POWERBROADCAST = 0x0218;
// WM_POWERBROADCAST subtypes (wParam).
constexpr WPARAM PBT_APMSUSPEND = 4;
constexpr WPARAM PBT_APMRESUMESUSPEND = 7;
constexpr WPARAM PBT_APMRESUMEAUTOMATIC = 18;
constexpr UINT WM_USER = 0x0400;
constexpr UINT STM_SETIMAGE = 0x0172;
constexpr UINT STM_GETIMAGE = 0x0173;
constexpr WPARAM IMAGE_BITMAP = 0;

// PeekMessageW.
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

// The smallest interval SetTimer keeps; shorter ones are raised to it.
constexpr UINT USER_TIMER_MINIMUM = 0x0000000A;

// System metrics and parameters.
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr UINT SPI_GETWORKAREA = 0x0030;

ATOM RegisterClassExW(const WNDCLASSEXW* lpwcx);
HWND CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                     int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam);
BOOL DestroyWindow(HWND hWnd);
BOOL IsWindow(HWND hWnd);
BOOL ShowWindow(HWND hWnd, int nCmdShow);
BOOL IsWindowVisible(HWND hWnd);
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
BOOL GetWindowRect(HWND hWnd, RECT* lpRect);
BOOL GetClientRect(HWND hWnd, RECT* lpRect);
// The window rectangle that gives a client rectangle with these styles (no menu here).
BOOL AdjustWindowRectEx(RECT* lpRect, DWORD dwStyle, BOOL bMenu, DWORD dwExStyle);
BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString);
int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount);
LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex);
LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
BOOL UpdateWindow(HWND hWnd);

// FindWindowW searches the top-level windows of every process of the desktop; the desktop
// shell's window has the class "Progman".
HWND FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName);
// The id of the thread that created the window (0 for an unknown window); its process's id
// through lpdwProcessId.
DWORD GetWindowThreadProcessId(HWND hWnd, DWORD* lpdwProcessId);

int GetSystemMetrics(int nIndex);
BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, LPVOID pvParam, UINT fWinIni);

// The calling thread's message queue.
BOOL GetMessageW(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
BOOL PeekMessageW(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
BOOL TranslateMessage(const MSG* lpMsg);
LRESULT DispatchMessageW(const MSG* lpMsg);
BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int nExitCode);
// Every top-level window (PostMessageW and SendMessageTimeoutW; message-only windows get nothing).
inline HWND const HWND_BROADCAST = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0xFFFF));
// SendMessageTimeoutW. A window of another thread gets the message when its thread asks for
// messages (or sends one itself); the sender waits at most uTimeout ms: then 0 with
// ERROR_TIMEOUT. Non-zero on success, the procedure's result in *lpdwResult.
constexpr UINT SMTO_NORMAL = 0x0000;
constexpr UINT SMTO_BLOCK = 0x0001;
constexpr UINT SMTO_ABORTIFHUNG = 0x0002;
LRESULT SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags, UINT uTimeout,
                            ULONG_PTR* lpdwResult);
// What the calling thread's queue holds: high word the kinds added since the last look, low
// word the kinds now there.
constexpr UINT QS_POSTMESSAGE = 0x0008;
constexpr UINT QS_TIMER = 0x0010;
constexpr UINT QS_SENDMESSAGE = 0x0040;
constexpr UINT QS_ALLINPUT = 0x04FF;
DWORD GetQueueStatus(UINT flags);

// Timers: WM_TIMER arrives when the queue has nothing else; an interval below
// USER_TIMER_MINIMUM is raised to it.
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);

// MessageBoxW.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_RETRYCANCEL = 0x00000005;
constexpr UINT MB_CANCELTRYCONTINUE = 0x00000006;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_DEFBUTTON1 = 0x00000000;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_DEFBUTTON3 = 0x00000200;
constexpr UINT MB_DEFBUTTON4 = 0x00000300;
constexpr UINT MB_DEFMASK = 0x00000F00;
constexpr UINT MB_APPLMODAL = 0x00000000;
constexpr UINT MB_SYSTEMMODAL = 0x00001000;
constexpr UINT MB_TASKMODAL = 0x00002000;
constexpr UINT MB_SETFOREGROUND = 0x00010000;
constexpr UINT MB_TOPMOST = 0x00040000;

// Dialog results.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDCLOSE = 8;
constexpr int IDTRYAGAIN = 10;
constexpr int IDCONTINUE = 11;

// 0 when the box could not be shown (the last error says why), else the button's id.
int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);

// TaskDialogIndirect (common controls 6).
using TASKDIALOG_FLAGS = int;
using TASKDIALOG_COMMON_BUTTON_FLAGS = int;
constexpr TASKDIALOG_FLAGS TDF_ENABLE_HYPERLINKS = 0x0001;
constexpr TASKDIALOG_FLAGS TDF_USE_HICON_MAIN = 0x0002;
constexpr TASKDIALOG_FLAGS TDF_ALLOW_DIALOG_CANCELLATION = 0x0008;
constexpr TASKDIALOG_FLAGS TDF_USE_COMMAND_LINKS = 0x0010;
constexpr TASKDIALOG_FLAGS TDF_POSITION_RELATIVE_TO_WINDOW = 0x1000;
constexpr TASKDIALOG_COMMON_BUTTON_FLAGS TDCBF_OK_BUTTON = 0x0001;
constexpr TASKDIALOG_COMMON_BUTTON_FLAGS TDCBF_YES_BUTTON = 0x0002;
constexpr TASKDIALOG_COMMON_BUTTON_FLAGS TDCBF_NO_BUTTON = 0x0004;
constexpr TASKDIALOG_COMMON_BUTTON_FLAGS TDCBF_CANCEL_BUTTON = 0x0008;
constexpr TASKDIALOG_COMMON_BUTTON_FLAGS TDCBF_RETRY_BUTTON = 0x0010;
constexpr TASKDIALOG_COMMON_BUTTON_FLAGS TDCBF_CLOSE_BUTTON = 0x0020;
// The system's main icons (MAKEINTRESOURCEW values).
inline LPCWSTR const TD_WARNING_ICON = reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(0xFFFF));
inline LPCWSTR const TD_ERROR_ICON = reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(0xFFFE));
inline LPCWSTR const TD_INFORMATION_ICON = reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(0xFFFD));
inline LPCWSTR const TD_SHIELD_ICON = reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(0xFFFC));

struct TASKDIALOG_BUTTON {
  int nButtonID;
  LPCWSTR pszButtonText;
};

// The members the framework uses, in the system's order; the Windows backend copies them
// into the system's (packed) structure.
struct TASKDIALOGCONFIG {
  UINT cbSize;
  HWND hwndParent;
  HINSTANCE hInstance;
  TASKDIALOG_FLAGS dwFlags;
  TASKDIALOG_COMMON_BUTTON_FLAGS dwCommonButtons;
  LPCWSTR pszWindowTitle;
  LPCWSTR pszMainIcon;
  LPCWSTR pszMainInstruction;
  LPCWSTR pszContent;
  UINT cButtons;
  const TASKDIALOG_BUTTON* pButtons;
  int nDefaultButton;
};

constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);

// S_OK and the chosen button's id in *pnButton (IDCANCEL when the dialog was closed without
// one). E_NOTIMPL where the system's common controls have no task dialogs (no version 6
// manifest).
HRESULT TaskDialogIndirect(const TASKDIALOGCONFIG* pTaskConfig, int* pnButton, int* pnRadioButton,
                           BOOL* pfVerificationFlagChecked);

// Not a Win32 function: the system's image decoding (WIC on Windows) behind one call. Decodes
// a PNG image into a top-down 32-bit bitmap (DeleteObject frees it); null for data that is
// no PNG image, with ERROR_INVALID_DATA. Its size through aWidth and aHeight.
HBITMAP PngBitmapCreate(const BYTE* aData, DWORD aSize, LONG* aWidth, LONG* aHeight);
BOOL DeleteObject(HANDLE ho);

}  // namespace win
