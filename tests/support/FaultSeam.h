// The archive fault test's names for the failing operating system
// (FailingSystem.h). Temporary: this header goes once that test injects its
// faults through failing streams.
#pragma once

#include <memory>

#include "FailingSystem.h"

namespace kv::fault {

using TOperation = kvtest::TFileCall;

inline std::unique_ptr<kvtest::TFailingSystem>& Armed() {
  static std::unique_ptr<kvtest::TFailingSystem> System;
  return System;
}
inline void Arm(uint64_t FailAt) {
  Armed().reset();
  Armed() = std::make_unique<kvtest::TFailingSystem>(FailAt);
}
inline void Disarm() {
  Armed().reset();
}
inline uint64_t Count() {
  return Armed() ? Armed()->Count() : 0;
}
inline std::optional<TOperation> FailedOperation() {
  return Armed() ? Armed()->Failed() : std::nullopt;
}

}  // namespace kv::fault
