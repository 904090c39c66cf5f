// The scheduler probe: is the client's companion scheduler registered to
// run at log-on?
#pragma once

namespace kv::updater {

inline constexpr const char* SchedulerRunKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* SchedulerValueName = "VelmorSched";

// True when the value "VelmorSched" exists under HKEY_LOCAL_MACHINE's Run
// key (in the process's own view of the registry); false when it does not
// or the key cannot be opened. Raises nothing of its own.
bool SchedulerIsRegistered();

}  // namespace kv::updater
