// System DLLs that are not known DLLs (version.dll, dbghelp.dll, ...), loaded at run time
// from the system folder alone (Windows build only).
//
// The loader looks for an imported DLL beside the executable before it looks in the system
// folder, unless the DLL is one of the known DLLs it maps from its own section. The installer
// is started from a downloads folder, elevated: a DLL planted there must never be loaded.
// So the executable imports known DLLs only, and everything else comes through here.
#pragma once

#include <windows.h>

namespace win {

// Loads the DLL of this file name (no folder) from the system folder, by its full path, its
// own dependencies from the system folder too. Null (with the last error) when it cannot.
// The module stays loaded for the life of the process.
::HMODULE SystemDllLoad(const wchar_t* aFileName);

// The export aName of the system DLL aFileName as a function of type Fn; null when the DLL or
// the export is missing. Each call loads the DLL if needed: keep the result.
template <class Fn>
Fn SystemDllProc(const wchar_t* aFileName, const char* aName) {
  ::HMODULE m = SystemDllLoad(aFileName);
  if (!m) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m, aName)));
}

}  // namespace win
