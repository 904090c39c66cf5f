// The companion scheduler's registration as the tests make and remove it:
// the value "VelmorSched" under the Run key of a root key (Windows only).
#pragma once

#include <windows.h>

namespace kvtest {

// Sets the value under Root's Run key, as Type with Size bytes of Data.
// Returns whether it was set.
bool SetSchedulerValue(HKEY Root, DWORD Type = REG_SZ, const void* Data = "", DWORD Size = 1);
// Removes the value, if there is one.
void RemoveSchedulerValue(HKEY Root);

}  // namespace kvtest
