// One move-only owner for every kind of system handle, with the kind's close
// function and its "no handle" value in the owner's type, and a scope-exit
// helper for one-off cleanups.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace kv {

// Owns one handle of type T and closes it with Close when it goes. Move-only.
// InvalidValue is the value that means "no handle" for this kind, as a
// number: 0 (null) for most kinds, -1 for Windows file and find handles
// (INVALID_HANDLE_VALUE) and POSIX descriptors. Being part of the type, it
// cannot be mixed up between kinds.
template <class T, auto Close, intptr_t InvalidValue = 0>
class TUniqueAny {
 public:
  static T Invalid() noexcept {
    if constexpr (std::is_pointer_v<T>)
      return reinterpret_cast<T>(InvalidValue);
    else
      return static_cast<T>(InvalidValue);
  }

  TUniqueAny() noexcept = default;
  explicit TUniqueAny(T Value) noexcept : FValue(Value) {}
  TUniqueAny(TUniqueAny&& Other) noexcept : FValue(Other.Release()) {}
  TUniqueAny& operator=(TUniqueAny&& Other) noexcept {
    if (this != &Other) Reset(Other.Release());
    return *this;
  }
  TUniqueAny(const TUniqueAny&) = delete;
  TUniqueAny& operator=(const TUniqueAny&) = delete;
  ~TUniqueAny() { Reset(); }

  T Get() const noexcept { return FValue; }
  bool Valid() const noexcept { return FValue != Invalid(); }
  explicit operator bool() const noexcept { return Valid(); }

  // Closes the handle held, if any, and holds Value instead.
  void Reset(T Value = Invalid()) noexcept {
    const T Old = std::exchange(FValue, Value);
    if (Old != Invalid()) Close(Old);
  }
  // Gives the handle up without closing it (someone else has closed it, or
  // takes it over). Returns it; this owner then holds none.
  T Release() noexcept { return std::exchange(FValue, Invalid()); }

 private:
  T FValue = Invalid();
};

// Runs a cleanup when the scope ends, unless dismissed first. Move-only.
template <class F>
class [[nodiscard]] TScopeExit {
 public:
  explicit TScopeExit(F Cleanup) : FCleanup(std::move(Cleanup)) {}
  TScopeExit(TScopeExit&& Other) noexcept
      : FCleanup(std::move(Other.FCleanup)), FActive(std::exchange(Other.FActive, false)) {}
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;
  TScopeExit& operator=(TScopeExit&&) = delete;
  ~TScopeExit() {
    if (FActive) FCleanup();
  }

  // The cleanup will not run.
  void Dismiss() noexcept { FActive = false; }

 private:
  F FCleanup;
  bool FActive = true;
};

// auto Guard = ScopeExit([&] { ... });
template <class F>
[[nodiscard]] TScopeExit<F> ScopeExit(F Cleanup) {
  return TScopeExit<F>(std::move(Cleanup));
}

}  // namespace kv
