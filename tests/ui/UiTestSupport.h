// Helpers of the UI tests: unique window titles, the machine's events, a form to test with.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32api.h"
#include "ui/Application.h"
#include "ui/Form.h"

namespace uitest {

// A title no other window of this run has.
inline Text TitleUnique(const char* aWhat) {
  static int n = 0;
  return Utf8ToText(std::string("Orvanta test ") + aWhat + " " + std::to_string(win::GetCurrentProcessId()) + "-" +
                    std::to_string(++n));
}

// The events of the test's machine whose type is aType, as their JSON lines (Linux build:
// the machine folder's events.jsonl; none elsewhere).
inline std::vector<std::string> EventsOfType(const std::string& aType) {
  std::vector<std::string> out;
#ifndef _WIN32
  const char* machine = std::getenv("WINSIM_MACHINE");
  if (!machine) return out;
  std::ifstream in(std::string(machine) + "/events.jsonl");
  std::string line, key = "{\"type\":\"" + aType + "\"";
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) out.push_back(line);
#else
  (void)aType;
#endif
  return out;
}

// Frees the application's forms when it leaves its scope, so each test starts without one.
struct FormsFreed {
  ~FormsFreed() { Application->DestroyComponents(); }
};

}  // namespace uitest
