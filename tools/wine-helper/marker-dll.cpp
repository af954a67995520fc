// A DLL that only says it was loaded: on attach it creates "<its own file>.loaded" holding the
// file name of the process that loaded it. Planted next to the installer under the names of
// DLLs the installer uses, it shows whether any of them was taken from the installer's folder.
#include <windows.h>

// Tells a program that loaded the DLL by name whether it got this one.
extern "C" __declspec(dllexport) int OrvantaMarker() { return 1; }

extern "C" BOOL WINAPI DllMain(HINSTANCE aInstance, DWORD aReason, LPVOID) {
  if (aReason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t self[MAX_PATH + 16] = {}, process[MAX_PATH] = {};
  DWORD n = ::GetModuleFileNameW(aInstance, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  lstrcatW(self, L".loaded");
  ::GetModuleFileNameW(nullptr, process, MAX_PATH);
  HANDLE h = ::CreateFileW(self, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(h, process, static_cast<DWORD>(lstrlenW(process) * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(h);
  }
  return TRUE;
}
