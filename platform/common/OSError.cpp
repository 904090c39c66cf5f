// The category of the ports' error codes.
#include "OSError.h"

#include "Files.h"

namespace kv {

namespace {

class TOSCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "os"; }
  std::string message(int Code) const override { return SysErrorMessage(Code); }
};

}  // namespace

const std::error_category& OSCategory() noexcept {
  static const TOSCategory Category;
  return Category;
}

}  // namespace kv
