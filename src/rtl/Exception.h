// The one exception base of the framework. Every exception carries a Message.
#pragma once

#include <exception>
#include <string>

#include "platform/utf.h"

class Exception : public std::exception {
 public:
  explicit Exception(Text aMessage) : FMessage(std::move(aMessage)), FUtf8(TextToUtf8(FMessage)) {}
  ~Exception() override = default;
  const Text& Message() const { return FMessage; }
  const char* what() const noexcept override { return FUtf8.c_str(); }

  // Free for the handler of the exception; 1 asks the crash report for the call stacks of
  // every thread (ExceptionLogCallstacksForAllThreadsWhenProcessing).
  int HelpContext = 0;

 private:
  Text FMessage;
  std::string FUtf8;
};

// A text that does not convert to the requested kind (numbers, hexadecimal, escapes).
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// COM errors, a failed interface cast and a stack overflow: exceptions the debug facility's
// HandleNonOleException leaves alone.
class EOleSysError : public Exception {
 public:
  using Exception::Exception;
};
class EOleException : public EOleSysError {
 public:
  using EOleSysError::EOleSysError;
};
class EIntfCastError : public Exception {
 public:
  using Exception::Exception;
};
class EStackOverflow : public Exception {
 public:
  using Exception::Exception;
};

// A programming error detected at run time; the message begins "Error: ".
class EDebugStop : public Exception {
 public:
  using Exception::Exception;
};
