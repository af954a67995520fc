// orvanta-logconsole: the live log console (docs/orvanta-logconsole.md).
//
//   orvanta-logconsole [--pipe NAME] [--json]
//
// Opens the pipe \\.\pipe\NAME (OrvantaLogConsole) and a top-level window titled "Log Console
// Redistributable", by which programs started afterwards know that a console runs, and prints
// the entries of every program connected to it as they arrive. Ends on Ctrl+C (or SIGTERM)
// with status 0; 1 for bad arguments, 2 when the pipe cannot be made.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "logtransport/LogEntryText.h"
#include "logtransport/LogPipeFormat.h"
#include "platform/utf.h"
#include "platform/win32api.h"

namespace {

const char16_t* const kWindowTitle = u"Log Console Redistributable";
const char16_t* const kWindowClass = u"OrvantaLogConsole";

std::atomic<bool> gStop{false};
void StopOnSignal(int) { gStop = true; }

bool StdoutIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return ::isatty(::fileno(stdout)) != 0;
#endif
}

struct TOptions {
  Text Pipe = u"OrvantaLogConsole";
  bool Json = false;
  bool Color = false;
};

// The colour an entry is shown in on a terminal: a coloured entry's own, else by kind.
std::string ColorStart(const TLogEntry& e) {
  switch (e.Kind) {
    case TLogEntryKind::Colored: {
      char b[32];
      std::snprintf(b, sizeof b, "\x1b[38;2;%u;%u;%um", e.Color & 0xFF, (e.Color >> 8) & 0xFF, (e.Color >> 16) & 0xFF);
      return b;
    }
    case TLogEntryKind::EnterProcess: return "\x1b[1;32m";
    case TLogEntryKind::LeaveProcess: return "\x1b[1;33m";
    case TLogEntryKind::Separator: return "\x1b[2m";
    default: return {};
  }
}

std::mutex gPrintLock;  // one entry's lines are never torn apart by another client's

void Print(const TOptions& o, const TLogEntry& e) {
  std::string out;
  if (o.Json) {
    out = LogEntryJson(e);
  } else {
    if (e.Kind == TLogEntryKind::EnterProcess || e.Kind == TLogEntryKind::LeaveProcess) {
      TLogEntry named = e;
      named.Text = e.AppName;  // which program came or went
      out = LogEntryLine(named);
    } else {
      out = LogEntryLine(e);
    }
    std::string color = o.Color ? ColorStart(e) : std::string();
    if (!color.empty()) out = color + out.substr(0, out.size() - 1) + "\x1b[0m\n";
  }
  std::lock_guard<std::mutex> lock(gPrintLock);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

// One connected program: its entries until it goes, its stream is damaged or the console ends.
void Serve(const TOptions& o, win::HANDLE aPipe, unsigned aClient) {
  TLogPipeReader reader;
  std::vector<unsigned char> buf(64 * 1024);
  for (;;) {
    win::DWORD n = 0;
    if (!win::ReadFile(aPipe, buf.data(), static_cast<win::DWORD>(buf.size()), &n, nullptr)) break;
    bool sound = reader.Push(buf.data(), n);
    TLogEntry e;
    while (reader.Next(e)) Print(o, e);
    if (!sound) {
      std::lock_guard<std::mutex> lock(gPrintLock);
      std::fprintf(stderr, "orvanta-logconsole: client %u dropped: %s\n", aClient, reader.Problem().c_str());
      break;
    }
  }
}

struct TClient {
  win::HANDLE Pipe;
  std::thread Thread;
};

int Usage(const char* aProblem) {
  if (aProblem) std::fprintf(stderr, "orvanta-logconsole: %s\n", aProblem);
  std::fprintf(aProblem ? stderr : stdout,
               "usage: orvanta-logconsole [--pipe NAME] [--json]\n"
               "  --pipe NAME  the pipe programs log to (default OrvantaLogConsole)\n"
               "  --json       one JSON object per entry and line\n");
  return aProblem ? 1 : 0;
}

// The console's window only shows that a console runs: everything is the default handling.
win::LRESULT ORV_WINAPI ConsoleWindowProc(win::HWND hWnd, win::UINT aMsg, win::WPARAM wParam, win::LPARAM lParam) {
  return win::DefWindowProcW(hWnd, aMsg, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  TOptions o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--json") o.Json = true;
    else if (a == "--pipe" && i + 1 < argc && *argv[i + 1]) o.Pipe = Utf8ToText(argv[++i]);
    else if (a == "--pipe") return Usage("--pipe needs a name");
    else if (a == "--help" || a == "-h") return Usage(nullptr);
    else return Usage(("unknown argument: " + a).c_str());
  }
  if (o.Pipe.find(u'\\') != Text::npos) return Usage("a pipe name has no backslash");
  o.Color = !o.Json && StdoutIsTerminal();
  const Text path = u"\\\\.\\pipe\\" + o.Pipe;

  std::signal(SIGINT, StopOnSignal);
  std::signal(SIGTERM, StopOnSignal);

  // The first instance is made before the window shows that a console runs.
  auto instanceNew = [&] {
    return win::CreateNamedPipeW(path.c_str(), win::PIPE_ACCESS_INBOUND, win::PIPE_TYPE_BYTE | win::PIPE_READMODE_BYTE | win::PIPE_WAIT,
                                 win::PIPE_UNLIMITED_INSTANCES, 64 * 1024, 64 * 1024, 0, nullptr);
  };
  win::HANDLE listening = instanceNew();
  if (listening == win::INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "orvanta-logconsole: cannot make the pipe %s (error %lu)\n", TextToUtf8(path).c_str(),
                 static_cast<unsigned long>(win::GetLastError()));
    return 2;
  }
  win::WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = ConsoleWindowProc;
  wc.hInstance = win::GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  win::RegisterClassExW(&wc);
  win::HWND window = win::CreateWindowExW(0, kWindowClass, kWindowTitle, win::WS_OVERLAPPED, 0, 0, 320, 200, nullptr,
                                          nullptr, wc.hInstance, nullptr);
  if (!window) {
    std::fprintf(stderr, "orvanta-logconsole: cannot make the window (error %lu)\n", static_cast<unsigned long>(win::GetLastError()));
    win::CloseHandle(listening);
    return 2;
  }
  std::fprintf(stderr, "orvanta-logconsole: listening on %s\n", TextToUtf8(path).c_str());

  // Ctrl+C only sets a flag; this thread then wakes the wait for a client by being one.
  std::thread waker([&] {
    while (!gStop) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    win::HANDLE self = win::CreateFileW(path.c_str(), win::GENERIC_WRITE, 0, nullptr, win::OPEN_EXISTING, 0, nullptr);
    if (self != win::INVALID_HANDLE_VALUE) win::CloseHandle(self);
  });

  std::vector<std::unique_ptr<TClient>> clients;
  unsigned served = 0;
  while (!gStop) {
    bool connected = win::ConnectNamedPipe(listening, nullptr) || win::GetLastError() == win::ERROR_PIPE_CONNECTED;
    if (gStop) break;
    win::HANDLE next = instanceNew();  // at once, so that the next program finds a free instance
    if (connected) {
      auto c = std::make_unique<TClient>();
      c->Pipe = listening;
      c->Thread = std::thread(Serve, std::cref(o), listening, ++served);
      clients.push_back(std::move(c));
    } else {
      win::CloseHandle(listening);
    }
    if (next == win::INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "orvanta-logconsole: cannot make a pipe instance (error %lu)\n",
                   static_cast<unsigned long>(win::GetLastError()));
      gStop = true;
      listening = nullptr;
      break;
    }
    listening = next;
  }
  waker.join();
  if (listening) win::CloseHandle(listening);
  // Disconnecting ends each client's pending read.
  for (auto& c : clients) win::DisconnectNamedPipe(c->Pipe);
  for (auto& c : clients) {
    c->Thread.join();
    win::CloseHandle(c->Pipe);
  }
  win::DestroyWindow(window);
  std::fflush(stdout);
  std::fprintf(stderr, "orvanta-logconsole: ended\n");
  return 0;
}
