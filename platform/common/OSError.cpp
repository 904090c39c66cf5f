// The category of the ports' error codes.
#include "konvoro/OSError.h"

#include "konvoro/Files.h"

namespace kv {

namespace {

class TOSCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "os"; }
  std::string message(int Code) const override { return SysErrorMessage(Code); }
  std::error_condition default_error_condition(int Code) const noexcept override {
    return OSErrorCondition(Code);
  }
};

}  // namespace

const std::error_category& OSCategory() noexcept {
  static const TOSCategory Category;
  return Category;
}

}  // namespace kv
