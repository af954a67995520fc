// Entries as the log tools print them (orvanta-log, orvanta-logconsole): one line of text,
// or one JSON object a line.
#pragma once

#include <string>

#include "logtransport/LogEntry.h"

// "time  process  thread  kind  text\n"; the text's further lines are indented to its column.
std::string LogEntryLine(const TLogEntry& aEntry);
// {"time":..., "time100ns":..., "process":..., "thread":..., "app":..., "channel":..., "kind":...,
// "color":..., "text":...} and a line end.
std::string LogEntryJson(const TLogEntry& aEntry);
// A JSON string of UTF-8 text: quotes, backslashes and control characters escaped.
std::string LogJsonQuote(const std::string& aUtf8);
