// Windows, messages, timers and dialogs: the real API. TaskDialogIndirect and the image
// decoding are reached at run time, so that the program imports no DLL that could be found
// next to it (comctl32 comes from the system folder, bound to version 6 by the program's
// manifest; WIC's windowscodecs through COM's registration).
// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/win32api.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <wincodec.h>

#include <vector>

#include "platform/win32/convert.h"

namespace win {

namespace {

static_assert(sizeof(MSG) == sizeof(::MSG), "layouts differ");
static_assert(sizeof(RECT) == sizeof(::RECT), "layouts differ");
static_assert(sizeof(WNDCLASSEXW) == sizeof(::WNDCLASSEXW), "layouts differ");

::HWND H(HWND h) { return static_cast<::HWND>(h); }

// The GUIDs of the system's image decoding, spelled out so that no import library of
// windowscodecs is needed.
const GUID kClsidWicImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
const GUID kIidWicImagingFactory = {0xec5ec8a9, 0xc395, 0x4314, {0x9c, 0x77, 0x54, 0xd7, 0xa9, 0x35, 0xff, 0x70}};
const GUID kWicPixelFormat32bppBGRA = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0f}};

template <class T>
void Release(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

}  // namespace

ATOM RegisterClassExW(const WNDCLASSEXW* lpwcx) {
  return ::RegisterClassExW(reinterpret_cast<const ::WNDCLASSEXW*>(lpwcx));
}
HWND CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                     int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam) {
  return ::CreateWindowExW(dwExStyle, W(lpClassName), W(lpWindowName), dwStyle, X, Y, nWidth, nHeight, H(hWndParent),
                           static_cast<::HMENU>(hMenu), static_cast<::HINSTANCE>(hInstance), lpParam);
}
BOOL DestroyWindow(HWND hWnd) { return ::DestroyWindow(H(hWnd)); }
BOOL IsWindow(HWND hWnd) { return ::IsWindow(H(hWnd)); }
BOOL ShowWindow(HWND hWnd, int nCmdShow) { return ::ShowWindow(H(hWnd), nCmdShow); }
BOOL IsWindowVisible(HWND hWnd) { return ::IsWindowVisible(H(hWnd)); }
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
  return ::SetWindowPos(H(hWnd), H(hWndInsertAfter), X, Y, cx, cy, uFlags);
}
BOOL GetWindowRect(HWND hWnd, RECT* lpRect) { return ::GetWindowRect(H(hWnd), Same<RECT, ::RECT>(lpRect)); }
BOOL GetClientRect(HWND hWnd, RECT* lpRect) { return ::GetClientRect(H(hWnd), Same<RECT, ::RECT>(lpRect)); }
BOOL AdjustWindowRectEx(RECT* lpRect, DWORD dwStyle, BOOL bMenu, DWORD dwExStyle) {
  return ::AdjustWindowRectEx(Same<RECT, ::RECT>(lpRect), dwStyle, bMenu, dwExStyle);
}
BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString) { return ::SetWindowTextW(H(hWnd), W(lpString)); }
int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
  return ::GetWindowTextW(H(hWnd), W(lpString), nMaxCount);
}
// In a 32-bit build the system's headers make these two names macros for the 32-bit calls.
#ifdef GetWindowLongPtrW
#undef GetWindowLongPtrW
#undef SetWindowLongPtrW
#endif
#ifdef _WIN64
LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex) { return ::GetWindowLongPtrW(H(hWnd), nIndex); }
LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  return ::SetWindowLongPtrW(H(hWnd), nIndex, dwNewLong);
}
#else
LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex) { return ::GetWindowLongW(H(hWnd), nIndex); }
LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  return ::SetWindowLongW(H(hWnd), nIndex, static_cast<LONG>(dwNewLong));
}
#endif
LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcW(H(hWnd), Msg, wParam, lParam);
}
BOOL UpdateWindow(HWND hWnd) { return ::UpdateWindow(H(hWnd)); }

HWND FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
  return ::FindWindowW(W(lpClassName), W(lpWindowName));
}
DWORD GetWindowThreadProcessId(HWND hWnd, DWORD* lpdwProcessId) {
  return ::GetWindowThreadProcessId(H(hWnd), lpdwProcessId);
}

int GetSystemMetrics(int nIndex) { return ::GetSystemMetrics(nIndex); }
BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, LPVOID pvParam, UINT fWinIni) {
  return ::SystemParametersInfoW(uiAction, uiParam, pvParam, fWinIni);
}

BOOL GetMessageW(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  return ::GetMessageW(Same<MSG, ::MSG>(lpMsg), H(hWnd), wMsgFilterMin, wMsgFilterMax);
}
BOOL PeekMessageW(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  return ::PeekMessageW(Same<MSG, ::MSG>(lpMsg), H(hWnd), wMsgFilterMin, wMsgFilterMax, wRemoveMsg);
}
BOOL TranslateMessage(const MSG* lpMsg) { return ::TranslateMessage(reinterpret_cast<const ::MSG*>(lpMsg)); }
LRESULT DispatchMessageW(const MSG* lpMsg) { return ::DispatchMessageW(reinterpret_cast<const ::MSG*>(lpMsg)); }
BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageW(H(hWnd), Msg, wParam, lParam);
}
LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageW(H(hWnd), Msg, wParam, lParam);
}
void PostQuitMessage(int nExitCode) { ::PostQuitMessage(nExitCode); }
LRESULT SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags, UINT uTimeout,
                            ULONG_PTR* lpdwResult) {
  ::DWORD_PTR result = 0;
  LRESULT r = ::SendMessageTimeoutW(H(hWnd), Msg, wParam, lParam, fuFlags, uTimeout, &result);
  if (lpdwResult) *lpdwResult = result;
  return r;
}
DWORD GetQueueStatus(UINT flags) { return ::GetQueueStatus(flags); }

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  return ::SetTimer(H(hWnd), nIDEvent, uElapse, reinterpret_cast<::TIMERPROC>(lpTimerFunc));
}
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) { return ::KillTimer(H(hWnd), uIDEvent); }

int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  return ::MessageBoxW(H(hWnd), W(lpText), W(lpCaption), uType);
}

HRESULT TaskDialogIndirect(const TASKDIALOGCONFIG* pTaskConfig, int* pnButton, int* pnRadioButton,
                           BOOL* pfVerificationFlagChecked) {
  using Fn = HRESULT(WINAPI*)(const ::TASKDIALOGCONFIG*, int*, int*, ::BOOL*);
  // Common controls 6 (the manifest's) has task dialogs; version 5 has none.
  static const Fn fn = [] {
    ::HMODULE m = ::LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Windows 7 without the update that brought the search flags refuses them: there the
    // manifest's side-by-side binding, which the loader looks at first, gives version 6.
    if (!m && ::GetLastError() == ERROR_INVALID_PARAMETER) m = ::LoadLibraryW(L"comctl32.dll");
    return m ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m, "TaskDialogIndirect"))) : nullptr;
  }();
  if (!pTaskConfig || pTaskConfig->cbSize != sizeof(TASKDIALOGCONFIG)) return E_INVALIDARG;
  if (!fn) return E_NOTIMPL;
  std::vector<::TASKDIALOG_BUTTON> buttons;
  for (UINT i = 0; i < pTaskConfig->cButtons; ++i)
    buttons.push_back({pTaskConfig->pButtons[i].nButtonID, W(pTaskConfig->pButtons[i].pszButtonText)});
  ::TASKDIALOGCONFIG c{};
  c.cbSize = sizeof c;
  c.hwndParent = H(pTaskConfig->hwndParent);
  c.hInstance = static_cast<::HINSTANCE>(pTaskConfig->hInstance);
  c.dwFlags = pTaskConfig->dwFlags;
  c.dwCommonButtons = pTaskConfig->dwCommonButtons;
  c.pszWindowTitle = W(pTaskConfig->pszWindowTitle);
  c.pszMainIcon = W(pTaskConfig->pszMainIcon);
  c.pszMainInstruction = W(pTaskConfig->pszMainInstruction);
  c.pszContent = W(pTaskConfig->pszContent);
  c.cButtons = static_cast<UINT>(buttons.size());
  c.pButtons = buttons.empty() ? nullptr : buttons.data();
  c.nDefaultButton = pTaskConfig->nDefaultButton;
  return fn(&c, pnButton, pnRadioButton, pfVerificationFlagChecked);
}

HBITMAP PngBitmapCreate(const BYTE* aData, DWORD aSize, LONG* aWidth, LONG* aHeight) {
  static const BYTE kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (!aData || aSize < 8 || memcmp(aData, kSignature, 8) != 0) {
    ::SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  // COM for this thread while we decode; an apartment the caller already has is kept.
  HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IWICImagingFactory* factory = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICFormatConverter* converter = nullptr;
  ::HBITMAP bitmap = nullptr;
  UINT width = 0, height = 0;
  HRESULT hr = ::CoCreateInstance(kClsidWicImagingFactory, nullptr, CLSCTX_INPROC_SERVER, kIidWicImagingFactory,
                                  reinterpret_cast<void**>(&factory));
  if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
  if (SUCCEEDED(hr)) hr = stream->InitializeFromMemory(const_cast<BYTE*>(aData), aSize);
  if (SUCCEEDED(hr)) hr = factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
  if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
  if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
  if (SUCCEEDED(hr))
    hr = converter->Initialize(frame, kWicPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                               WICBitmapPaletteTypeCustom);
  if (SUCCEEDED(hr)) hr = converter->GetSize(&width, &height);
  if (SUCCEEDED(hr) && (width == 0 || height == 0 || width > 0x7FFF || height > 0x7FFF)) hr = E_FAIL;
  if (SUCCEEDED(hr)) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = static_cast<::LONG>(width);
    bi.bmiHeader.biHeight = -static_cast<::LONG>(height);  // top-down rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) hr = E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) hr = converter->CopyPixels(nullptr, width * 4, width * 4 * height, static_cast<BYTE*>(bits));
    if (FAILED(hr) && bitmap) {
      ::DeleteObject(bitmap);
      bitmap = nullptr;
    }
  }
  Release(converter);
  Release(frame);
  Release(decoder);
  Release(stream);
  Release(factory);
  if (SUCCEEDED(init)) ::CoUninitialize();
  if (!bitmap) {
    ::SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  if (aWidth) *aWidth = static_cast<LONG>(width);
  if (aHeight) *aHeight = static_cast<LONG>(height);
  return bitmap;
}

BOOL DeleteObject(HANDLE ho) { return ::DeleteObject(static_cast<::HGDIOBJ>(ho)); }

}  // namespace win
