// Starting documents and programs through shell32.
#include "Shell.h"

#include "WinApi.h"
#include "konvoro/OSError.h"

#include <shellapi.h>

#undef ShellExecute

namespace kv {

namespace {

// The shell's own result codes (32 or less) as system error codes.
DWORD SystemErrorOf(INT_PTR Result) {
  switch (Result) {
    case 0:
    case SE_ERR_OOM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SE_ERR_SHARE:
      return ERROR_SHARING_VIOLATION;
    case SE_ERR_ASSOCINCOMPLETE:
    case SE_ERR_NOASSOC:
      return ERROR_NO_ASSOCIATION;
    case SE_ERR_DDETIMEOUT:
    case SE_ERR_DDEFAIL:
    case SE_ERR_DDEBUSY:
      return ERROR_DDE_FAIL;
    case SE_ERR_DLLNOTFOUND:
      return ERROR_DLL_NOT_FOUND;
    default:
      return static_cast<DWORD>(Result);  // file and path not found, access denied, bad format
  }
}

}  // namespace

std::error_code ShellExecute(const std::string& Operation, const std::string& File,
                             const std::string& Parameters, const std::string& Directory,
                             int ShowCommand) {
  // The result is the reason: the thread's last error may be left over from
  // any of the calls the shell made on the way, none of which decided.
  const auto Result = reinterpret_cast<INT_PTR>(::ShellExecuteA(nullptr, Operation.c_str(),
                                                                File.c_str(), Parameters.c_str(),
                                                                Directory.c_str(), ShowCommand));
  if (Result > 32) return {};
  return OSError(static_cast<int>(SystemErrorOf(Result)));
}

}  // namespace kv
