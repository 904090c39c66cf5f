// A move-only owner of one kernel handle, shared by the demo programs.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <utility>

// Owns a handle that CloseHandle closes. Both null and INVALID_HANDLE_VALUE
// mean "none", since the API returns one or the other on failure.
class TKernelHandle {
 public:
  TKernelHandle() = default;
  explicit TKernelHandle(HANDLE Handle) : FHandle(Handle) {}
  TKernelHandle(TKernelHandle&& Other) noexcept : FHandle(std::exchange(Other.FHandle, nullptr)) {}
  TKernelHandle& operator=(TKernelHandle&& Other) noexcept {
    if (this != &Other) {
      Close();
      FHandle = std::exchange(Other.FHandle, nullptr);
    }
    return *this;
  }
  TKernelHandle(const TKernelHandle&) = delete;
  TKernelHandle& operator=(const TKernelHandle&) = delete;
  ~TKernelHandle() { Close(); }

  bool Valid() const { return FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return FHandle; }

 private:
  void Close() {
    if (Valid()) ::CloseHandle(FHandle);
    FHandle = nullptr;
  }

  HANDLE FHandle = nullptr;
};
