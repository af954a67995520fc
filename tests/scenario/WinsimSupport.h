// Running winsim and the other tools from a scenario test, as a user runs them.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

struct WinsimResult {
  int status;
  std::string out;
};

// Runs a shell command; its exit status (-1 when it did not exit) and standard output.
inline WinsimResult CommandRun(const std::string& aCommand) {
  FILE* p = ::popen(aCommand.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = ::pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// Runs winsim outside of the test's own machine; bWithErrors: standard error too.
inline WinsimResult WinsimRun(const std::string& aArgs, bool bWithErrors) {
  return CommandRun("env -u WINSIM_MACHINE -u WINSIM_PID " WINSIM_EXE " " + aArgs +
                    (bWithErrors ? " 2>&1" : " 2>/dev/null"));
}

// The bytes of a host file (empty when it cannot be read).
inline std::string HostFileRead(const std::filesystem::path& aPath) {
  std::ifstream f(aPath, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}
