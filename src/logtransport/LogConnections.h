// Connection strings: which outputs the transport writes to, and how.
//
//   protocol(option="value", option=value, ...), protocol(...)
//
// Protocols "pipe" (the log console) and "file"; names of protocols and options are matched
// without regard to ASCII case. Values are quoted ("...", no escapes: backslashes are
// literal, a value cannot hold a double quote) or bare (up to the next ',' or ')', blanks
// around it dropped). The grammar and every option are in docs/log-file.md.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32api_types.h"
#include "rtl/Exception.h"

// A malformed connection string; the message names the problem and its character offset.
class ELogConnectionsError : public Exception {
 public:
  ELogConnectionsError(const Text& aProblem, size_t aPosition);
  size_t Position = 0;
};

enum class TLogProtocol { Pipe, File };

struct TLogConnection {
  TLogProtocol Protocol = TLogProtocol::Pipe;
  size_t Position = 0;  // where the item begins in the string
  bool AsyncEnabled = false;
  std::uint64_t AsyncQueue = 10u << 20;  // bytes of queued entries at most
  // file
  Text FileName;
  std::uint32_t MaxParts = 1;
  std::uint64_t MaxSize = 0;  // bytes per part; 0: no limit
  bool Encrypt = false;
  Text Key;
  // pipe
  bool Reconnect = false;
  std::uint32_t ReconnectIntervalMs = 1000;
  Text PipeName = u"OrvantaLogConsole";
};

// The outputs a connection string describes, in order; ELogConnectionsError when it is
// malformed. An empty (or blank) string describes none.
std::vector<TLogConnection> LogConnectionsParse(const Text& aConnections);

// The smallest part size accepted: a header, a record and a short entry fit in it.
constexpr std::uint64_t kLogMaxSizeMin = 1024;
constexpr std::uint32_t kLogMaxPartsMax = 1000;
