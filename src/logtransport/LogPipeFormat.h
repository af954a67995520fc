// The log console's wire format (docs/log-console.md): what a program writes into the
// console's pipe, and the console's reader of it.
//
// A connection begins with a 12-byte hello (magic, version, flags), then frames: a 4-byte
// length and that many bytes of entries, each encoded as in a log file's record payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "logtransport/LogEntry.h"
#include "logtransport/LogFileFormat.h"

namespace logpipe {

constexpr unsigned char kMagic[8] = {0x89, 'O', 'R', 'V', 'P', 'I', 'P', 'E'};
constexpr std::uint16_t kVersion = 1;
constexpr size_t kHelloSize = 12;
constexpr size_t kFrameHeaderSize = 4;
// A frame's entries at most; a writer starts a new frame before it would grow beyond this, and
// cuts the text of an entry that alone would not fit.
constexpr size_t kFramePayloadMax = 1u << 20;

// Appends the hello that begins a connection.
void HelloAppend(logfile::TByteBuffer& aOut);
// Appends one frame holding the entries aPayload[0, aSize).
void FrameAppend(logfile::TByteBuffer& aOut, const unsigned char* aPayload, size_t aSize);
// The entry as a writer sends it: its text cut (at a code-point boundary) so that the entry
// fits a frame.
TLogEntryView EntryFitted(const TLogEntryView& aEntry);

}  // namespace logpipe

// Reads one client's byte stream as it arrives, in pieces of any size. Once the stream is found
// damaged (a wrong hello, a frame length out of range, a malformed entry), it takes nothing
// more: the console drops that client. Memory stays below a frame and a hello.
class TLogPipeReader {
 public:
  // Takes the next bytes; false once the stream is damaged.
  bool Push(const unsigned char* aData, size_t aSize);
  // The next whole entry; false when none is ready.
  bool Next(TLogEntry& aEntry);
  bool Damaged() const { return !FProblem.empty(); }
  // What is wrong with the stream ("not a log console client", "frame length out of range",
  // "malformed entry"); empty while it is sound.
  const std::string& Problem() const { return FProblem; }

 private:
  std::string FBuffer;  // the hello or the frame being gathered
  bool FHelloSeen = false;
  std::string FProblem;
  std::deque<TLogEntry> FEntries;
};
