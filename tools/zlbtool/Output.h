// What zlbtool prints: results on the standard output, failures and
// progress on the standard error, at the verbosity the command line asks
// for (-q: nothing but errors; -v: a line more per file). Text is UTF-8 (a
// Windows console shows its characters).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zlbtool {

enum class TVerbosity : uint8_t { Quiet, Normal, Verbose };
void SetVerbosity(TVerbosity Verbosity);
TVerbosity Verbosity();

// A result: printed unless -q.
void Say(std::string_view Text);
// Detail for -v alone.
void Detail(std::string_view Text);
// What a command reports as its output proper (a listing, JSON): printed
// whatever the verbosity.
void Print(std::string_view Text);
// An error line: "zlbtool: " + Text, on the standard error.
void Complain(std::string_view Text);

// Runs Step, which writes the file Path; a failure to create or write it
// is raised as kv::Exception("PATH: the system's reason").
void WithFileNamed(const std::string& Path, const std::function<void()>& Step);

// printf into a string.
// (C99 conversions everywhere: MinGW builds take its standard stdio.)
std::string Printf(const char* Format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Draws one progress line on a terminal (standard error), never in a pipe
// or with -q: the entry, its percentage, the bytes done of all.
class TProgressLine {
 public:
  explicit TProgressLine(int64_t TotalBytes);
  ~TProgressLine();
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;

  void StartEntry(const std::string& Name, int64_t Size);
  void EndEntry();
  void Report(int32_t Percentage);

 private:
  std::string FName;
  int64_t FSize = 0;
  int64_t FDoneBefore = 0;
  int64_t FTotal;
  bool FEnabled;
  bool FDrawn = false;
};

}  // namespace zlbtool
