// The console's pipe: the wire format read back in any pieces, damaged streams refused, and the
// pipe output against a console of the test's own that comes and goes.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "logtransport/LogPipeFormat.h"
#include "logtransport/LogPipeOutput.h"

namespace {

TLogEntryView View(TLogEntryKind aKind, std::uint32_t aColor, TextView aText) {
  TLogEntryView e;
  e.Time = 133000000000000000ull;
  e.ProcessId = 4312;
  e.ThreadId = 7;
  e.Kind = aKind;
  e.Color = aColor;
  e.AppName = u"Setup.exe";
  e.Channel = u"Main";
  e.Content = aText;
  return e;
}

// A stream as a writer sends it: the hello, then one frame per group of entries.
std::string Stream(const std::vector<std::vector<TLogEntryView>>& aFrames) {
  logfile::TByteBuffer out, payload;
  logpipe::HelloAppend(out);
  for (const auto& frame : aFrames) {
    payload.Clear();
    for (const auto& e : frame) logfile::EntryAppend(payload, e);
    logpipe::FrameAppend(out, payload.Data(), payload.Size());
  }
  return std::string(reinterpret_cast<const char*>(out.Data()), out.Size());
}

std::vector<std::string> Texts(TLogPipeReader& r) {
  std::vector<std::string> texts;
  TLogEntry e;
  while (r.Next(e)) texts.push_back(std::string(LogEntryKindName(e.Kind)) + " " + TextToUtf8(e.Text));
  return texts;
}

}  // namespace

TEST(LogPipeReader, ReadsTheSameEntriesInPiecesOfAnySize) {
  const std::string stream = Stream({{View(TLogEntryKind::EnterProcess, 0, u""), View(TLogEntryKind::Message, 0, u"a\r\nb")},
                                     {View(TLogEntryKind::Colored, 0xFF, u"\u00e9t\u00e9")}});
  const std::vector<std::string> expected = {"enter-process ", "message a\r\nb", "colored \xc3\xa9t\xc3\xa9"};
  for (size_t piece : {stream.size(), size_t(1), size_t(5)}) {
    SCOPED_TRACE(piece);
    TLogPipeReader r;
    for (size_t at = 0; at < stream.size(); at += piece)
      ASSERT_TRUE(r.Push(reinterpret_cast<const unsigned char*>(stream.data()) + at, std::min(piece, stream.size() - at)));
    EXPECT_EQ(Texts(r), expected);
  }
}

TEST(LogPipeReader, RefusesADamagedStreamAfterItsWholeFrames) {
  const std::string good = Stream({{View(TLogEntryKind::Message, 0, u"first")}});
  std::string badKind = Stream({{View(TLogEntryKind::Message, 0, u"x")}});
  badKind[logpipe::kHelloSize + logpipe::kFrameHeaderSize + 20] = 9;
  struct Case {
    const char* Name;
    std::string Bytes;
    const char* Problem;
    size_t Entries;
  };
  const Case cases[] = {
      {"not ours", "GET / HTTP/1.0\r\n\r\n", "not a log console client", 0},
      {"another version", std::string(good).replace(8, 1, "\x02"), "not a log console client", 0},
      {"empty frame", good + std::string(4, '\0'), "frame length out of range", 1},
      {"frame too long", good + std::string("\x01\x00\x10\x00", 4), "frame length out of range", 1},
      {"unknown kind", badKind, "malformed entry", 0},
      {"entry cut inside its frame", good + std::string("\x05\x00\x00\x00", 4) + "abcde", "malformed entry", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TLogPipeReader r;
    EXPECT_FALSE(r.Push(reinterpret_cast<const unsigned char*>(c.Bytes.data()), c.Bytes.size()));
    EXPECT_EQ(r.Problem(), c.Problem);
    EXPECT_EQ(Texts(r).size(), c.Entries);
    // Nothing more is taken.
    EXPECT_FALSE(r.Push(reinterpret_cast<const unsigned char*>(good.data()), good.size()));
  }
}

namespace {

// A console of the test's own: one instance at a time, entries gathered as they come.
class TTestConsole {
 public:
  explicit TTestConsole(const Text& aName) : FPath(u"\\\\.\\pipe\\" + aName) {
    FPipe = win::CreateNamedPipeW(FPath.c_str(), win::PIPE_ACCESS_INBOUND, win::PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
    EXPECT_NE(FPipe, win::INVALID_HANDLE_VALUE) << win::GetLastError();
    FThread = std::thread([this] {
      if (!win::ConnectNamedPipe(FPipe, nullptr) && win::GetLastError() != win::ERROR_PIPE_CONNECTED) return;
      unsigned char buf[4096];
      win::DWORD n = 0;
      while (win::ReadFile(FPipe, buf, sizeof buf, &n, nullptr)) {
        std::lock_guard<std::mutex> lock(FLock);
        FReader.Push(buf, n);
      }
    });
  }
  ~TTestConsole() { End(); }
  // The console ends: its instance goes, the client's end breaks.
  void End() {
    if (FPipe == nullptr) return;
    // A console still waiting for its client is woken by one that leaves at once; one with a
    // client ends the connection.
    win::HANDLE wake = win::CreateFileW(FPath.c_str(), win::GENERIC_WRITE, 0, nullptr, win::OPEN_EXISTING, 0, nullptr);
    if (wake != win::INVALID_HANDLE_VALUE) win::CloseHandle(wake);
    else win::DisconnectNamedPipe(FPipe);
    if (FThread.joinable()) FThread.join();
    win::DisconnectNamedPipe(FPipe);
    win::CloseHandle(FPipe);
    FPipe = nullptr;
  }
  // The texts received so far, once at least aCount came (or 10 s passed).
  std::vector<std::string> Received(size_t aCount) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(FLock);
        for (TLogEntry e; FReader.Next(e);) FTexts.push_back(TextToUtf8(e.Text));
        if (FTexts.size() >= aCount || std::chrono::steady_clock::now() > deadline) return FTexts;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

 private:
  Text FPath;
  win::HANDLE FPipe = nullptr;
  std::thread FThread;
  std::mutex FLock;
  TLogPipeReader FReader;
  std::vector<std::string> FTexts;
};

Text UniqueName(const char* aBase) {
  return T(std::string("orvanta-test-") + aBase + "-" + std::to_string(win::GetCurrentProcessId()));
}

TLogConnection PipeConnection(const Text& aName, bool bReconnect) {
  TLogConnection c;
  c.PipeName = aName;
  c.Reconnect = bReconnect;
  c.ReconnectIntervalMs = 100;
  return c;
}

void Log(TLogPipeOutput& aOutput, TextView aText) {
  aOutput.Write(View(TLogEntryKind::Message, 0, aText));
  aOutput.BatchEnd();
}

}  // namespace

TEST(LogPipeOutput, ReconnectsToAConsoleThatStartsLaterOrAgain) {
  const Text name = UniqueName("reconnect");
  TLogPipeOutput out(PipeConnection(name, true));
  // No console: dropped at once, and the program's last error stays its own.
  win::SetLastError(1234);
  Log(out, u"nobody hears this");
  EXPECT_EQ(win::GetLastError(), 1234u);
  EXPECT_FALSE(out.ConnectedGet());
  {
    TTestConsole console(name);
    Log(out, u"too soon: within the interval of the last attempt");
    win::Sleep(150);
    Log(out, u"one");
    Log(out, u"two");
    EXPECT_EQ(console.Received(2), (std::vector<std::string>{"one", "two"}));
    console.End();
  }
  // Started again: the next entry finds the pipe broken and connects to the new console at once.
  TTestConsole again(name);
  Log(out, u"three");
  EXPECT_EQ(again.Received(1), (std::vector<std::string>{"three"}));
  out.Close();
}

TEST(LogPipeOutput, WithoutReconnectItGivesUpWhenItsConsoleGoes) {
  const Text name = UniqueName("once");
  TTestConsole first(name);
  TLogPipeOutput out(PipeConnection(name, false));
  Log(out, u"one");
  EXPECT_EQ(first.Received(1), (std::vector<std::string>{"one"}));
  first.End();
  Log(out, u"lost");
  TTestConsole second(name);
  win::Sleep(150);
  Log(out, u"also lost");
  out.Close();
  second.End();
  EXPECT_TRUE(second.Received(0).empty());
}

TEST(LogPipeOutput, CutsAnEntryTooLargeForAFrame) {
  const Text name = UniqueName("large");
  TTestConsole console(name);
  TLogPipeOutput out(PipeConnection(name, false));
  const Text huge(3 * logpipe::kFramePayloadMax, u'x');
  Log(out, huge);
  Log(out, u"after");
  const auto got = console.Received(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_GT(got[0].size(), logpipe::kFramePayloadMax / 4);
  EXPECT_LE(got[0].size(), logpipe::kFramePayloadMax);
  EXPECT_EQ(got[1], "after");
}
