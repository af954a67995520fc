// Hidden message-only windows of the main thread, for components that need messages without
// a window of their own on the screen (timers; the services' message windows).
#pragma once

#include <functional>

#include "platform/win32api.h"

// Answers one message; messages it leaves alone go to DefWindowProcW.
using TWindowProcedure =
    std::function<win::LRESULT(win::HWND aWindow, win::UINT aMessage, win::WPARAM aWParam, win::LPARAM aLParam)>;

// A message-only window (FindWindowW does not see it) whose messages aProcedure answers. An
// exception that leaves aProcedure goes to Application->HandleException, never through the
// system's code. Null when the system refuses the window (the last error says why).
win::HWND MessageWindowCreate(TWindowProcedure aProcedure);
// Destroys a window made by MessageWindowCreate; null is fine.
void MessageWindowDestroy(win::HWND aWindow);
