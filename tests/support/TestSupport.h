// Helpers shared by the test programs.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/utf.h"
#include "platform/win32api.h"

// Marks a test that only the simulated machine can answer (integrity levels, UAC answers,
// Windows versions, reboots, injected faults); the Windows build skips it with the reason.
#ifdef _WIN32
#define SIM_ONLY(reason) GTEST_SKIP() << "needs the simulated machine: " << reason
#else
#define SIM_ONLY(reason) (void)0
#endif



namespace testsupport {

// A new, empty folder for one test, as a Windows path without a trailing backslash.
Text ScratchFolder();

// Writes a file with the given bytes; true on success.
bool FileWrite(const Text& aPath, const std::string& aData);
// Reads a whole file; nullopt when it cannot be opened.
std::optional<std::string> FileRead(const Text& aPath);

// A helper program of tests/support/programs, as a Windows path the test can start: next to
// the test program under Windows; placed in the simulated machine (C:\Users\User\Downloads)
// in the Linux build.
Text HelperProgram(const std::string& aName);

// Runs its scope with an administrator's (high-integrity) token: on the simulated machine
// the test process is raised for the scope; under Wine every process already is.
class AsAdministrator {
 public:
  AsAdministrator();
  ~AsAdministrator();
  AsAdministrator(const AsAdministrator&) = delete;
  AsAdministrator& operator=(const AsAdministrator&) = delete;

 private:
  win::DWORD FPrevious = 0;
};

// Reads a registry value's raw bytes; nullopt when it is absent.
std::optional<std::string> RegistryValueRead(win::HKEY aRoot, const Text& aKey, const Text& aName,
                                             win::REGSAM aView = 0, win::DWORD* aType = nullptr);

}  // namespace testsupport
