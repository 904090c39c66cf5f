// The exception hierarchy: every failure the system raises is an Exception
// (or derives from it) and carries its message text, and may carry its
// cause: the system's reason, or the failure it stands for, nested inside
// it (std::throw_with_nested). The text is the contract; whoever prints a
// failure may add its causes (DescribeFailure).
#pragma once

#include <exception>
#include <string>
#include <system_error>

namespace kv {

// The base of every failure the system raises. Message() is the text shown to
// the user; what() returns the same bytes.
class Exception : public std::exception {
 public:
  explicit Exception(std::string Message, std::error_code Reason = {})
      : FMessage(std::move(Message)), FReason(Reason) {}
  const std::string& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }
  // The system's reason behind the failure (a failed read's, say), taken
  // where the system reported it; none when there is none.
  std::error_code Reason() const noexcept { return FReason; }

 private:
  std::string FMessage;
  std::error_code FReason;
};

// Raises Failure with Cause nested inside it, as std::throw_with_nested does
// with the exception being handled: catching Failure sees its own type and
// text, and DescribeFailure finds Cause.
template <class TFailure, class TCause>
[[noreturn]] void RaiseWithCause(TFailure Failure, TCause Cause) {
  try {
    throw std::move(Cause);
  } catch (...) {
    std::throw_with_nested(std::move(Failure));
  }
}

// The causes behind Failure, outermost first, as " (cause: inner cause)":
// its reason, then each nested failure's text and reason in turn. "" when
// it has none.
std::string FailureCauses(const std::exception& Failure);
// Failure's text followed by its causes: "The archive file appears to be
// corrupted (Input/output error)".
std::string DescribeFailure(const std::exception& Failure);

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
