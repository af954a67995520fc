#include "logtransport/LogEntryText.h"

#include <cstdio>

#include "logtransport/LogFileReader.h"
#include "platform/utf.h"

std::string LogJsonQuote(const std::string& s) { return JsonQuote(s); }

std::string LogEntryJson(const TLogEntry& e) {
  return "{\"time\":" + LogJsonQuote(LogTimeText(e.Time) + "Z") + ",\"time100ns\":" + std::to_string(e.Time) +
         ",\"process\":" + std::to_string(e.ProcessId) + ",\"thread\":" + std::to_string(e.ThreadId) +
         ",\"app\":" + LogJsonQuote(TextToUtf8(e.AppName)) + ",\"channel\":" + LogJsonQuote(TextToUtf8(e.Channel)) +
         ",\"kind\":" + LogJsonQuote(LogEntryKindName(e.Kind)) + ",\"color\":" + std::to_string(e.Color) +
         ",\"text\":" + LogJsonQuote(TextToUtf8(e.Text)) + "}\n";
}

std::string LogEntryLine(const TLogEntry& e) {
  char head[160];
  std::string kind = LogEntryKindName(e.Kind);
  if (e.Kind == TLogEntryKind::Colored) {
    char color[16];
    std::snprintf(color, sizeof color, " #%06X", static_cast<unsigned>(e.Color & 0xFFFFFF));
    kind += color;
  }
  int n = std::snprintf(head, sizeof head, "%s %6u %6u %-13s ", LogTimeText(e.Time).c_str(),
                        static_cast<unsigned>(e.ProcessId), static_cast<unsigned>(e.ThreadId), kind.c_str());
  std::string indent(static_cast<size_t>(n > 0 ? n : 0), ' ');
  std::string text = TextToUtf8(e.Text);
  std::string out(head);
  size_t start = 0;
  for (;;) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (start > 0) out += indent;
    out += line;
    out += '\n';
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}
