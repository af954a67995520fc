#include "ui/Timer.h"

#include <utility>

#include "rtl/Exception.h"
#include "ui/MessageWindow.h"

namespace {
constexpr win::UINT_PTR kTimerId = 1;
}  // namespace

TTimer::TTimer(TComponent* aOwner) : TComponent(aOwner) {
  FWindow = MessageWindowCreate([this](win::HWND hWnd, win::UINT aMsg, win::WPARAM wParam, win::LPARAM lParam) {
    if (aMsg == win::WM_TIMER && wParam == kTimerId) {
      // A copy: the handler may replace itself, or free the timer.
      TNotifyEvent handler = FOnTimer;
      if (handler && FEnabled) handler(this);
      return win::LRESULT(0);
    }
    return win::DefWindowProcW(hWnd, aMsg, wParam, lParam);
  });
  if (!FWindow) throw Exception(u"Not enough timers available");
}

TTimer::~TTimer() {
  FEnabled = false;
  if (FWindow) win::KillTimer(FWindow, kTimerId);
  MessageWindowDestroy(FWindow);
}

void TTimer::EnabledSet(bool bEnabled) {
  if (FEnabled == bEnabled) return;
  FEnabled = bEnabled;
  UpdateTimer();
}

void TTimer::IntervalSet(win::UINT aInterval) {
  if (FInterval == aInterval) return;
  FInterval = aInterval;
  UpdateTimer();
}

void TTimer::OnTimerSet(TNotifyEvent aHandler) {
  FOnTimer = std::move(aHandler);
  UpdateTimer();
}

void TTimer::UpdateTimer() {
  win::KillTimer(FWindow, kTimerId);
  if (FInterval != 0 && FEnabled && FOnTimer) {
    if (!win::SetTimer(FWindow, kTimerId, FInterval, nullptr)) throw Exception(u"Not enough timers available");
  }
}
