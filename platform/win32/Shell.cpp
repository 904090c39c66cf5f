// Starting documents and programs through shell32.
#include "Shell.h"

#include "WinApi.h"

#include <shellapi.h>

#undef ShellExecute

namespace kv {

intptr_t ShellExecute(const std::string& Operation, const std::string& File,
                      const std::string& Parameters, const std::string& Directory,
                      int ShowCommand) {
  return reinterpret_cast<intptr_t>(::ShellExecuteA(nullptr, Operation.c_str(), File.c_str(),
                                                    Parameters.c_str(), Directory.c_str(),
                                                    ShowCommand));
}

}  // namespace kv
