// zlbtool: packs, lists, tests and extracts ZLB archives, and makes updaters.
#include <exception>
#include <string>

#include "CommandLine.h"
#include "Commands.h"
#include "Output.h"
#include "konvoro/Environment.h"
#include "konvoro/Exceptions.h"

namespace {

constexpr const char* Usage =
    "usage: zlbtool COMMAND [OPTIONS] ...\n"
    "       zlbtool --version\n"
    "\n"
    "commands:\n"
    "  pack     write an archive from files and folders\n"
    "  list     show an archive's entries\n"
    "  test     check an archive as the updater takes it\n"
    "  extract  extract entries into a folder\n"
    "  info     show what an updater, the stub or an archive is and carries\n"
    "  updater  make an updater (KVUpdater.exe) of the stub and a release\n"
    "\n"
    "list, test, extract and info also take an updater (KVUpdater.exe): they\n"
    "read the archive in its RCDATA resource ZLBDATA in place. Every command\n"
    "takes -q (nothing but errors), -v (a line more per file), --opt=value for\n"
    "--opt value, and --help. Exit status: 0 success, 1 failure, 2 usage error.\n"
    "\n"
    "Run 'zlbtool COMMAND --help' for a command's options.\n";

}  // namespace

int main(int argc, char** argv) {
  // Names of every language: UTF-8 here, the wide calls on Windows.
  kv::SetPathEncoding(kv::TPathEncoding::Utf8);
  const std::vector<std::string> All = kv::ProgramArguments(argc, argv);
  if (All.empty()) {
    kv::WriteStandard(kv::TStandardStream::Error, Usage);
    return 2;
  }
  const std::string& Command = All.front();
  if (Command == "--help" || Command == "-h") {
    zlbtool::Print(Usage);
    return 0;
  }
  const zlbtool::TArgs Args(All.begin() + 1, All.end());
  try {
    if (Command == "--version") return zlbtool::Version(Args);
    if (Command == "pack") return zlbtool::Pack(Args);
    if (Command == "list") return zlbtool::List(Args);
    if (Command == "test") return zlbtool::Test(Args);
    if (Command == "extract") return zlbtool::Extract(Args);
    if (Command == "info") return zlbtool::Info(Args);
    if (Command == "updater") return zlbtool::Updater(Args);
    zlbtool::Complain("unknown command '" + Command + "'\nRun 'zlbtool --help' for the commands.");
    return 2;
  } catch (const zlbtool::EUsageError& E) {
    zlbtool::Complain(E.Message() + "\nRun 'zlbtool " + Command + " --help' for usage.");
    return 2;
  } catch (const std::exception& E) {
    // The text, then what caused it: "t.zlb: The archive file appears to be
    // corrupted (Input/output error)".
    zlbtool::Complain(kv::DescribeFailure(E));
    return 1;
  }
}
