#include "ui/Form.h"

#include <algorithm>

#include "ui/Application.h"
#include "ui/Image.h"
#include "ui/WindowClass.h"

namespace {
// The dialog face colour (COLOR_BTNFACE + 1), as forms are painted.
win::HBRUSH const kFaceBrush = reinterpret_cast<win::HBRUSH>(static_cast<win::ULONG_PTR>(15 + 1));
}  // namespace

TForm::TForm(TComponent* aOwner, const Text& aWindowClass) : TComponent(aOwner), FWindowClass(aWindowClass) {}

TForm::~TForm() {
  // The form's components first: they may still speak to the form and its window.
  DestroyComponents();
  if (FHandle) {
    win::SetWindowLongPtrW(FHandle, win::GWLP_USERDATA, 0);
    win::DestroyWindow(FHandle);
    FHandle = nullptr;
  }
  Application->FormDestroyed(this);
}

void TForm::AfterConstruction() {
  if (FCreated) return;
  FCreated = true;
  if (OnCreate) OnCreate(this);
}

void TForm::BeforeDestruction() {
  if (FDestroyed) return;
  FDestroyed = true;
  if (OnDestroy) OnDestroy(this);
}

win::DWORD TForm::StyleGet() const {
  switch (FBorderStyle) {
    case TFormBorderStyle::bsNone: return win::WS_POPUP | win::WS_CLIPCHILDREN;
    case TFormBorderStyle::bsSingle:
      return win::WS_CAPTION | win::WS_SYSMENU | win::WS_MINIMIZEBOX | win::WS_MAXIMIZEBOX | win::WS_CLIPCHILDREN;
    case TFormBorderStyle::bsDialog: return win::WS_POPUP | win::WS_CAPTION | win::WS_SYSMENU | win::WS_CLIPCHILDREN;
    case TFormBorderStyle::bsSizeable: break;
  }
  return win::WS_OVERLAPPEDWINDOW | win::WS_CLIPCHILDREN;
}

win::DWORD TForm::ExStyleGet() const { return FFormStyle == TFormStyle::fsStayOnTop ? win::WS_EX_TOPMOST : 0; }

win::HWND TForm::Handle() {
  if (FHandle) return FHandle;
  if (!WindowClassEnsure(FWindowClass, WindowProc, kFaceBrush)) return nullptr;
  AutoSizeApply();
  win::RECT r{0, 0, FClientWidth, FClientHeight};
  win::AdjustWindowRectEx(&r, StyleGet(), win::FALSE, ExStyleGet());
  if (FPosition == TPosition::poScreenCenter) {
    win::RECT area{};
    if (!win::SystemParametersInfoW(win::SPI_GETWORKAREA, 0, &area, 0))
      area = win::RECT{0, 0, win::GetSystemMetrics(win::SM_CXSCREEN), win::GetSystemMetrics(win::SM_CYSCREEN)};
    FLeft = area.left + ((area.right - area.left) - (r.right - r.left)) / 2;
    FTop = area.top + ((area.bottom - area.top) - (r.bottom - r.top)) / 2;
  }
  win::HWND owner = Application->MainFormOnTaskBar ? nullptr : Application->Handle();
  FHandle = win::CreateWindowExW(ExStyleGet(), FWindowClass.c_str(), FCaption.c_str(), StyleGet(), FLeft, FTop,
                                 r.right - r.left, r.bottom - r.top, owner, nullptr, win::GetModuleHandleW(nullptr),
                                 nullptr);
  if (!FHandle) return nullptr;
  win::SetWindowLongPtrW(FHandle, win::GWLP_USERDATA, reinterpret_cast<win::LONG_PTR>(this));
  for (TImage* image : FImages) image->ParentHandleCreated();
  if (FVisible) {
    win::ShowWindow(FHandle, win::SW_SHOWNORMAL);
    win::UpdateWindow(FHandle);
  }
  return FHandle;
}

void TForm::CaptionSet(const Text& aCaption) {
  FCaption = aCaption;
  if (FHandle) win::SetWindowTextW(FHandle, FCaption.c_str());
}

void TForm::BorderStyleSet(TFormBorderStyle aStyle) {
  if (FBorderStyle == aStyle) return;
  FBorderStyle = aStyle;
  if (!FHandle) return;
  win::DWORD visible = win::IsWindowVisible(FHandle) ? win::WS_VISIBLE : 0;
  win::SetWindowLongPtrW(FHandle, win::GWL_STYLE, static_cast<win::LONG_PTR>(StyleGet() | visible));
  BoundsUpdate();
}

void TForm::FormStyleSet(TFormStyle aStyle) {
  if (FFormStyle == aStyle) return;
  FFormStyle = aStyle;
  // A new window with the new style: changing the Z order of an owned window in place is
  // not honoured everywhere (Wine keeps an owned window topmost).
  if (FHandle) RecreateWnd();
}

void TForm::RecreateWnd() {
  for (TImage* image : FImages) image->ParentHandleDestroyed();
  win::SetWindowLongPtrW(FHandle, win::GWLP_USERDATA, 0);
  win::DestroyWindow(FHandle);
  FHandle = nullptr;
  Handle();
}

void TForm::PositionSet(TPosition aPosition) {
  FPosition = aPosition;
  if (FHandle) BoundsUpdate();
}

void TForm::ClientWidthSet(int aWidth) {
  FClientWidth = std::max(aWidth, 0);
  if (FHandle) BoundsUpdate();
}

void TForm::ClientHeightSet(int aHeight) {
  FClientHeight = std::max(aHeight, 0);
  if (FHandle) BoundsUpdate();
}

void TForm::AutoSizeSet(bool bAutoSize) {
  FAutoSize = bAutoSize;
  if (FHandle) BoundsUpdate();
}

void TForm::BoundsSet(int aLeft, int aTop) {
  FLeft = aLeft;
  FTop = aTop;
  FPosition = TPosition::poDesigned;
  if (FHandle) BoundsUpdate();
}

void TForm::AutoSizeApply() {
  if (!FAutoSize || FImages.empty()) return;
  int width = 0, height = 0;
  for (const TImage* image : FImages) {
    width = std::max(width, image->LeftGet() + image->WidthGet());
    height = std::max(height, image->TopGet() + image->HeightGet());
  }
  FClientWidth = width;
  FClientHeight = height;
}

void TForm::BoundsUpdate() {
  AutoSizeApply();
  win::RECT r{0, 0, FClientWidth, FClientHeight};
  win::AdjustWindowRectEx(&r, StyleGet(), win::FALSE, ExStyleGet());
  if (FPosition == TPosition::poScreenCenter) {
    win::RECT area{};
    if (win::SystemParametersInfoW(win::SPI_GETWORKAREA, 0, &area, 0)) {
      FLeft = area.left + ((area.right - area.left) - (r.right - r.left)) / 2;
      FTop = area.top + ((area.bottom - area.top) - (r.bottom - r.top)) / 2;
    }
  }
  win::SetWindowPos(FHandle, nullptr, FLeft, FTop, r.right - r.left, r.bottom - r.top,
                    win::SWP_NOZORDER | win::SWP_NOACTIVATE | win::SWP_FRAMECHANGED);
}

void TForm::VisibleSet(bool bVisible) {
  FVisible = bVisible;
  if (bVisible) {
    if (!Handle()) return;
    win::ShowWindow(FHandle, win::SW_SHOWNORMAL);
    // The stay-on-top state again once shown: a change made while the window was hidden
    // does not reach the Z order everywhere.
    win::SetWindowPos(FHandle, FFormStyle == TFormStyle::fsStayOnTop ? win::HWND_TOPMOST : win::HWND_NOTOPMOST, 0, 0,
                      0, 0, win::SWP_NOMOVE | win::SWP_NOSIZE | win::SWP_NOACTIVATE);
    win::UpdateWindow(FHandle);
  } else if (FHandle) {
    win::ShowWindow(FHandle, win::SW_HIDE);
  }
}

void TForm::Close() {
  if (Application->MainForm() == this) Application->Terminate();
  else Hide();
}

void TForm::ControlInsert(TImage* aImage) {
  FImages.push_back(aImage);
  ControlResized();
}

void TForm::ControlRemove(TImage* aImage) {
  FImages.erase(std::remove(FImages.begin(), FImages.end(), aImage), FImages.end());
}

void TForm::ControlResized() {
  if (FHandle && FAutoSize) BoundsUpdate();
}

win::LRESULT ORV_WINAPI TForm::WindowProc(win::HWND hWnd, win::UINT aMsg, win::WPARAM wParam, win::LPARAM lParam) {
  auto* form = reinterpret_cast<TForm*>(win::GetWindowLongPtrW(hWnd, win::GWLP_USERDATA));
  if (!form) return win::DefWindowProcW(hWnd, aMsg, wParam, lParam);
  return WindowProcedureGuarded([&]() -> win::LRESULT {
    // Closing the window (Alt+F4, the system menu) closes the form, which decides what ends.
    if (aMsg == win::WM_CLOSE) {
      form->Close();
      return 0;
    }
    return win::DefWindowProcW(hWnd, aMsg, wParam, lParam);
  });
}
