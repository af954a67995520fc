// The log console output: a named pipe (\\.\pipe\ + pipename) to a console on the same
// machine, in the wire format of LogPipeFormat.h.
//
// It never makes the program wait for a console: without one, entries are dropped (a file
// output keeps them). The first entry tries to connect; with reconnect="true" a lost or
// missing console is tried again at most every reconnect.interval, so a console started (or
// started again) later gets the entries from then on. Without reconnect the output gives up
// after its first attempt fails or its console goes.
#pragma once

#include <cstdint>

#include "logtransport/LogConnections.h"
#include "logtransport/LogFileFormat.h"
#include "logtransport/LogOutput.h"

class TLogPipeOutput : public TLogOutput {
 public:
  explicit TLogPipeOutput(const TLogConnection& aConnection);
  ~TLogPipeOutput() override;
  void Write(const TLogEntryView& aEntry) override;
  void BatchEnd() override;
  void Flush() override { BatchEnd(); }
  void Close() override;
  const TLogConnection& ConnectionGet() const { return FConnection; }
  bool ConnectedGet() const { return FPipe != nullptr; }

 private:
  bool Connect();
  void Disconnect();
  // Sends the gathered entries; on a broken pipe, one new connection is tried at once.
  void Send();

  TLogConnection FConnection;
  Text FPath;
  void* FPipe = nullptr;  // the pipe's HANDLE; null: not connected
  bool FTried = false;
  bool FClosed = false;
  std::uint64_t FNextAttempt = 0;  // GetTickCount64 of the next connection attempt
  logfile::TByteBuffer FBatch;     // entries of the frame being gathered
  logfile::TByteBuffer FOut;       // hello and frames on their way
};
