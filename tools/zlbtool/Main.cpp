// zlbtool: packs, lists, tests and extracts ZLB archives, and makes updaters.
#include <cstdio>
#include <exception>
#include <string>

#include "CommandLine.h"
#include "Commands.h"
#include "konvoro/Exceptions.h"

namespace {

constexpr const char* Usage =
    "usage: zlbtool COMMAND [OPTIONS] ...\n"
    "\n"
    "commands:\n"
    "  pack     write an archive from files and directories\n"
    "  list     show an archive's entries\n"
    "  test     check every entry as extraction would take it\n"
    "  extract  extract entries into a directory\n"
    "  info     show what an updater is and carries, or what an archive holds\n"
    "  updater  make an updater (KVUpdater.exe) of the stub and a release\n"
    "\n"
    "list, test, extract and info also take an updater (KVUpdater.exe): they\n"
    "read the archive in its RCDATA resource ZLBDATA in place.\n"
    "\n"
    "Run 'zlbtool COMMAND --help' for a command's options.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    std::fputs(Usage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 1 : 0;
  }
  const std::string Command = argv[1];
  const zlbtool::TArgs Args(argv + 2, argv + argc);
  try {
    if (Command == "pack") return zlbtool::Pack(Args);
    if (Command == "list") return zlbtool::List(Args);
    if (Command == "test") return zlbtool::Test(Args);
    if (Command == "extract") return zlbtool::Extract(Args);
    if (Command == "info") return zlbtool::Info(Args);
    if (Command == "updater") return zlbtool::Updater(Args);
    std::fprintf(stderr, "zlbtool: unknown command '%s'\n%s", Command.c_str(), Usage);
    return 1;
  } catch (const zlbtool::EUsageError& E) {
    std::fprintf(stderr, "zlbtool: %s\nRun 'zlbtool %s --help' for usage.\n", E.what(),
                 Command.c_str());
    return 1;
  } catch (const std::exception& E) {
    // The text, then what caused it: "The archive file appears to be
    // corrupted (Input/output error)".
    std::fprintf(stderr, "zlbtool: %s\n", kv::DescribeFailure(E).c_str());
    return 1;
  }
}
