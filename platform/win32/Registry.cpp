// Read-only registry access through advapi32.
#include "Registry.h"

namespace kv {

namespace {

HKEY RootHandle(TRootKey Root) {
  return Root == TRootKey::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

}  // namespace

bool TRegistry::OpenKeyReadOnly(const std::string& Key) {
  CloseKey();
  const std::string SubKey = (!Key.empty() && Key[0] == '\\') ? Key.substr(1) : Key;
  // No registry-view flag: the process's own view is asked.
  for (const REGSAM Access :
       {REGSAM(KEY_READ), REGSAM(STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS),
        REGSAM(KEY_QUERY_VALUE)}) {
    HKEY Opened = nullptr;
    if (::RegOpenKeyExA(RootHandle(FRoot), SubKey.c_str(), 0, Access, &Opened) == ERROR_SUCCESS) {
      FKey.Reset(Opened);
      return true;
    }
  }
  return false;
}

bool TRegistry::ValueExists(const std::string& Name) const {
  if (!FKey) return false;
  DWORD Type = 0, Size = 0;
  return ::RegQueryValueExA(FKey.Get(), Name.c_str(), nullptr, &Type, nullptr, &Size) ==
         ERROR_SUCCESS;
}

}  // namespace kv
