// KVUpdater: the program's entry (a GUI-subsystem program). Reads no command
// line; exits 0 on every ordinary way out.
#include <exception>

#include "Forms.h"
#include "SafeStartup.h"
#include "fmDoKVUpdate.h"

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
