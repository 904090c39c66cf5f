// The counter of the failing operating system.
#include "FailingSystem.h"

#include <utility>

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
  // Opens count, and the FailAt-th reaches a pipe instead of failing.
  bool Pipe = false;
  std::optional<uint32_t> PipeFlags;
  // Runs before the FailAt-th call of the kind Only, which then passes.
  std::function<void()> Action;
};

TState& State() {
  static TState Instance;
  return Instance;
}

}  // namespace

int failing::Fails(TFileCall Call, int Default) noexcept {
  TState& S = State();
  if (!S.Armed || S.Pipe || (S.Only && *S.Only != Call)) return 0;
  if (++S.Count != S.FailAt) return 0;
  if (S.Action) {
    S.Armed = false;
    S.Action();
    S.Armed = true;
    return 0;
  }
  S.Failed = Call;
  return S.Only ? S.Code : Default;
}

#ifdef _WIN32
bool failing::ReachesPipe(uint32_t Flags) noexcept {
  TState& S = State();
  if (!S.Armed || !S.Pipe || ++S.Count != S.FailAt) return false;
  S.Failed = TFileCall::Open;
  S.PipeFlags = Flags;
  return true;
}
#endif

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

TFailingSystem::TFailingSystem(TFileCall Call, std::function<void()> Action, uint64_t Nth) {
  TState Armed;
  Armed.Armed = true;
  Armed.FailAt = Nth;
  Armed.Only = Call;
  Armed.Action = std::move(Action);
  Arm(Armed);
}

#ifdef _WIN32
TFailingSystem::TFailingSystem(TPipeAtOpen Pipe) {
  TState Armed;
  Armed.Armed = true;
  Armed.FailAt = Pipe.Nth;
  Armed.Pipe = true;
  Arm(Armed);
}

std::optional<uint32_t> TFailingSystem::PipeOpenFlags() const {
  return State().PipeFlags;
}
#endif

TFailingSystem::~TFailingSystem() {
  State().Armed = false;
  State().Action = nullptr;
#ifdef _WIN32
  failing::ClosePipe();
#endif
}

uint64_t TFailingSystem::Count() const {
  return State().Count;
}

std::optional<TFileCall> TFailingSystem::Failed() const {
  return State().Failed;
}

}  // namespace kvtest
