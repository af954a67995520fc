// The timer of the UI class library: calls OnTimer every Interval milliseconds while it is
// enabled, from the message loop of the thread that made it.
#pragma once

#include "platform/win32api.h"
#include "ui/Component.h"

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* aOwner);
  ~TTimer() override;

  // 1000 ms and enabled unless set otherwise; a timer runs only with an interval above 0,
  // enabled, and with a handler. Each change starts the interval anew.
  bool EnabledGet() const { return FEnabled; }
  void EnabledSet(bool bEnabled);
  win::UINT IntervalGet() const { return FInterval; }
  void IntervalSet(win::UINT aInterval);
  const TNotifyEvent& OnTimerGet() const { return FOnTimer; }
  void OnTimerSet(TNotifyEvent aHandler);

 private:
  // Sets or kills the system's timer to match the properties; raises Exception when the
  // system has no timer left.
  void UpdateTimer();

  bool FEnabled = true;
  win::UINT FInterval = 1000;
  TNotifyEvent FOnTimer;
  win::HWND FWindow = nullptr;
};
