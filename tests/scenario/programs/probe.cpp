// A small program of the simulated machine for scenario tests. Without a command it prints
// what the process sees of itself ("key: value" lines) and exits with the code given as its
// first argument (0 without one). Commands:
//   move-later SOURCE [TARGET]   MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT (and
//                                MOVEFILE_REPLACE_EXISTING with a target)
//   write PATH TEXT              creates or replaces PATH with TEXT
//   save PATH TEXT [flush]       writes TEXT to PATH.new (flushed when asked), closes it,
//                                moves it over PATH, then reads PATH's attributes
//   extract SETUP FOLDER         the installer's InstallScriptLoad and FilesExtract of the
//                                payload of SETUP into FOLDER ("ERROR <text>" and 1 when a
//                                file failed or the script is missing)
// A command prints "OK" or "ERROR <code>" and exits with 0 or the error code.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "installer/uMain.h"
#include "platform/utf.h"
#include "platform/win32api.h"
#include "rtl/Exception.h"

namespace {

int Report(bool ok) {
  if (ok) {
    std::printf("OK\n");
    return 0;
  }
  unsigned long e = win::GetLastError();
  std::printf("ERROR %lu\n", e);
  return static_cast<int>(e & 0xFF);
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "move-later" && argc >= 3) {
    Text from = Utf8ToText(argv[2]);
    if (argc >= 4) {
      Text to = Utf8ToText(argv[3]);
      return Report(win::MoveFileExW(from.c_str(), to.c_str(), win::MOVEFILE_DELAY_UNTIL_REBOOT | win::MOVEFILE_REPLACE_EXISTING));
    }
    return Report(win::MoveFileExW(from.c_str(), nullptr, win::MOVEFILE_DELAY_UNTIL_REBOOT));
  }
  if (command == "write" && argc >= 4) {
    Text path = Utf8ToText(argv[2]);
    win::HANDLE h = win::CreateFileW(path.c_str(), win::GENERIC_WRITE, 0, nullptr, win::CREATE_ALWAYS,
                                     win::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == win::INVALID_HANDLE_VALUE) return Report(false);
    win::DWORD n = 0;
    bool ok = win::WriteFile(h, argv[3], static_cast<win::DWORD>(std::strlen(argv[3])), &n, nullptr);
    win::CloseHandle(h);
    return Report(ok);
  }
  if (command == "save" && argc >= 4) {
    const Text path = Utf8ToText(argv[2]);
    const Text aside = path + u".new";
    win::HANDLE h = win::CreateFileW(aside.c_str(), win::GENERIC_WRITE, 0, nullptr, win::CREATE_ALWAYS,
                                     win::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == win::INVALID_HANDLE_VALUE) return Report(false);
    win::DWORD n = 0;
    bool ok = win::WriteFile(h, argv[3], static_cast<win::DWORD>(std::strlen(argv[3])), &n, nullptr);
    if (ok && argc >= 5 && std::strcmp(argv[4], "flush") == 0) ok = win::FlushFileBuffers(h);
    ok = win::CloseHandle(h) && ok;
    ok = ok && win::MoveFileExW(aside.c_str(), path.c_str(), win::MOVEFILE_REPLACE_EXISTING);
    return Report(ok && win::GetFileAttributesW(path.c_str()) != win::INVALID_FILE_ATTRIBUTES);
  }
  if (command == "extract" && argc >= 4) {
    Text setup = Utf8ToText(argv[2]);
    win::HMODULE module = win::LoadLibraryExW(setup.c_str(), nullptr, win::LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return Report(false);
    try {
      TForm1 form;
      form.tmrExecute->EnabledSet(false);  // the extraction alone, not the installation sequence
      form.ResourceModule = module;
      form.InstallScriptLoad();
      if (!form.FilesExtract(TPath(Utf8ToText(argv[3])))) {
        std::printf("ERROR not every file was written\n");
        return 1;
      }
      std::printf("OK %d files\n", form.FilesList.Count());
      return 0;
    } catch (const Exception& e) {
      std::printf("ERROR %s\n", TextToUtf8(e.Message()).c_str());
      return 1;
    }
  }
  win::WCHAR image[win::MAX_PATH];
  win::DWORD n = win::GetModuleFileNameW(nullptr, image, win::MAX_PATH);
  std::printf("image: %s\n", TextToUtf8(Text(image, n)).c_str());
  std::printf("commandLine: %s\n", TextToUtf8(win::GetCommandLineW()).c_str());
  std::printf("pid: %lu\n", static_cast<unsigned long>(win::GetCurrentProcessId()));
  std::fflush(stdout);
  return argc > 1 ? std::atoi(argv[1]) : 0;
}
