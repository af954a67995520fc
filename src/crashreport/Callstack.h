// Call stacks of the process's threads, as the crash reporter delivers them: frames with
// module, unit, line and routine, innermost first.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32api_types.h"

struct TCallstackFrame {
  std::uintptr_t Address = 0;        // code address (of the call, for a return address)
  std::uintptr_t RoutineOffset = 0;  // address relative to the routine's entry
  Text ModuleName;                   // file name of the module (e.g. "diag_tests", "Setup.exe")
  Text UnitName;                     // source file name without folder and extension ("uMisc"), "" if unknown
  int Line = 0;                      // source line, 0 if unknown
  int LineOffset = 0;                // Line minus the routine's first line (its declaration line)
  Text RoutineName;                  // "TClass.Method" for methods, "Routine" for free functions
};
using TCallstack = std::vector<TCallstackFrame>;

// Innermost first. iSkip drops that many innermost frames beyond the capture routine itself.
// A routine the compiler inlined is a frame of its own, before the one it was inlined into.
TCallstack CallstackOfCurrentThread(int iSkip = 0);
// Another thread of this process by its id (win::GetCurrentThreadId numbering); empty when the
// thread does not exist or cannot be sampled. The own id gives the own stack.
TCallstack CallstackOfThread(win::DWORD aThreadId);
// The crash reporter's own plain text of a stack, one frame a line (lines joined by "\r\n"):
// address, module, unit and line, routine and line offset, as far as they are known.
Text CallstackToPlainText(const TCallstack& aStack);
// The ids of the process's threads, in the order the system lists them.
std::vector<win::DWORD> ProcessThreadIdsGet();
