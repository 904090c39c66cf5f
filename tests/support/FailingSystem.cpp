// The counter of the failing operating system.
#include "FailingSystem.h"

namespace kvtest {

namespace {

struct TState {
  bool Armed = false;
  uint64_t FailAt = 0;
  uint64_t Count = 0;
  std::optional<TFileCall> Failed;
};

TState& State() {
  static TState Instance;
  return Instance;
}

}  // namespace

bool failing::Fails(TFileCall Call) noexcept {
  TState& S = State();
  if (!S.Armed) return false;
  if (++S.Count != S.FailAt) return false;
  S.Failed = Call;
  return true;
}

TFailingSystem::TFailingSystem(uint64_t FailAt) {
  static const bool TakenOver = (failing::TakeOverFileCalls(), true);
  (void)TakenOver;
  State() = {true, FailAt, 0, std::nullopt};
}

TFailingSystem::~TFailingSystem() {
  State().Armed = false;
}

uint64_t TFailingSystem::Count() const {
  return State().Count;
}

std::optional<TFileCall> TFailingSystem::Failed() const {
  return State().Failed;
}

}  // namespace kvtest
