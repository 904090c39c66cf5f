// Process hardening done first thing at start-up.
#include "SafeStartup.h"

#include "WinApi.h"

namespace kv {

void RestrictDllSearchToSystem() noexcept {
  // SetDefaultDllDirectories exists from Windows 8 (and 7 with KB2533623).
  using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
  constexpr DWORD LoadLibrarySearchSystem32 = 0x00000800;
  if (HMODULE Kernel = ::GetModuleHandleA("kernel32.dll")) {
    const auto Proc = ::GetProcAddress(Kernel, "SetDefaultDllDirectories");
    if (Proc != nullptr) {
      TSetDefaultDllDirectories SetDirectories;
      static_assert(sizeof SetDirectories == sizeof Proc);
      __builtin_memcpy(&SetDirectories, &Proc, sizeof Proc);
      SetDirectories(LoadLibrarySearchSystem32);
    }
  }
  // An empty string removes the current directory from the search order.
  ::SetDllDirectoryA("");
}

}  // namespace kv
