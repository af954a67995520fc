#include "logtransport/LogTransport.h"

#include "logtransport/LogAsyncOutput.h"
#include "logtransport/LogFileOutput.h"
#include "logtransport/LogPipeOutput.h"
#include "platform/win32api.h"
#include "rtl/ModuleInit.h"

void TLogChannel::LogMessage(const Text& aText) { FTransport.EntryLog(*this, FName, TLogEntryKind::Message, 0, aText); }
void TLogChannel::LogColored(std::uint32_t aColor, const Text& aText) {
  FTransport.EntryLog(*this, FName, TLogEntryKind::Colored, aColor, aText);
}
void TLogChannel::EnterProcess() { FTransport.EntryLog(*this, FName, TLogEntryKind::EnterProcess, 0, TextView()); }
void TLogChannel::LeaveProcess() { FTransport.EntryLog(*this, FName, TLogEntryKind::LeaveProcess, 0, TextView()); }
void TLogChannel::LogSeparator() { FTransport.EntryLog(*this, FName, TLogEntryKind::Separator, 0, TextView()); }

std::unique_ptr<TLogOutput> LogOutputCreate(const TLogConnection& aConnection) {
  std::unique_ptr<TLogOutput> out;
  if (aConnection.Protocol == TLogProtocol::File) out = std::make_unique<TLogFileOutput>(aConnection);
  else out = std::make_unique<TLogPipeOutput>(aConnection);
  // The console's queue drops what does not fit rather than hold the program up.
  if (aConnection.AsyncEnabled)
    out = std::make_unique<TLogAsyncOutput>(std::move(out), aConnection.AsyncQueue,
                                            aConnection.Protocol == TLogProtocol::Pipe);
  return out;
}

TLogTransport::TLogTransport(const Text& aAppName) : FAppName(aAppName) {}

TLogTransport::~TLogTransport() { Close(); }

void TLogTransport::OutputsClose() {
  for (auto& o : FOutputs) o.Output->Close();
  FOutputs.clear();
}

void TLogTransport::ConnectionsSet(const Text& aConnections) {
  std::vector<TLogConnection> connections = LogConnectionsParse(aConnections);  // throws before anything changes
  std::lock_guard<std::mutex> lock(FLock);
  // The old outputs go first: a new output may open the same file.
  OutputsClose();
  FConnections = aConnections;
  if (FClosed.load(std::memory_order_acquire)) return;
  for (const auto& c : connections) FOutputs.push_back({LogOutputCreate(c), !c.AsyncEnabled});
}

Text TLogTransport::ConnectionsGet() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FConnections;
}

void TLogTransport::EnabledSet(bool bEnabled) {
  std::lock_guard<std::mutex> lock(FLock);
  if (!bEnabled) {
    for (auto& o : FOutputs) o.Output->Flush();
  }
  FEnabled.store(bEnabled, std::memory_order_release);
}

void TLogTransport::Flush() {
  std::lock_guard<std::mutex> lock(FLock);
  for (auto& o : FOutputs) o.Output->Flush();
}

void TLogTransport::Close() {
  std::lock_guard<std::mutex> lock(FLock);
  FClosed.store(true, std::memory_order_release);
  OutputsClose();
}

void TLogTransport::EntryLog(const TLogChannel&, TextView aChannelName, TLogEntryKind aKind, std::uint32_t aColor,
                             TextView aText) {
  if (!FEnabled.load(std::memory_order_acquire)) return;
  win::FILETIME now;
  win::GetSystemTimeAsFileTime(&now);
  TLogEntryView e;
  e.Time = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  e.ProcessId = win::GetCurrentProcessId();
  e.ThreadId = win::GetCurrentThreadId();
  e.Kind = aKind;
  e.Color = aColor;
  e.AppName = FAppName;
  e.Channel = aChannelName;
  e.Content = aText;
  std::lock_guard<std::mutex> lock(FLock);
  // Re-checked under the lock: an entry that raced a disabling is not written after it.
  if (!FEnabled.load(std::memory_order_relaxed)) return;
  for (auto& o : FOutputs) {
    o.Output->Write(e);
    if (o.Synchronous) o.Output->BatchEnd();
  }
  if (FObserver) {
    FObserver(TLogEntry{e.Time, e.ProcessId, e.ThreadId, e.Kind, e.Color, Text(e.AppName), Text(e.Channel), Text(e.Content)});
  }
}

void TLogTransport::ObserverSet(TLogObserver aObserver) {
  std::lock_guard<std::mutex> lock(FLock);
  FObserver = std::move(aObserver);
}

namespace {

Text AppNameOfExecutable() {
  std::vector<win::WCHAR> buf(32768);
  win::DWORD n = win::GetModuleFileNameW(nullptr, buf.data(), static_cast<win::DWORD>(buf.size()));
  Text path(buf.data(), n < buf.size() ? n : 0);
  size_t slash = path.find_last_of(u"\\/");
  return slash == Text::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::unique_ptr<TLogTransport> LogTransportDefaultCreate() {
  auto transport = std::make_unique<TLogTransport>(AppNameOfExecutable());
  transport->ConnectionsSet(u"pipe(reconnect=true, reconnect.interval=1s)");
  return transport;
}

namespace {

struct TLogTransportGlobals {
  TLogTransport* Transport;
  TLogChannel* Main;
};

// Made on first use, so that any unit's start-up may log; never freed, so that a unit's
// finalisation after the transport's still finds it (entries are then dropped).
TLogTransportGlobals& Globals() {
  static TLogTransportGlobals g = [] {
    TLogTransport* transport = LogTransportDefaultCreate().release();
    return TLogTransportGlobals{transport, new TLogChannel(*transport, u"Main")};
  }();
  return g;
}

// The transport's start-up and finalisation.
struct TLogTransportUnit {
  TLogTransportUnit() { Globals(); }
  ~TLogTransportUnit() { Globals().Transport->Close(); }
};
TLogTransportUnit gLogTransportUnit ORV_UNIT_INIT(unitorder::kLogTransport);

}  // namespace

TLogTransport* LogTransportGet() { return Globals().Transport; }
TLogChannel* LogChannelMainGet() { return Globals().Main; }
