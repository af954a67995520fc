#include "ui/MessageWindow.h"

#include <utility>

#include "ui/Application.h"
#include "ui/WindowClass.h"

namespace {

win::LRESULT ORV_WINAPI MessageWindowProc(win::HWND hWnd, win::UINT aMsg, win::WPARAM wParam, win::LPARAM lParam) {
  auto* procedure = reinterpret_cast<TWindowProcedure*>(win::GetWindowLongPtrW(hWnd, win::GWLP_USERDATA));
  if (!procedure) return win::DefWindowProcW(hWnd, aMsg, wParam, lParam);
  return WindowProcedureGuarded([&] { return (*procedure)(hWnd, aMsg, wParam, lParam); });
}

}  // namespace

win::HWND MessageWindowCreate(TWindowProcedure aProcedure) {
  if (!WindowClassEnsure(u"TOrvantaMessageWindow", MessageWindowProc)) return nullptr;
  win::HWND h = win::CreateWindowExW(0, u"TOrvantaMessageWindow", u"", 0, 0, 0, 0, 0, win::HWND_MESSAGE, nullptr,
                                     win::GetModuleHandleW(nullptr), nullptr);
  if (!h) return nullptr;
  win::SetWindowLongPtrW(h, win::GWLP_USERDATA, reinterpret_cast<win::LONG_PTR>(new TWindowProcedure(std::move(aProcedure))));
  return h;
}

void MessageWindowDestroy(win::HWND aWindow) {
  if (!aWindow) return;
  auto* procedure = reinterpret_cast<TWindowProcedure*>(win::GetWindowLongPtrW(aWindow, win::GWLP_USERDATA));
  // Detached first: the window's last messages go to DefWindowProcW.
  win::SetWindowLongPtrW(aWindow, win::GWLP_USERDATA, 0);
  win::DestroyWindow(aWindow);
  delete procedure;
}
