// The main function of every test program. In the Linux build the program first becomes a
// process of a fresh simulated machine (medium integrity, 32-bit, as the installer meets it),
// removed again at the end unless ORV_KEEP_MACHINE is set.
#include <gtest/gtest.h>

#include "DebugRecorder.h"
#include "TestSupport.h"

#ifndef _WIN32
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/sim/machine.h"
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
#ifndef _WIN32
  std::string machine;
  if (!std::getenv("WINSIM_PID")) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "orvanta-test-machine-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) return 2;
    machine = tmpl;
    sim::MachineCreate(machine, sim::MachineConfig{});
    sim::ProcessRecord self;
    std::string name = std::filesystem::path(argv[0]).filename().string();
    self.Image = "C:\\Users\\User\\Downloads\\" + name + ".exe";
    self.CommandLine = "\"" + self.Image + "\"";
    self.CurrentDirectory = "C:\\Users\\User\\Downloads\\";
    self.Integrity = sim::kIntegrityMedium;
    self.Bits = 32;
    sim::ProcessAttachNew(machine, self);
  }
#endif
  testsupport::DebugForTestsStart();
  int result = RUN_ALL_TESTS();
  testsupport::DebugForTestsStop();
#ifndef _WIN32
  if (!machine.empty() && !std::getenv("ORV_KEEP_MACHINE")) {
    std::error_code ec;
    std::filesystem::remove_all(machine, ec);
  }
#endif
  return result;
}
