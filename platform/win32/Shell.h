// Starting documents and programs through the shell (Windows only).
#pragma once

#include <string>
#include <system_error>

namespace kv {

// Show commands.
inline constexpr int SW_HIDE_COMMAND = 0;

// ShellExecuteA with the given operation, file, parameters (passed as an
// empty string, not null, when empty), directory and show command, and no
// owner window. Fails with the system's reason when the shell did not start
// the file.
[[nodiscard]] std::error_code ShellExecute(const std::string& Operation, const std::string& File,
                                           const std::string& Parameters,
                                           const std::string& Directory, int ShowCommand);

}  // namespace kv
