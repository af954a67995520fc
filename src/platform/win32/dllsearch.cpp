// The process's DLL search restricted to the system folder, before anything loads a DLL.
//
// The installer runs from a downloads folder, elevated. Windows looks for a DLL loaded by
// name (ours, or one a system DLL loads late, such as a theme or a crypto helper) in the
// program's folder and the current folder before the system folder; a DLL planted there would
// run inside the installer. The executable imports known DLLs only; this start-up object
// covers every DLL loaded later, and runs before every other unit's start-up.
#include "platform/win32api.h"

#include <windows.h>

#include "rtl/ModuleInit.h"

namespace win {
namespace {

struct TDllSearchRestrict {
  TDllSearchRestrict() {
    // Windows 8 and later, and Windows 7 with the search-flags update (KB2533623): look it
    // up, so that Windows 7 without the update still starts. kernel32 is mapped in every
    // process; GetModuleHandleW loads nothing.
    using TSetDefaultDllDirectories = ::BOOL(WINAPI*)(::DWORD);
    ::HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto setDefault = kernel ? reinterpret_cast<TSetDefaultDllDirectories>(reinterpret_cast<void*>(
                                   ::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                             : nullptr;
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // At least the current folder out of the search. The program's own folder stays in it:
    // every system DLL we load ourselves is loaded by its full path (systemdll.h).
    ::SetDllDirectoryW(L"");
  }
};

// 101: the first priority a program may use (up to 100 belong to the compiler's runtime).
TDllSearchRestrict DllSearchRestrict ORV_UNIT_INIT(101);

}  // namespace
}  // namespace win
