// The machine's state files (nextpid, processes, hostpids, exits): any bytes give whole rows
// or a clear error, never a crash; the first byte picks the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/sim/statefiles.h"

namespace {

[[noreturn]] void Broken(const char* aWhat, const std::string& aInput) {
  std::fprintf(stderr, "%s\n%s\n", aWhat, aInput.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  if (aSize == 0) return 0;
  std::string text(reinterpret_cast<const char*>(aData) + 1, aSize - 1);
  // Whatever is read was whole: the text ends with a line end (or is empty where that is allowed).
  bool whole = text.empty() || text.back() == '\n';
  try {
    switch (aData[0] % 4) {
      case 0: {
        win::DWORD pid = sim::NextPidParse(text, "nextpid");
        if (pid == 0 || pid % 4 || pid > 0xFFFFFFFBu || text.empty()) Broken("a pid that cannot be handed out", text);
        break;
      }
      case 1:
        sim::ExitsParse(text, "exits");
        break;
      case 2:
        for (const auto& row : sim::HostPidsParse(text, "hostpids"))
          if (row.Host <= 0 || row.Monitor < 0) Broken("a host pid that is not one", text);
        break;
      default:
        for (const auto& r : sim::ProcessesParse(text, "processes"))
          if (r.Bits != 32 && r.Bits != 64) Broken("a process of no bitness", text);
        break;
    }
  } catch (const sim::MachineError& e) {
    if (std::string(e.what()).find("damaged") == std::string::npos &&
        std::string(e.what()).find("used up") == std::string::npos)
      Broken("an unclear error", text);
    return 0;
  }
  if (!whole) Broken("a cut line was read", text);
  return 0;
}
