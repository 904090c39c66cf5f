// The reason an operating-system call failed, taken at that very call and
// carried with the failure as a std::error_code: errno on POSIX, the
// thread's last error on Windows. Nothing reads those thread-wide values
// later, when another call may have changed them.
#pragma once

#include <system_error>
#include <utility>
#include <variant>

namespace kv {

// The category of the ports' error codes; message() is the system's
// description of the code (SysErrorMessage), and the codes compare equal to
// the std::errc conditions they mean (Error == std::errc::file_exists), so
// that callers need no platform's numbers.
const std::error_category& OSCategory() noexcept;
// The std::errc condition that the system's error Code means, as each port
// maps it; the code itself, of OSCategory, when it means none of them.
std::error_condition OSErrorCondition(int Code) noexcept;
inline std::error_code OSError(int Code) noexcept {
  return {Code, OSCategory()};
}

// A value, or the reason why there is none.
template <class T>
class [[nodiscard]] TErrorOr {
 public:
  TErrorOr(T Value) : FValue(std::move(Value)) {}
  TErrorOr(std::error_code Error) : FValue(Error) {}

  explicit operator bool() const noexcept { return std::holds_alternative<T>(FValue); }
  T& operator*() { return std::get<T>(FValue); }
  T* operator->() { return &std::get<T>(FValue); }
  // The reason; none when there is a value.
  std::error_code Error() const noexcept {
    const auto* Error = std::get_if<std::error_code>(&FValue);
    return Error ? *Error : std::error_code();
  }

 private:
  std::variant<T, std::error_code> FValue;
};

}  // namespace kv
