// Call stacks of the process's own threads: capture and symbols. The crash reporter builds
// its frames from these; none of them is a Win32 function. Each backend uses what its host
// offers (the Linux build: an unwinder and the DWARF of the mapped files; the Windows build:
// the system's stack capture, thread suspension and dbghelp.dll loaded from the system
// folder).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32api_types.h"

namespace win {

// What the symbols say about one code address. Every field but Address may be empty or 0.
struct TStackFrameSymbol {
  std::uintptr_t Address = 0;
  std::uintptr_t RoutineOffset = 0;  // Address minus the entry of the routine's machine code
  Text ModulePath;                   // the file of the module (executable or library)
  Text SourcePath;                   // the source file as the debug information names it
  int Line = 0;                      // source line, 0 if unknown
  int DeclLine = 0;                  // the routine's first line (its declaration), 0 if unknown
  Text ClassName;                    // from debug information: the enclosing class, "" if none
  Text RoutineName;                  // from debug information: the unqualified routine name
  std::string SymbolName;            // the linker's symbol (often mangled), when the debug
                                     // information gave no routine name
};

// Not a Win32 function: the code addresses of the calling thread's stack, innermost first,
// without this function's own frame and without iSkip further frames. Return addresses are
// given as the address of the calling instruction's last byte (return address minus one), so
// that they symbolise to the line of the call.
std::vector<std::uintptr_t> StackAddressesOfCurrentThread(int iSkip);

// Not a Win32 function: the code addresses of another thread of this process (numbered as
// GetCurrentThreadId numbers them), innermost first, taken while that thread is stopped for
// a moment. Empty when the thread does not exist, has ended or does not answer within about
// a second. The calling thread's own id gives its own stack.
std::vector<std::uintptr_t> StackAddressesOfThread(DWORD aThreadId);

// Not a Win32 function: the symbols of one code address, innermost first: a routine that the
// compiler inlined comes before the routine it was inlined into, all with the same Address.
// Never empty: an address nothing is known of gives one entry with only Address set.
// Results are cached; safe from any thread.
std::vector<TStackFrameSymbol> AddressSymbolize(std::uintptr_t aAddress);

// Not a Win32 function: the ids of the process's threads, in the order the system lists them.
std::vector<DWORD> ThreadIdsOfProcess();

}  // namespace win
