// The log transport: log channels hand entries to the outputs of a connection string (the
// log console's pipe, encrypted size-limited log files).
//
// The process's transport and its channel "Main" exist from the first call of LogTransportGet
// or LogChannelMainGet, which the transport's own start-up makes before any other unit's
// (so that every start-up can log): disabled, the application name being the executable's
// file name, with the connection string "pipe(reconnect=true, reconnect.interval=1s)". At
// process end the transport's finalisation closes it: everything queued is written and every
// file flushed and closed. Entries may come from any number of threads at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "logtransport/LogConnections.h"
#include "logtransport/LogEntry.h"
#include "logtransport/LogOutput.h"
#include "platform/win32api_types.h"

class TLogTransport;

// One log channel: the transport's unit of logging.
class TLogChannel {
 public:
  TLogChannel(TLogTransport& aTransport, const Text& aName) : FTransport(aTransport), FName(aName) {}
  TLogChannel(const TLogChannel&) = delete;
  TLogChannel& operator=(const TLogChannel&) = delete;

  Text NameGet() const { return FName; }
  void LogMessage(const Text& aText);                        // kind "message"
  void LogColored(std::uint32_t aColor, const Text& aText);  // 0x00BBGGRR, kind "colored"
  void EnterProcess();                                       // kind "enter-process"
  void LeaveProcess();                                       // kind "leave-process"
  void LogSeparator();                                       // kind "separator"

 private:
  TLogTransport& FTransport;
  const Text FName;
};

class TLogTransport {
 public:
  // Disabled, without outputs; aAppName names the program in every entry.
  explicit TLogTransport(const Text& aAppName);
  ~TLogTransport();
  TLogTransport(const TLogTransport&) = delete;
  TLogTransport& operator=(const TLogTransport&) = delete;

  // Replaces the outputs with those of a connection string: the old outputs are flushed and
  // closed first. A malformed string raises ELogConnectionsError (naming the problem and its
  // offset) and leaves the previous outputs in place.
  void ConnectionsSet(const Text& aConnections);
  Text ConnectionsGet() const;
  // While disabled, entries are dropped; disabling flushes the outputs.
  void EnabledSet(bool bEnabled);
  bool EnabledGet() const { return FEnabled.load(std::memory_order_acquire); }
  Text AppNameGet() const { return FAppName; }
  // Everything queued is written and flushed.
  void Flush();
  // Flush, then close every output. Safe to call twice; entries after it are dropped.
  void Close();

  // Shows every entry that the outputs get to aObserver as well (null: to nobody), for
  // tests that check what was logged. It runs on the logging thread and must not log.
  using TLogObserver = std::function<void(const TLogEntry& aEntry)>;
  void ObserverSet(TLogObserver aObserver);

  // Hands one entry of aChannel to every output (stamped with time, process and thread).
  void EntryLog(const TLogChannel& aChannel, TextView aChannelName, TLogEntryKind aKind, std::uint32_t aColor,
                TextView aText);

 private:
  void OutputsClose();

  const Text FAppName;
  std::atomic<bool> FEnabled{false};
  std::atomic<bool> FClosed{false};
  mutable std::mutex FLock;  // outputs and connections; entries are written under it
  Text FConnections;
  struct TOutput {
    std::unique_ptr<TLogOutput> Output;
    bool Synchronous;  // its record is sealed after every entry
  };
  std::vector<TOutput> FOutputs;
  TLogObserver FObserver;
};

// The output a connection describes (wrapped in its queue and writer thread when async).
std::unique_ptr<TLogOutput> LogOutputCreate(const TLogConnection& aConnection);

// A transport as the process gets it at start-up: disabled, named after the executable, with
// the console's default connection string.
std::unique_ptr<TLogTransport> LogTransportDefaultCreate();

// The process's transport (never null while the process runs) and its channel "Main".
TLogTransport* LogTransportGet();
TLogChannel* LogChannelMainGet();
