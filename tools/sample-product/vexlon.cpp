// The stand-in for the product's core executable, Vexlon.exe, in the sample product: it does
// nothing but record how it was started, so that a demo or a test can see what the installer
// ran. Each start appends one line, the process's command line as GetCommandLineW gives it
// (UTF-8, CR LF), to
//     <common application data>\Orvanta\Vexlon-starts.txt     (C:\ProgramData\Orvanta\...)
// and exits with 0; when the line cannot be recorded it says why on standard error and exits
// with 1.
#include <cstdio>
#include <string>

#include "platform/utf.h"
#include "platform/win32api.h"

namespace {

bool Fail(const char* aWhat) {
  std::fprintf(stderr, "Vexlon: %s (error %lu)\n", aWhat, static_cast<unsigned long>(win::GetLastError()));
  return false;
}

bool StartRecord() {
  win::WCHAR buf[win::MAX_PATH + 1];
  if (!win::SHGetSpecialFolderPathW(nullptr, buf, win::CSIDL_COMMON_APPDATA, win::FALSE))
    return Fail("no common application data folder");
  const Text folder = Text(buf) + u"\\Orvanta";
  if (!win::CreateDirectoryW(folder.c_str(), nullptr) && win::GetLastError() != win::ERROR_ALREADY_EXISTS)
    return Fail("cannot create the record folder");
  const Text path = folder + u"\\Vexlon-starts.txt";
  // Shared for reading and writing: starts that overlap each add their own line.
  win::HANDLE h = win::INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == win::INVALID_HANDLE_VALUE; ++attempt) {
    h = win::CreateFileW(path.c_str(), win::GENERIC_WRITE, win::FILE_SHARE_READ, nullptr, win::OPEN_ALWAYS,
                         win::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == win::INVALID_HANDLE_VALUE && win::GetLastError() != win::ERROR_SHARING_VIOLATION) break;
    if (h == win::INVALID_HANDLE_VALUE) win::Sleep(10);
  }
  if (h == win::INVALID_HANDLE_VALUE) return Fail("cannot open the record");
  const std::string line = TextToUtf8(Text(win::GetCommandLineW())) + "\r\n";
  win::DWORD written = 0;
  bool ok = win::SetFilePointer(h, 0, nullptr, win::FILE_END) != win::INVALID_SET_FILE_POINTER &&
            win::WriteFile(h, line.data(), static_cast<win::DWORD>(line.size()), &written, nullptr) &&
            written == line.size();
  if (!ok) Fail("cannot write the record");
  win::CloseHandle(h);
  return ok;
}

}  // namespace

int main() { return StartRecord() ? 0 : 1; }
