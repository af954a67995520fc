// Running winsim from a scenario test, as a user runs it.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct WinsimResult {
  int status;
  std::string out;
};

// Runs winsim outside of the test's own machine; bWithErrors: standard error too.
inline WinsimResult WinsimRun(const std::string& aArgs, bool bWithErrors) {
  std::string cmd = "env -u WINSIM_MACHINE -u WINSIM_PID " WINSIM_EXE " " + aArgs + (bWithErrors ? " 2>&1" : " 2>/dev/null");
  FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = ::pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}
