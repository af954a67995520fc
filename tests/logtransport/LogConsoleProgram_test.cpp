// A program of ours logs to orvanta-logconsole.exe over a real named pipe: the console is
// started, found by its window's title, and shows what the program's transport sends.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "logtransport/LogTransport.h"

#ifdef _WIN32
namespace {

constexpr win::DWORD kStartfUseStdHandles = 0x00000100;

// What a file holds now, read while another process writes it.
std::string SharedRead(const Text& aPath) {
  win::HANDLE h = win::CreateFileW(aPath.c_str(), win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, nullptr,
                                   win::OPEN_EXISTING, 0, nullptr);
  if (h == win::INVALID_HANDLE_VALUE) return {};
  std::string r;
  char buf[4096];
  win::DWORD n = 0;
  while (win::ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) r.append(buf, n);
  win::CloseHandle(h);
  return r;
}

}  // namespace
#endif

TEST(LogConsoleProgram, AProgramLogsToTheConsoleOverARealPipe) {
#ifndef _WIN32
  GTEST_SKIP() << "on the simulated machine the scenario tests run the console (tests/scenario/logconsole_test.cpp)";
#else
  std::vector<win::WCHAR> self(32768);
  Text exe(self.data(), win::GetModuleFileNameW(nullptr, self.data(), static_cast<win::DWORD>(self.size())));
  exe = exe.substr(0, exe.find_last_of(u'\\'));
  exe = exe.substr(0, exe.find_last_of(u'\\')) + u"\\orvanta-logconsole.exe";
  const Text pipe = T("orvanta-test-console-" + std::to_string(win::GetCurrentProcessId()));
  const Text out = testsupport::ScratchFolder() + u"\\console.jsonl";

  win::SECURITY_ATTRIBUTES inherit{sizeof(win::SECURITY_ATTRIBUTES), nullptr, win::TRUE};
  win::HANDLE outHandle = win::CreateFileW(out.c_str(), win::GENERIC_WRITE, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE,
                                           &inherit, win::CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(outHandle, win::INVALID_HANDLE_VALUE);
  win::STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = kStartfUseStdHandles;
  si.hStdOutput = outHandle;
  si.hStdError = outHandle;
  win::PROCESS_INFORMATION pi{};
  Text commandLine = u"\"" + exe + u"\" --json --pipe " + pipe;
  ASSERT_TRUE(win::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, win::TRUE, 0, nullptr, nullptr, &si, &pi))
      << win::GetLastError();
  win::CloseHandle(outHandle);

  // Its window says that it runs, as a program looks for it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!win::FindWindowW(nullptr, u"Log Console Redistributable") && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_NE(win::FindWindowW(nullptr, u"Log Console Redistributable"), nullptr);

  {
    TLogTransport transport(u"LogConsoleTest.exe");
    transport.ConnectionsSet(u"pipe(pipename=\"" + pipe + u"\", async.enabled=\"true\")");
    transport.EnabledSet(true);
    TLogChannel channel(transport, u"Main");
    channel.EnterProcess();
    channel.LogMessage(u"[Test] one\r\ntwo lines");
    channel.LogColored(0x0000FF, u"red");
    transport.Close();
  }
  std::string shown;
  while (shown.find("\"text\":\"red\"") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    shown = SharedRead(out);
  }
  win::TerminateProcess(pi.hProcess, 0);
  win::WaitForSingleObject(pi.hProcess, 10000);
  win::CloseHandle(pi.hThread);
  win::CloseHandle(pi.hProcess);

  const std::string pid = "\"process\":" + std::to_string(win::GetCurrentProcessId());
  EXPECT_NE(shown.find(pid + ",\"thread\":"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\"app\":\"LogConsoleTest.exe\",\"channel\":\"Main\",\"kind\":\"enter-process\""), std::string::npos)
      << shown;
  EXPECT_NE(shown.find("\"kind\":\"message\",\"color\":0,\"text\":\"[Test] one\\r\\ntwo lines\"}"), std::string::npos)
      << shown;
  EXPECT_NE(shown.find("\"kind\":\"colored\",\"color\":255,\"text\":\"red\"}"), std::string::npos) << shown;
#endif
}
