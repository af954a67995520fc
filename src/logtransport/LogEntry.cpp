#include "logtransport/LogEntry.h"

const char* LogEntryKindName(TLogEntryKind aKind) {
  switch (aKind) {
    case TLogEntryKind::Message: return "message";
    case TLogEntryKind::Colored: return "colored";
    case TLogEntryKind::EnterProcess: return "enter-process";
    case TLogEntryKind::LeaveProcess: return "leave-process";
    case TLogEntryKind::Separator: return "separator";
  }
  return "unknown";
}
