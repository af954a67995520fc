// The machine's event log: one JSON object per line (events.jsonl).
#include <cstdio>

#include "platform/sim/machine.h"
#include "platform/sim/tables.h"

namespace sim {

std::string JsonEscape(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char b[8];
          std::snprintf(b, sizeof b, "\\u%04x", c);
          out += b;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

void EventAppend(const std::string& aMachine, const std::string& aJsonObject) {
  // One write with O_APPEND: lines of several processes never interleave.
  TableLineAppend(aMachine + "/events.jsonl", aJsonObject);
}

}  // namespace sim
