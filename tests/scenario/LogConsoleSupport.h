// Runs orvanta-logconsole in a simulated machine from a scenario test, as a user runs it with
// winsim, and ends it with Ctrl+C (SIGINT to the console's own process).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "WinsimSupport.h"
#include "platform/sim/machine.h"

extern char** environ;

class TLogConsoleRun {
 public:
  // Starts the console in aMachine (its arguments aArgs); its standard output goes to
  // aOutFile, its standard error to aOutFile + ".err". Returns once it listens.
  TLogConsoleRun(const std::string& aMachine, const std::string& aOutFile, std::vector<std::string> aArgs = {})
      : FMachine(aMachine), FOut(aOutFile) {
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::posix_spawn_file_actions_addopen(&actions, 2, (FOut + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {WINSIM_EXE, "run", FMachine, "--real-clock", "--timeout", "300",
                                     "--at", "C:\\Tools\\orvanta-logconsole.exe", "--", ORVANTA_LOGCONSOLE_EXE};
    args.insert(args.end(), aArgs.begin(), aArgs.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Without the test's own machine, as a user runs winsim.
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "WINSIM_MACHINE=", 15) != 0 && std::strncmp(*e, "WINSIM_PID=", 11) != 0) env.push_back(*e);
    env.push_back(nullptr);
    int rc = ::posix_spawn(&FWinsim, WINSIM_EXE, &actions, nullptr, argv.data(), env.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) FWinsim = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (FWinsim > 0 && Errors().find("listening on") == std::string::npos && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(Errors().find("listening on"), std::string::npos) << Errors();
  }
  ~TLogConsoleRun() {
    if (FWinsim > 0) Stop();
  }

  // Ctrl+C; true when the console ended by itself with status 0.
  bool Stop() {
    pid_t host = 0;
    for (const auto& p : sim::ProcessTableRead(FMachine))
      if (!p.Exited && p.Record.Image == "C:\\Tools\\orvanta-logconsole.exe") host = p.HostPid;
    if (host > 0) ::kill(host, SIGINT);
    int status = 0;
    ::waitpid(FWinsim, &status, 0);
    FWinsim = -1;
    return host > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           Errors().find("orvanta-logconsole: ended") != std::string::npos;
  }
  std::string Output() const { return HostFileRead(FOut); }
  std::string Errors() const { return HostFileRead(FOut + ".err"); }

 private:
  std::string FMachine;
  std::string FOut;
  pid_t FWinsim = -1;
};
