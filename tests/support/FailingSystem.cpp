// The counter of the failing operating system.
#include "FailingSystem.h"

namespace kvtest {

namespace {

struct TState {
  bool Armed = false;
  uint64_t FailAt = 0;
  uint64_t Count = 0;
  std::optional<TFileCall> Failed;
  // With a chosen kind, only its calls count, and they fail with Code.
  std::optional<TFileCall> Only;
  int Code = 0;
};

TState& State() {
  static TState Instance;
  return Instance;
}

}  // namespace

int failing::Fails(TFileCall Call, int Default) noexcept {
  TState& S = State();
  if (!S.Armed || (S.Only && *S.Only != Call)) return 0;
  if (++S.Count != S.FailAt) return 0;
  S.Failed = Call;
  return S.Only ? S.Code : Default;
}

namespace {

void Arm(const TState& Armed) {
  static const bool TakenOver = (failing::TakeOverFileCalls(), true);
  (void)TakenOver;
  State() = Armed;
}

}  // namespace

TFailingSystem::TFailingSystem(uint64_t FailAt) {
  TState Armed;
  Armed.Armed = true;
  Armed.FailAt = FailAt;
  Arm(Armed);
}

TFailingSystem::TFailingSystem(TFileCall Call, int Code, uint64_t Nth) {
  TState Armed;
  Armed.Armed = true;
  Armed.FailAt = Nth;
  Armed.Only = Call;
  Armed.Code = Code;
  Arm(Armed);
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
