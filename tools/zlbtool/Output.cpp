// What zlbtool prints.
#include "Output.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "konvoro/Environment.h"
#include "konvoro/Exceptions.h"

namespace zlbtool {

namespace {
TVerbosity GVerbosity = TVerbosity::Normal;
}  // namespace

void SetVerbosity(TVerbosity Verbosity) {
  GVerbosity = Verbosity;
}

TVerbosity Verbosity() {
  return GVerbosity;
}

void Print(std::string_view Text) {
  kv::WriteStandard(kv::TStandardStream::Output, Text);
}

void Say(std::string_view Text) {
  if (GVerbosity != TVerbosity::Quiet) Print(Text);
}

void Detail(std::string_view Text) {
  if (GVerbosity == TVerbosity::Verbose) Print(Text);
}

void Complain(std::string_view Text) {
  std::fflush(stdout);
  kv::WriteStandard(kv::TStandardStream::Error, "zlbtool: " + std::string(Text) + "\n");
}

void WithFileNamed(const std::string& Path, const std::function<void()>& Step) {
  try {
    Step();
  } catch (const kv::EStreamError& E) {
    if (!E.Reason()) throw;
    throw kv::Exception(Path + ": " + E.Reason().message());
  }
}

std::string Printf(const char* Format, ...) {
  va_list Args;
  va_start(Args, Format);
  va_list Again;
  va_copy(Again, Args);
  const int Length = std::vsnprintf(nullptr, 0, Format, Args);
  va_end(Args);
  std::string Out(Length > 0 ? size_t(Length) : 0, '\0');
  if (Length > 0) std::vsnprintf(Out.data(), Out.size() + 1, Format, Again);
  va_end(Again);
  return Out;
}

TProgressLine::TProgressLine(int64_t TotalBytes)
    : FTotal(TotalBytes),
      FEnabled(kv::StandardErrorIsTerminal() && GVerbosity != TVerbosity::Quiet) {}

TProgressLine::~TProgressLine() {
  if (FEnabled && FDrawn) kv::WriteStandard(kv::TStandardStream::Error, "\r\033[K");
}

void TProgressLine::StartEntry(const std::string& Name, int64_t Size) {
  FName = Name;
  FSize = Size;
}

void TProgressLine::EndEntry() {
  FDoneBefore += FSize;
}

void TProgressLine::Report(int32_t Percentage) {
  if (!FEnabled) return;
  const int64_t Done = FDoneBefore + FSize * Percentage / 100;
  kv::WriteStandard(kv::TStandardStream::Error,
                    Printf("\r\033[K%-48.48s %3" PRId32 "%%  %" PRId64 " / %" PRId64 " bytes",
                           FName.c_str(), Percentage, Done, FTotal));
  FDrawn = true;
}

}  // namespace zlbtool
