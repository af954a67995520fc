// An output's queue and writer thread (async.enabled="true").
//
// Logging threads copy their entries into a queue of at most async.queue bytes and go on;
// the writer thread takes everything queued at once and hands it to the output as one batch
// (a file output seals it as one record). A full queue makes the logging thread wait for
// room: entries are never dropped for lack of it. An entry larger than the whole queue is
// taken when the queue is empty. An output that must never hold the program up (the console's
// pipe) asks for bDropWhenFull: an entry that finds the queue full is dropped instead.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "logtransport/LogFileFormat.h"
#include "logtransport/LogOutput.h"

class TLogAsyncOutput : public TLogOutput {
 public:
  TLogAsyncOutput(std::unique_ptr<TLogOutput> aOutput, std::uint64_t aQueueBytes, bool bDropWhenFull = false);
  ~TLogAsyncOutput() override;
  void Write(const TLogEntryView& aEntry) override;
  // Waits until the writer has written everything queued before the call, then flushes.
  void Flush() override;
  // Writes what is queued, ends the writer thread and closes the output.
  void Close() override;

 private:
  void Run();

  std::unique_ptr<TLogOutput> FOutput;
  size_t FLimit;
  bool FDropWhenFull;
  std::mutex FLock;
  std::condition_variable FWork;   // the writer: something to do
  std::condition_variable FSpace;  // logging threads: room in the queue
  std::condition_variable FDone;   // Flush: the writer has flushed
  logfile::TByteBuffer FPending;   // queued entries, taken by the writer at once
  logfile::TByteBuffer FWriting;   // what the writer works on; swapped with FPending
  std::uint64_t FFlushAsked = 0;
  std::uint64_t FFlushDone = 0;
  bool FStop = false;
  bool FClosed = false;
  std::thread FThread;
};
