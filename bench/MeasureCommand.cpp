// bench_measure: runs commands repeatedly, interleaved; prints median wall time and peak RSS.
//
// usage: bench_measure --runs N --log-dir DIR PLAN
//
// PLAN holds one command a line, fields separated by tabs:
//   LABEL  FRESH_DIR  PROGRAM  [ARG...]
// FRESH_DIR is "-" for none; otherwise it is emptied and recreated before
// every run of that command (not timed), and the last run's output is left
// there so that the caller can check it.
//
// Every command runs once as a warm-up (not counted), so that every counted
// run finds its input in the page cache. Then N rounds follow, each running
// every command once in plan order: a burst of load from elsewhere on the
// machine then disturbs all commands alike rather than one of them. Before
// each run the file system is synced, so that no run pays for writing back an
// earlier run's output. A child's stdout goes to /dev/null and its stderr to
// DIR/LABEL-INDEX.log, so no terminal output is timed (zlbtool draws a
// progress line only on a terminal). Any run that does not exit with status 0
// aborts the whole measurement.
//
// Output, one line per command, tab-separated: LABEL, median wall ms, median
// peak RSS KiB (ru_maxrss of wait4), fastest wall ms, slowest wall ms, median
// CPU ms (user + system).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct TCommand {
  std::string Label;
  std::string FreshDir;  // empty: none
  std::vector<std::string> Argv;
  std::string LogFile;
};

struct TSamples {
  std::vector<double> WallMs;
  std::vector<double> PeakRssKiB;
  std::vector<double> CpuMs;
};

[[noreturn]] void Fail(const std::string& Message) {
  std::fprintf(stderr, "bench_measure: %s\n", Message.c_str());
  std::exit(1);
}

std::vector<std::string> SplitTabs(const std::string& Line) {
  std::vector<std::string> Fields;
  size_t Start = 0;
  for (;;) {
    const size_t Tab = Line.find('\t', Start);
    Fields.push_back(Line.substr(Start, Tab - Start));
    if (Tab == std::string::npos) return Fields;
    Start = Tab + 1;
  }
}

std::vector<TCommand> ReadPlan(const std::string& PlanFile, const std::string& LogDir) {
  std::ifstream Plan(PlanFile);
  if (!Plan) Fail("cannot read " + PlanFile);
  std::vector<TCommand> Commands;
  std::string Line;
  while (std::getline(Plan, Line)) {
    if (Line.empty()) continue;
    std::vector<std::string> Fields = SplitTabs(Line);
    if (Fields.size() < 3) Fail("a plan line needs LABEL, FRESH_DIR and PROGRAM: " + Line);
    TCommand Command;
    Command.Label = Fields[0];
    Command.FreshDir = Fields[1] == "-" ? "" : Fields[1];
    Command.Argv.assign(Fields.begin() + 2, Fields.end());
    std::string Stem = Command.Label;
    std::replace_if(
        Stem.begin(), Stem.end(),
        [](char C) { return !std::isalnum(static_cast<unsigned char>(C)); }, '_');
    Command.LogFile = LogDir + "/" + Stem + "-" + std::to_string(Commands.size()) + ".log";
    Commands.push_back(std::move(Command));
  }
  if (Commands.empty()) Fail(PlanFile + " holds no command");
  return Commands;
}

double NowMs() {
  timespec Now{};
  clock_gettime(CLOCK_MONOTONIC, &Now);
  return double(Now.tv_sec) * 1e3 + double(Now.tv_nsec) / 1e6;
}

double Ms(const timeval& Time) {
  return double(Time.tv_sec) * 1e3 + double(Time.tv_usec) / 1e3;
}

// Only async-signal-safe calls between fork and exec. The descriptors are
// opened close-on-exec; dup2 gives the copies on 1 and 2 no such flag, so
// exactly those survive the exec.
[[noreturn]] void ExecChild(const std::vector<char*>& Argv, const char* LogFile) {
  const int Null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const int Log = open(LogFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (Null < 0 || Log < 0 || dup2(Null, STDOUT_FILENO) < 0 || dup2(Log, STDERR_FILENO) < 0)
    _exit(126);
  execvp(Argv[0], Argv.data());
  _exit(127);
}

void RunOnce(const TCommand& Command, TSamples* Samples) {
  if (!Command.FreshDir.empty()) {
    std::filesystem::remove_all(Command.FreshDir);
    std::filesystem::create_directories(Command.FreshDir);
  }
  sync();
  std::vector<char*> Argv;
  for (const std::string& Arg : Command.Argv)
    Argv.push_back(const_cast<char*>(Arg.c_str()));
  Argv.push_back(nullptr);

  const double Start = NowMs();
  const pid_t Child = fork();
  if (Child < 0) Fail(std::string("fork: ") + std::strerror(errno));
  if (Child == 0) ExecChild(Argv, Command.LogFile.c_str());
  int Status = 0;
  rusage Usage{};
  while (wait4(Child, &Status, 0, &Usage) < 0)
    if (errno != EINTR) Fail(std::string("wait4: ") + std::strerror(errno));
  const double End = NowMs();

  if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) {
    const std::string Why = WIFEXITED(Status)
                                ? "exited with status " + std::to_string(WEXITSTATUS(Status))
                                : "was killed by signal " + std::to_string(WTERMSIG(Status));
    Fail("'" + Command.Label + "' " + Why + " (its stderr is in " + Command.LogFile + ")");
  }
  if (Samples == nullptr) return;
  Samples->WallMs.push_back(End - Start);
  Samples->PeakRssKiB.push_back(double(Usage.ru_maxrss));  // KiB on Linux
  Samples->CpuMs.push_back(Ms(Usage.ru_utime) + Ms(Usage.ru_stime));
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  const size_t Middle = Values.size() / 2;
  if (Values.size() % 2 == 1) return Values[Middle];
  return (Values[Middle - 1] + Values[Middle]) / 2;
}

void MeasurePlan(int Runs, const std::string& LogDir, const std::string& PlanFile) {
  std::filesystem::create_directories(LogDir);
  const std::vector<TCommand> Commands = ReadPlan(PlanFile, LogDir);
  for (const TCommand& Command : Commands)
    RunOnce(Command, nullptr);  // warm-up
  std::vector<TSamples> Samples(Commands.size());
  for (int Round = 0; Round < Runs; ++Round)
    for (size_t I = 0; I < Commands.size(); ++I)
      RunOnce(Commands[I], &Samples[I]);

  for (size_t I = 0; I < Commands.size(); ++I) {
    const TSamples& S = Samples[I];
    std::printf("%s\t%.1f\t%.0f\t%.1f\t%.1f\t%.1f\n", Commands[I].Label.c_str(), Median(S.WallMs),
                Median(S.PeakRssKiB), *std::min_element(S.WallMs.begin(), S.WallMs.end()),
                *std::max_element(S.WallMs.begin(), S.WallMs.end()), Median(S.CpuMs));
  }
}

}  // namespace

int main(int argc, char** argv) {
  int Runs = 0;
  std::string LogDir;
  std::string PlanFile;
  for (int I = 1; I < argc; ++I) {
    const std::string Arg = argv[I];
    if (Arg == "--runs" && I + 1 < argc) {
      Runs = std::atoi(argv[++I]);
    } else if (Arg == "--log-dir" && I + 1 < argc) {
      LogDir = argv[++I];
    } else if (PlanFile.empty() && !Arg.starts_with("-")) {
      PlanFile = Arg;
    } else {
      Fail("usage: bench_measure --runs N --log-dir DIR PLAN");
    }
  }
  if (Runs < 1 || LogDir.empty() || PlanFile.empty())
    Fail("usage: bench_measure --runs N --log-dir DIR PLAN");
  try {
    MeasurePlan(Runs, LogDir, PlanFile);
  } catch (const std::exception& Error) {
    Fail(Error.what());  // e.g. a fresh directory that cannot be made
  }
  return 0;
}
