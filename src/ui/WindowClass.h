// Window classes of the UI class library and the guard around its window procedures.
#pragma once

#include <functional>

#include "platform/win32api.h"

// Registers a window class of this program once; true when it is (or already was) there.
// aBackground: the brush that paints it (a system colour index + 1), none when null.
bool WindowClassEnsure(const Text& aName, win::WNDPROC aProcedure, win::HBRUSH aBackground = nullptr);

// Runs the body of a window procedure; an exception that leaves it goes to
// Application->HandleException (an exception must never unwind through the system's code)
// and the message's result is then 0.
win::LRESULT WindowProcedureGuarded(const std::function<win::LRESULT()>& aBody);
