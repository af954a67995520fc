// Windows of the simulated process, for the message queues (messages.cpp) and dialogs.
#pragma once

#include <optional>
#include <vector>

#include "platform/win32api.h"

namespace sim {

struct WindowTarget {
  win::WNDPROC Proc = nullptr;  // null: a system class (STATIC), answered by WindowSystemProc
  win::DWORD Thread = 0;        // the thread that created it and receives its messages
};

// The procedure and thread of one of this process's windows; nullopt for any other handle.
std::optional<WindowTarget> WindowTargetGet(win::HWND hWnd);
// What a system class does with a message (STATIC keeps its image).
win::LRESULT WindowSystemProc(win::HWND hWnd, win::UINT aMsg, win::WPARAM wParam, win::LPARAM lParam);

// This process's top-level windows (what a broadcast reaches).
std::vector<win::HWND> WindowsTopLevelGet();

// Forgets the timers and posted messages of a destroyed window (messages.cpp).
void MessagesWindowGone(win::HWND hWnd);

}  // namespace sim
