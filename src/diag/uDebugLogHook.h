// The one way a unit below the debug facility writes a log line.
//
// The file operations log their moves before the debug facility exists (and in programs
// that never start it). They hand each line to DebugLogWrite, which passes it to a
// replaceable process-wide hook; the debug facility installs itself as the hook when it
// comes up and removes itself when it goes down. Without a hook the line goes to the
// debugger output.
#pragma once

#include <functional>

#include "platform/win32api_types.h"

using TDebugLogHook = std::function<void(const Text&)>;

// Installs aHook (an empty hook restores the default) and returns the one it replaces, so
// that a caller can put it back.
TDebugLogHook DebugLogHookSet(TDebugLogHook aHook);

// Hands aText to the hook, on the calling thread. The caller's last Windows error is the
// same afterwards, so that a line can be written between a call and the reading of its error.
void DebugLogWrite(const Text& aText);
