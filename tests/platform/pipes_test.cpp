// Named pipes, as both backends answer them: a client meets a server instance, both ends read
// and write, a busy or missing pipe and a gone peer give Windows' errors.
#include <string>
#include <thread>

#include "TestSupport.h"

using namespace win;

namespace {

// Names unique to this run: under Wine every program of the session shares the namespace.
Text PipePath(const char* aBase) {
  return T(std::string("\\\\.\\pipe\\orvanta-test-") + aBase + "-" + std::to_string(GetCurrentProcessId()));
}

HANDLE ServerNew(const Text& aPath, DWORD aMaxInstances, DWORD aOpenMode = PIPE_ACCESS_DUPLEX) {
  return CreateNamedPipeW(aPath.c_str(), aOpenMode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, aMaxInstances,
                          4096, 4096, 0, nullptr);
}
HANDLE ClientOpen(const Text& aPath) {
  return CreateFileW(aPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool Send(HANDLE h, const std::string& aData) {
  DWORD n = 0;
  return WriteFile(h, aData.data(), static_cast<DWORD>(aData.size()), &n, nullptr) && n == aData.size();
}
// Reads until aSize bytes came; what came (less on an error).
std::string Receive(HANDLE h, size_t aSize) {
  std::string r;
  char buf[256];
  while (r.size() < aSize) {
    DWORD n = 0;
    if (!ReadFile(h, buf, static_cast<DWORD>(std::min(sizeof buf, aSize - r.size())), &n, nullptr)) break;
    r.append(buf, n);
  }
  return r;
}

}  // namespace

TEST(NamedPipes, WithoutAServerThereIsNoPipe) {
  const Text path = PipePath("none");
  SetLastError(0);
  EXPECT_EQ(ClientOpen(path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(WaitNamedPipeW(path.c_str(), 10));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(NamedPipes, AClientAndAServerTalkBothWaysWhileOthersFindItBusy) {
  const Text path = PipePath("talk");
  HANDLE server = ServerNew(path, 1);
  ASSERT_NE(server, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(WaitNamedPipeW(path.c_str(), 1000)) << "a new instance is free";
  // A second instance is refused by the limit of one.
  EXPECT_EQ(ServerNew(path, 1), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);

  HANDLE client = ClientOpen(path);
  ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
  // The client came before the server asked for one.
  EXPECT_FALSE(ConnectNamedPipe(server, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PIPE_CONNECTED);

  EXPECT_TRUE(Send(client, "hello, server"));
  EXPECT_EQ(Receive(server, 13), "hello, server");
  EXPECT_TRUE(Send(server, "hello, client"));
  EXPECT_EQ(Receive(client, 13), "hello, client");
  EXPECT_TRUE(FlushFileBuffers(client));

  // Its only instance is taken: busy, and a wait for it times out.
  EXPECT_EQ(ClientOpen(path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);
  EXPECT_FALSE(WaitNamedPipeW(path.c_str(), 50));
  EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT);

  // The client goes: the server reads a broken pipe, disconnects, and the instance is free again.
  EXPECT_TRUE(CloseHandle(client));
  char c;
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(server, &c, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
  EXPECT_TRUE(DisconnectNamedPipe(server));
  // Disconnected, the instance takes no client until the server connects it again.
  EXPECT_EQ(ClientOpen(path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);
  std::thread again([&] { ConnectNamedPipe(server, nullptr); });
  client = INVALID_HANDLE_VALUE;
  for (int i = 0; i < 100 && client == INVALID_HANDLE_VALUE; ++i) {
    WaitNamedPipeW(path.c_str(), 100);
    client = ClientOpen(path);
  }
  again.join();
  ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(CloseHandle(client));
  EXPECT_TRUE(CloseHandle(server));
}

TEST(NamedPipes, ConnectWaitsForAClientAndTheServersEndIsABrokenPipeToIt) {
  const Text path = PipePath("wait");
  HANDLE server = ServerNew(path, PIPE_UNLIMITED_INSTANCES, PIPE_ACCESS_INBOUND);
  ASSERT_NE(server, INVALID_HANDLE_VALUE) << GetLastError();
  // Connected either way: the client comes while it waits, or (ERROR_PIPE_CONNECTED) before.
  bool connected = false;
  std::thread waiter([&] { connected = ConnectNamedPipe(server, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED; });
  HANDLE client = INVALID_HANDLE_VALUE;
  // The instance may not listen yet when the thread starts: the client waits for it.
  for (int i = 0; i < 100 && client == INVALID_HANDLE_VALUE; ++i) {
    WaitNamedPipeW(path.c_str(), 100);
    client = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
  waiter.join();
  EXPECT_TRUE(connected);
  // An inbound instance: the server only reads.
  EXPECT_FALSE(Send(server, "x"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Send(client, "abc"));
  EXPECT_EQ(Receive(server, 3), "abc");

  EXPECT_TRUE(CloseHandle(server));
  EXPECT_FALSE(Send(client, "gone"));
  EXPECT_EQ(GetLastError(), ERROR_NO_DATA);
  EXPECT_TRUE(CloseHandle(client));
}
