// Read-only registry access (Windows only).
#pragma once

#include <cstdint>
#include <string>

#include "WinHandles.h"

namespace kv {

// The predefined root keys.
enum class TRootKey : uint8_t { CurrentUser, LocalMachine };

// A registry access object: one key opened below a root key, closed when
// the object goes (without flushing). The predefined root is never closed.
class TRegistry {
 public:
  TRegistry() = default;
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  void SetRootKey(TRootKey Root) { FRoot = Root; }
  // Opens Key (a leading "\" is relative to the root key) for reading,
  // trying KEY_READ, then STANDARD_RIGHTS_READ | KEY_QUERY_VALUE |
  // KEY_ENUMERATE_SUB_KEYS, then KEY_QUERY_VALUE, each only when the one
  // before it was refused. Returns false when all three are refused.
  bool OpenKeyReadOnly(const std::string& Key);
  // True when the open key has a value Name, whatever its type or size. It
  // asks for type and size only, with no data buffer.
  bool ValueExists(const std::string& Name) const;
  void CloseKey() { FKey.Reset(); }
  bool HasOpenKey() const { return FKey.Valid(); }

 private:
  TRootKey FRoot = TRootKey::CurrentUser;
  TUniqueKey FKey;
};

}  // namespace kv
