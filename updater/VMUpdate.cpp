// The scheduler probe.
#include "VMUpdate.h"

#include "Registry.h"

namespace kv::updater {

bool SchedulerIsRegistered() {
  bool Result = false;
  TRegistry Registry;  // closes the key on every way out
  Registry.SetRootKey(TRootKey::LocalMachine);
  if (Registry.OpenKeyReadOnly(SchedulerRunKey)) Result = Registry.ValueExists(SchedulerValueName);
  return Result;
}

}  // namespace kv::updater
