// A helper program that logs to the log console through the framework's log transport.
//   logconsole_client CONNECTIONS COUNT [DELAY_MS]
// Logs the entries "entry n" (n = 0 .. COUNT-1) on the channel "Main", DELAY_MS apart, then a
// coloured entry "done" (0x0000FF, red), and returns.
//   logconsole_client --raw PIPENAME BYTES
// Writes BYTES as they are into \\.\pipe\PIPENAME, as a program that is not ours would;
// status 3 when the pipe cannot be opened.
#include <cstdlib>
#include <string>

#include "logtransport/LogTransport.h"
#include "platform/utf.h"
#include "platform/win32api.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (std::string(argv[1]) == "--raw" && argc > 3) {
    const Text path = u"\\\\.\\pipe\\" + Utf8ToText(argv[2]);
    win::HANDLE h = win::CreateFileW(path.c_str(), win::GENERIC_WRITE, 0, nullptr, win::OPEN_EXISTING, 0, nullptr);
    if (h == win::INVALID_HANDLE_VALUE) return 3;
    const std::string bytes = argv[3];
    win::DWORD written = 0;
    win::WriteFile(h, bytes.data(), static_cast<win::DWORD>(bytes.size()), &written, nullptr);
    win::CloseHandle(h);
    return 0;
  }
  const int count = std::atoi(argv[2]);
  const int delay = argc > 3 ? std::atoi(argv[3]) : 0;
  TLogTransport* transport = LogTransportGet();
  transport->ConnectionsSet(Utf8ToText(argv[1]));
  transport->EnabledSet(true);
  LogChannelMainGet()->EnterProcess();
  for (int n = 0; n < count; ++n) {
    LogChannelMainGet()->LogMessage(T("entry " + std::to_string(n)));
    if (delay) win::Sleep(static_cast<win::DWORD>(delay));
  }
  LogChannelMainGet()->LogColored(0x0000FF, u"done");
  LogChannelMainGet()->LeaveProcess();
  return 0;
}
