// The machine's event log: one JSON object per line (events.jsonl).
#include <cstdio>

#include "platform/sim/machine.h"
#include "platform/sim/tables.h"
#include "platform/utf.h"

namespace sim {

std::string JsonEscape(const std::string& s) { return JsonQuote(s); }

void EventAppend(const std::string& aMachine, const std::string& aJsonObject) {
  // One write with O_APPEND: lines of several processes never interleave.
  TableLineAppend(aMachine + "/events.jsonl", aJsonObject);
}

}  // namespace sim
