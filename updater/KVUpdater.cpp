// KVUpdater: the program's entry (a GUI-subsystem program). Reads no command
// line; exits 0 on every ordinary way out.
#include <cstdlib>
#include <exception>

#include "Forms.h"
#include "SafeStartup.h"
#include "fmDoKVUpdate.h"

// What ends the process on an exception nobody catches. The C++ library's
// default writes the exception's type and text to the standard error
// stream, which a GUI program does not have, and brings in the library's
// demangler, the largest single part of the program: this one ends the
// process as the default does after its message.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  std::abort();
}
}  // namespace __gnu_cxx

int main() {
  // Before anything can load a library: only the system directory counts.
  kv::RestrictDllSearchToSystem();

  kv::TApplication App;
  try {
    App.Initialize();
    App.CreateForm(kv::updater::Form1);
    App.Run();
  } catch (const std::exception& E) {
    // Only a damaged build gets here: its form resource could not be read.
    App.ShowException(E);
    return 1;
  }
  return 0;
}
