// Where the tests of the window driver and the demo release find the
// programs they start.
#pragma once

#include <windows.h>

#include <string>

namespace windriver_test {

// The directory of the running test program, with a trailing backslash.
inline std::string ProgramDirectory() {
  char Path[MAX_PATH] = {};
  const DWORD Length = ::GetModuleFileNameA(nullptr, Path, MAX_PATH);
  const std::string Own(Path, Length);
  return Own.substr(0, Own.find_last_of('\\') + 1);
}

// windriver_helper.exe, built beside the tests.
inline std::string HelperPath() {
  return ProgramDirectory() + "windriver_helper.exe";
}

}  // namespace windriver_test
