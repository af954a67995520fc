// orvanta-logconsole on a simulated machine: programs that log to it while it comes and goes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "LogConsoleSupport.h"
#include "TestSupport.h"
#include "WinsimSupport.h"

namespace fs = std::filesystem;

namespace {

class LogConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FRoot = fs::temp_directory_path() / ("orvanta-logconsole-test-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FRoot);
    fs::create_directories(FRoot);
    FMachine = (FRoot / "m").string();
    ASSERT_EQ(WinsimRun("new '" + FMachine + "'", true).status, 0);
  }
  void TearDown() override {
    if (!::getenv("ORV_KEEP_MACHINE")) fs::remove_all(FRoot);
  }
  // The client's command: logs COUNT entries DELAY ms apart through aConnections.
  std::string Client(const std::string& aConnections, int aCount, int aDelay) {
    return "env -u WINSIM_MACHINE -u WINSIM_PID " WINSIM_EXE " run '" + FMachine + "' --real-clock -- " LOGCONSOLE_CLIENT_EXE
           " '" + aConnections + "' " + std::to_string(aCount) + " " + std::to_string(aDelay) + " 2>&1";
  }
  // The numbers n of the lines "... entry n" of a console's text output.
  static std::vector<int> Numbers(const std::string& aOutput) {
    std::vector<int> r;
    std::istringstream lines(aOutput);
    for (std::string line; std::getline(lines, line);) {
      size_t p = line.find(" entry ");
      if (p != std::string::npos) r.push_back(std::stoi(line.substr(p + 7)));
    }
    return r;
  }

  // The time (seconds since 1970, UTC) of the first line "... entry n" of a console's output.
  static double FirstTime(const std::string& aOutput) {
    std::istringstream lines(aOutput);
    for (std::string line; std::getline(lines, line);) {
      if (line.find(" entry ") == std::string::npos) continue;
      std::tm t{};
      double fraction = 0;
      if (std::sscanf(line.c_str(), "%d-%d-%d %d:%d:%d%lf", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                      &t.tm_sec, &fraction) != 7)
        return 0;
      t.tm_year -= 1900;
      t.tm_mon -= 1;
      return static_cast<double>(::timegm(&t)) + fraction;
    }
    return 0;
  }

  fs::path FRoot;
  std::string FMachine;
};

}  // namespace

TEST_F(LogConsoleTest, WithoutAConsoleNothingWaits) {
  // Each entry tries to connect (the interval is 1 ms); none may wait for a console.
  for (const char* connections : {"pipe(reconnect=true, reconnect.interval=1ms)", "pipe(async.enabled=true)", "pipe()"}) {
    SCOPED_TRACE(connections);
    const auto start = std::chrono::steady_clock::now();
    WinsimResult r = CommandRun(Client(connections, 300, 0));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  }
}

// The console stopped and started again while a program logs: the program goes on, and the new
// console gets its entries from the next attempt on, each console a gapless run.
TEST_F(LogConsoleTest, AProgramReconnectsToAConsoleStartedAgain) {
  auto first = std::make_unique<TLogConsoleRun>(FMachine, (FRoot / "first.txt").string());
  std::string clientOut;
  int clientStatus = -1;
  std::thread client([&] {
    WinsimResult r = CommandRun(Client("pipe(async.enabled=\"true\", reconnect=true, reconnect.interval=200ms)", 120, 25));
    clientOut = r.out;
    clientStatus = r.status;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  ASSERT_TRUE(first->Stop()) << first->Errors();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  TLogConsoleRun second(FMachine, (FRoot / "second.txt").string());
  const auto restarted = std::chrono::system_clock::now();
  client.join();
  ASSERT_TRUE(second.Stop()) << second.Errors();
  EXPECT_EQ(clientStatus, 0) << clientOut;

  const std::vector<int> a = Numbers(first->Output()), b = Numbers(second.Output());
  ASSERT_FALSE(a.empty()) << first->Output();
  ASSERT_FALSE(b.empty()) << second.Output();
  for (size_t i = 1; i < a.size(); ++i) EXPECT_EQ(a[i], a[i - 1] + 1);
  for (size_t i = 1; i < b.size(); ++i) EXPECT_EQ(b[i], b[i - 1] + 1);
  EXPECT_EQ(a.front(), 0);
  EXPECT_EQ(b.back(), 119);
  EXPECT_NE(second.Output().find("done"), std::string::npos);
  // The first entry the second console got was logged within the interval (and an entry's delay,
  // and slack for a loaded machine) of its start.
  const double restart = std::chrono::duration<double>(restarted.time_since_epoch()).count();
  EXPECT_LT(FirstTime(second.Output()) - restart, 0.2 + 0.025 + 1.0);
}

// A stream that is not ours is dropped with a message; the console serves the others on.
TEST_F(LogConsoleTest, AClientThatSendsGarbageIsDroppedAlone) {
  TLogConsoleRun console(FMachine, (FRoot / "console.txt").string());
  WinsimResult garbage = CommandRun("env -u WINSIM_MACHINE -u WINSIM_PID " WINSIM_EXE " run '" + FMachine +
                                    "' -- " LOGCONSOLE_CLIENT_EXE " --raw OrvantaLogConsole 'GET / HTTP/1.0' 2>&1");
  ASSERT_EQ(garbage.status, 0) << garbage.out;
  WinsimResult r = CommandRun(Client("pipe()", 3, 0));
  EXPECT_EQ(r.status, 0) << r.out;
  // The client is done; the console prints what it read in its own time (a loaded machine
  // may take a while), and only then is stopped.
  for (int i = 0; i < 1000 && Numbers(console.Output()).size() < 3; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(console.Stop()) << console.Errors();
  EXPECT_EQ(Numbers(console.Output()), (std::vector<int>{0, 1, 2}));
  EXPECT_NE(console.Errors().find("client 1 dropped: not a log console client"), std::string::npos) << console.Errors();
}
