#include "logtransport/LogPipeOutput.h"

#include "logtransport/LogPipeFormat.h"
#include "platform/win32api.h"

namespace {

// How long a connection waits for a console whose every instance is taken at the moment
// (it makes a new one as soon as a client arrives).
constexpr win::DWORD kBusyWaitMs = 200;

}  // namespace

TLogPipeOutput::TLogPipeOutput(const TLogConnection& aConnection)
    : FConnection(aConnection), FPath(u"\\\\.\\pipe\\" + aConnection.PipeName) {}

TLogPipeOutput::~TLogPipeOutput() { Close(); }

bool TLogPipeOutput::Connect() {
  if (FPipe) return true;
  if (FClosed || (FTried && !FConnection.Reconnect)) return false;
  const std::uint64_t now = win::GetTickCount64();
  if (FTried && now < FNextAttempt) return false;
  FTried = true;
  FNextAttempt = now + FConnection.ReconnectIntervalMs;
  // The last error is the program's: a failed attempt must not change it.
  const win::DWORD lastError = win::GetLastError();
  win::HANDLE h = win::INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 2 && h == win::INVALID_HANDLE_VALUE; ++attempt) {
    h = win::CreateFileW(FPath.c_str(), win::GENERIC_WRITE, 0, nullptr, win::OPEN_EXISTING, 0, nullptr);
    if (h == win::INVALID_HANDLE_VALUE && (win::GetLastError() != win::ERROR_PIPE_BUSY ||
                                           !win::WaitNamedPipeW(FPath.c_str(), kBusyWaitMs)))
      break;
  }
  win::SetLastError(lastError);
  if (h == win::INVALID_HANDLE_VALUE) return false;
  FPipe = h;
  FOut.Clear();
  logpipe::HelloAppend(FOut);
  return true;
}

void TLogPipeOutput::Disconnect() {
  if (!FPipe) return;
  const win::DWORD lastError = win::GetLastError();
  win::CloseHandle(FPipe);
  win::SetLastError(lastError);
  FPipe = nullptr;
  FOut.Clear();
}

void TLogPipeOutput::Write(const TLogEntryView& aEntry) {
  if (FClosed) return;
  // Nothing is gathered while no console listens: entries then are dropped.
  if (!FPipe && !Connect()) return;
  const TLogEntryView e = logpipe::EntryFitted(aEntry);
  if (FBatch.Size() + logfile::EntrySizeBound(e) > logpipe::kFramePayloadMax) Send();
  if (!FPipe) return;
  logfile::EntryAppend(FBatch, e);
}

void TLogPipeOutput::BatchEnd() {
  if (FBatch.Size()) Send();
}

void TLogPipeOutput::Send() {
  if (!FPipe) {
    FBatch.Clear();
    return;
  }
  logpipe::FrameAppend(FOut, FBatch.Data(), FBatch.Size());
  for (int attempt = 0; attempt < 2; ++attempt) {
    const win::DWORD lastError = win::GetLastError();
    win::DWORD written = 0;
    const bool ok = win::WriteFile(FPipe, FOut.Data(), static_cast<win::DWORD>(FOut.Size()), &written, nullptr) &&
                    written == FOut.Size();
    win::SetLastError(lastError);
    if (ok) break;
    // The console has gone (or started again): one new connection at once, so that a console
    // that was restarted misses nothing; else the frame is dropped.
    Disconnect();
    if (attempt > 0 || !FConnection.Reconnect) break;
    FNextAttempt = 0;
    if (!Connect()) break;
    logpipe::FrameAppend(FOut, FBatch.Data(), FBatch.Size());
  }
  FOut.Clear();
  FBatch.Clear();
}

void TLogPipeOutput::Close() {
  if (FClosed) return;
  BatchEnd();
  Disconnect();
  FClosed = true;
}
