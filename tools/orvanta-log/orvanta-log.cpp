// orvanta-log: prints the entries of log files (docs/orvanta-log.md).
//
//   orvanta-log FILE... [--key KEY] [--json] [--follow]
//
// Exit status: 0 when every file was read (a damaged or cut tail is warned about on standard
// error), 2 when a file is missing, not a log file, or the key does not open it, 1 for bad
// arguments.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "HostFileSource.h"
#include "logtransport/LogEntryText.h"
#include "logtransport/LogFileKey.h"
#include "logtransport/LogFileReader.h"
#include "platform/utf.h"

namespace {

std::atomic<bool> gStop{false};

void StopOnSignal(int) { gStop = true; }


void PrintJson(const TLogEntry& e) {
  const std::string line = LogEntryJson(e);
  std::fwrite(line.data(), 1, line.size(), stdout);
}

void PrintLine(const TLogEntry& e) {
  const std::string out = LogEntryLine(e);
  std::fwrite(out.data(), 1, out.size(), stdout);
}

enum class TOutcome { Read, Refused };

// Reads one file; with bFollow, goes on while it grows until a signal ends the program.
TOutcome FileShow(const std::string& aPath, const Text& aKey, bool bJson, bool bFollow) {
  auto source = std::make_unique<THostFileSource>(aPath);
  if (!source->IsOpen()) {
    std::fprintf(stderr, "orvanta-log: %s: %s\n", aPath.c_str(), source->Error().c_str());
    return TOutcome::Refused;
  }
  auto reader = std::make_unique<TLogFileReader>(*source, aKey);
  bool warned = false;
  for (;;) {
    TLogEntry e;
    while (!gStop && reader->Next(e)) {
      if (bJson) PrintJson(e);
      else PrintLine(e);
      warned = false;
    }
    std::fflush(stdout);
    TLogReadStatus status = reader->Status();
    if (status == TLogReadStatus::WrongKey) {
      std::fprintf(stderr, "orvanta-log: %s: wrong key (%s)\n", aPath.c_str(), reader->Problem().c_str());
      return TOutcome::Refused;
    }
    bool growing = bFollow && !gStop;
    if (status == TLogReadStatus::NotALogFile && !(growing && reader->TailIsCut())) {
      std::fprintf(stderr, "orvanta-log: %s: not a log file (%s)\n", aPath.c_str(), reader->Problem().c_str());
      return TOutcome::Refused;
    }
    if (status == TLogReadStatus::DamagedTail && !warned && !(growing && reader->TailIsCut())) {
      std::fprintf(stderr, "orvanta-log: %s: warning: damaged tail at offset %llu (%s)\n", aPath.c_str(),
                   static_cast<unsigned long long>(reader->Offset()), reader->Problem().c_str());
      warned = true;
    }
    if (!growing) return TOutcome::Read;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // Rotated away or started afresh: what is at the path now is read from its start.
    if (source->Replaced() || source->SizeGet() < reader->Offset()) {
      auto next = std::make_unique<THostFileSource>(aPath);
      if (next->IsOpen()) {
        reader.reset();
        source = std::move(next);
        reader = std::make_unique<TLogFileReader>(*source, aKey);
        warned = false;
        continue;
      }
    }
    reader->Resume();
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Prints the entries of Orvanta log files."};
  std::vector<std::string> files;
  std::string key;
  bool json = false, follow = false;
  app.add_option("FILE", files, "Log files, read in the order given")->required();
  app.add_option("--key", key, "The key text the files were written with (default: the installer's key)");
  app.add_flag("--json", json, "One JSON object per entry and line");
  app.add_flag("--follow", follow, "Keep reading the last file as it grows, until interrupted");
  CLI11_PARSE(app, argc, argv);

  std::signal(SIGINT, StopOnSignal);
  std::signal(SIGTERM, StopOnSignal);
  const Text keyText = app.count("--key") ? Utf8ToText(key) : LogFileKeyForm();
  int status = 0;
  for (size_t i = 0; i < files.size() && !gStop; ++i) {
    if (FileShow(files[i], keyText, json, follow && i + 1 == files.size()) == TOutcome::Refused) status = 2;
  }
  return status;
}
