// The exception hierarchy: every failure the system raises is an Exception
// (or derives from it) and carries its message text.
#pragma once

#include <exception>
#include <string>

namespace kv {

// The base of every failure the system raises. Message() is the text shown to
// the user; what() returns the same bytes.
class Exception : public std::exception {
 public:
  explicit Exception(std::string Message) : FMessage(std::move(Message)) {}
  const std::string& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

// Stream failures: short writes and reads, invalid stream operations.
class EStreamError : public Exception {
  using Exception::Exception;
};
class EWriteError : public EStreamError {
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
  using EStreamError::EStreamError;
};

// A file could not be created or opened; the text names the expanded file
// name and the system's description of the error.
class EFileStreamError : public EStreamError {
  using EStreamError::EStreamError;
};
class EFCreateError : public EFileStreamError {
  using EFileStreamError::EFileStreamError;
};
class EFOpenError : public EFileStreamError {
  using EFileStreamError::EFileStreamError;
};

// The zlib inflater reported an error.
class EZDecompressionError : public Exception {
  using Exception::Exception;
};

// A directory chain could not be created.
class EInOutError : public Exception {
  using Exception::Exception;
};

// A resource of the running module is missing.
class EResNotFound : public Exception {
  using Exception::Exception;
};

// A string list was given an index outside its bounds.
class EStringListError : public Exception {
  using Exception::Exception;
};

// A published property was named or valued wrongly.
class EPropertyError : public Exception {
  using Exception::Exception;
};

// A stored form description could not be read.
class EReadFormError : public Exception {
  using Exception::Exception;
};

}  // namespace kv
