// Starting documents and programs through the shell (Windows only).
#pragma once

#include <string>

namespace kv {

// Show commands.
inline constexpr int SW_HIDE_COMMAND = 0;

// ShellExecuteA with the given operation, file, parameters (passed as an
// empty string, not null, when empty), directory and show command, and no
// owner window. Returns 0 when the shell started the file, else the system's
// error code for the failure.
int ShellExecute(const std::string& Operation, const std::string& File,
                 const std::string& Parameters, const std::string& Directory, int ShowCommand);

}  // namespace kv
