// The companion scheduler's registration, for the tests.
#include "SchedulerValue.h"

#include "WinHandles.h"

namespace kvtest {

namespace {
constexpr const char* RunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* ValueName = "VelmorSched";
}  // namespace

bool SetSchedulerValue(HKEY Root, DWORD Type, const void* Data, DWORD Size) {
  HKEY Opened = nullptr;
  if (RegCreateKeyExA(Root, RunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &Opened, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const kv::TUniqueKey Key(Opened);
  return RegSetValueExA(Key.Get(), ValueName, 0, Type, static_cast<const BYTE*>(Data), Size) ==
         ERROR_SUCCESS;
}

void RemoveSchedulerValue(HKEY Root) {
  HKEY Opened = nullptr;
  if (RegOpenKeyExA(Root, RunKey, 0, KEY_SET_VALUE, &Opened) != ERROR_SUCCESS) return;
  const kv::TUniqueKey Key(Opened);
  RegDeleteValueA(Key.Get(), ValueName);
}

}  // namespace kvtest
