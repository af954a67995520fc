// A small program of the simulated machine for scenario tests: prints what the process
// sees of itself, one "key: value" line each, and exits with the code given as its first
// argument (0 without one).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/utf.h"
#include "platform/win32api.h"

int main(int argc, char** argv) {
  win::WCHAR image[win::MAX_PATH];
  win::DWORD n = win::GetModuleFileNameW(nullptr, image, win::MAX_PATH);
  std::printf("image: %s\n", TextToUtf8(Text(image, n)).c_str());
  std::printf("commandLine: %s\n", TextToUtf8(win::GetCommandLineW()).c_str());
  std::printf("pid: %lu\n", static_cast<unsigned long>(win::GetCurrentProcessId()));
  std::fflush(stdout);
  return argc > 1 ? std::atoi(argv[1]) : 0;
}
