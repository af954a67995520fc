// One log entry as the transport hands it to its outputs.
#pragma once

#include <cstdint>

#include "platform/win32api_types.h"

// What an entry records; the values are stored in log files, so they never change.
enum class TLogEntryKind : std::uint8_t {
  Message = 0,
  Colored = 1,
  EnterProcess = 2,
  LeaveProcess = 3,
  Separator = 4,
};
constexpr std::uint8_t kLogEntryKindLast = 4;

// "message", "colored", "enter-process", "leave-process", "separator"; "unknown" otherwise.
const char* LogEntryKindName(TLogEntryKind aKind);

// An entry as the outputs take it: the texts are views that belong to the caller for the
// duration of the call it is passed to (no copies on the logging thread's way).
struct TLogEntryView {
  std::uint64_t Time = 0;  // UTC, 100-ns intervals since 1601-01-01 (a FILETIME)
  win::DWORD ProcessId = 0;
  win::DWORD ThreadId = 0;
  TLogEntryKind Kind = TLogEntryKind::Message;
  std::uint32_t Color = 0;  // 0x00BBGGRR
  TextView AppName;
  TextView Channel;
  TextView Content;
};

// An entry with texts of its own: what a reader yields and what an observer is shown.
struct TLogEntry {
  std::uint64_t Time = 0;
  win::DWORD ProcessId = 0;
  win::DWORD ThreadId = 0;
  TLogEntryKind Kind = TLogEntryKind::Message;
  std::uint32_t Color = 0;
  ::Text AppName;
  ::Text Channel;
  ::Text Text;
};
