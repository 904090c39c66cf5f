// The causes of failures, told after their texts.
#include "konvoro/Exceptions.h"

#include <vector>

namespace kv {

namespace {

void CollectCauses(const std::exception& Failure, std::vector<std::string>& Causes) {
  // A text that names its reason already ("Cannot create file ... Access is
  // denied") is not told it again.
  if (const auto* Own = dynamic_cast<const Exception*>(&Failure);
      Own && Own->Reason() && Own->Message().find(Own->Reason().message()) == std::string::npos)
    Causes.push_back(Own->Reason().message());
  try {
    std::rethrow_if_nested(Failure);
  } catch (const std::exception& Inner) {
    // A cause that only repeats the text before it says nothing new.
    if (Causes.empty() ? Inner.what() != std::string(Failure.what())
                       : Inner.what() != Causes.back())
      Causes.push_back(Inner.what());
    CollectCauses(Inner, Causes);
  } catch (...) {
    // A cause that is no exception object has nothing to tell.
  }
}

}  // namespace

std::string FailureCauses(const std::exception& Failure) {
  std::vector<std::string> Causes;
  CollectCauses(Failure, Causes);
  if (Causes.empty()) return std::string();
  std::string Out = " (";
  for (size_t I = 0; I < Causes.size(); ++I)
    Out += (I == 0 ? "" : ": ") + Causes[I];
  return Out + ")";
}

std::string DescribeFailure(const std::exception& Failure) {
  return Failure.what() + FailureCauses(Failure);
}

}  // namespace kv
