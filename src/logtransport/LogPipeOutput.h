// The log console output: a named pipe to a console on the same machine.
//
// Parsed and kept, but it writes nothing yet: the console and its protocol come later,
// behind this class.
#pragma once

#include "logtransport/LogConnections.h"
#include "logtransport/LogOutput.h"

class TLogPipeOutput : public TLogOutput {
 public:
  explicit TLogPipeOutput(const TLogConnection& aConnection) : FConnection(aConnection) {}
  void Write(const TLogEntryView& aEntry) override;
  void Flush() override {}
  void Close() override {}
  const TLogConnection& ConnectionGet() const { return FConnection; }

 private:
  TLogConnection FConnection;
};
