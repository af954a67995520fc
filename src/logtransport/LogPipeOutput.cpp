#include "logtransport/LogPipeOutput.h"

// No console protocol yet: entries for the console are dropped here.
void TLogPipeOutput::Write(const TLogEntryView&) {}
