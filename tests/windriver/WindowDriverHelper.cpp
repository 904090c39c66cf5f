// A child process for the window driver's tests: does the one small thing
// its arguments name and reports through its exit code.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

// Usage, with exit codes:
//   windriver_helper sleep MS          sleeps MS milliseconds; 0
//   windriver_helper env NAME [VALUE]  0 when NAME is set (to VALUE, if
//                                      given), 1 when set otherwise, 2 unset
//   windriver_helper exists FILE       0 when FILE exists, else 1
//   windriver_helper exit CODE         CODE
// 100 on bad usage.
int main(int argc, char** argv) {
  const std::vector<std::string> Args(argv + 1, argv + argc);
  if (Args.size() == 2 && Args[0] == "sleep") {
    ::Sleep(static_cast<DWORD>(std::strtoul(Args[1].c_str(), nullptr, 10)));
    return 0;
  }
  if ((Args.size() == 2 || Args.size() == 3) && Args[0] == "env") {
    std::vector<char> Value(32768);
    ::SetLastError(ERROR_SUCCESS);
    const DWORD Length =
        ::GetEnvironmentVariableA(Args[1].c_str(), Value.data(), static_cast<DWORD>(Value.size()));
    if (Length == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return 2;
    if (Args.size() == 2) return 0;
    return std::string(Value.data(), Length) == Args[2] ? 0 : 1;
  }
  if (Args.size() == 2 && Args[0] == "exists")
    return ::GetFileAttributesA(Args[1].c_str()) != INVALID_FILE_ATTRIBUTES ? 0 : 1;
  if (Args.size() == 2 && Args[0] == "exit") return std::atoi(Args[1].c_str());
  return 100;
}
