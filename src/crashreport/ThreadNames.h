// The crash reporter's register of thread display names: problem reports and call-stack
// dumps show a thread by the name recorded here under its id. Safe from any thread, also
// while the process starts up and ends.
#pragma once

#include <utility>
#include <vector>

#include "platform/win32api_types.h"

// Records (or, with an empty name, forgets) the display name of a thread.
void ThreadNameSet(win::DWORD aThreadId, const Text& aName);
// The name recorded for the thread; empty when none is.
Text ThreadNameGet(win::DWORD aThreadId);
void ThreadNameRemove(win::DWORD aThreadId);
// Every recorded (id, name), by id.
std::vector<std::pair<win::DWORD, Text>> ThreadNamesGet();
