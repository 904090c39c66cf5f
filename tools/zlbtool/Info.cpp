// zlbtool info: what an updater is and carries, or what an archive holds.
#include <cinttypes>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>

#include "ArchiveCheck.h"
#include "CommandLine.h"
#include "Commands.h"
#include "ImageFacts.h"
#include "Input.h"
#include "Json.h"
#include "Output.h"
#include "PEImage.h"
#include "PayloadResource.h"
#include "UpdaterPayload.h"
#include "konvoro/RangeStream.h"
#include "konvoro/Text.h"
#include "konvoro/zlb/ZLBReader.h"

namespace zlbtool {

namespace {

constexpr const char* InfoUsage =
    "usage: zlbtool info [--json] [--code-page N] UPDATER|ARCHIVE|STUB\n"
    "\n"
    "For an updater (a PE image): its format, machine and subsystem, the\n"
    "FileVersion and ProductVersion of its version resource (string and fixed\n"
    "parts), the execution level its manifest requests, its Authenticode\n"
    "signature (size and signer; 'osslsigncode verify' checks it), the stub\n"
    "version it was made from, and its payload. For the bare stub: that it is\n"
    "the updater stub, and its version. For an archive: the payload part alone.\n"
    "The payload part: entry count, packed and unpacked bytes, the code page its\n"
    "names are recorded in, whether the archive CRC holds, whether an entry is\n"
    "named wait.exe (any letter case), and the verdict of the check that 'zlbtool\n"
    "test' applies (names, shared data, each entry's data). Exits as test does,\n"
    "after the report: 1 when the payload is missing or fails the check.\n"
    "\n"
    "  --json  print one JSON object:\n"
    "          {\"file\", \"stub\": null | {\"version\"} (the bare stub),\n"
    "           \"image\": null | {\"format\": \"PE32\"|\"PE32+\",\n"
    "           \"machine\": \"i386\"|\"x86-64\"|..., \"subsystem\": \"gui\"|\"console\"|...,\n"
    "           \"file_version\", \"product_version\", \"fixed_file_version\",\n"
    "           \"fixed_product_version\", \"execution_level\", \"made_from_stub\"\n"
    "           (strings or null), \"signature\": {\"present\", \"size\", \"signer\"}},\n"
    "           \"payload\": null | {\"entries\", \"packed\", \"unpacked\" (numbers, null\n"
    "           when the directory cannot be read), \"code_page\" (number or null),\n"
    "           \"crc_ok\", \"wait_exe\", \"check_ok\", \"problems\": [...]}}\n"
    "  --code-page N  the ANSI code page the names are written in\n";

struct TPayloadReport {
  bool CRCHolds = false;
  bool DirectoryRead = false;
  int64_t Entries = 0, Packed = 0, Unpacked = 0;
  std::optional<uint32_t> CodePage;
  bool HasWait = false;
  // The check's problems: none when it passed.
  std::vector<std::string> Problems;
};

// Reads the archive in Stream as the updater does (an empty or very short
// file too), but reports a failing CRC instead of stopping at it.
TPayloadReport ReportPayload(kv::TStream& Stream) {
  TPayloadReport R;
  const kv::TTrailerCheck Check = kv::CheckTrailer(Stream);
  R.CRCHolds = Check.Holds();
  R.CodePage = kv::RecordedCodePage(Check.Trailer);
  std::deque<kv::TZLBFileEntry> Entries;
  try {
    kv::ReadDirectory(Stream, Check.Trailer, Entries);
  } catch (const kv::Exception&) {
    return R;
  }
  R.DirectoryRead = true;
  R.Entries = int64_t(Entries.size());
  for (const kv::TZLBFileEntry& E : Entries) {
    R.Packed += E.CompressedSize;
    R.Unpacked += E.OriginalSize;
    if (kv::SameText(E.FileName.View(), kv::PayloadWaitProgramName)) R.HasWait = true;
  }
  return R;
}

// The stub version that Image was made from: the value of the stub's mark
// in its version resource, which made updaters keep.
std::optional<std::string> StubVersion(const kv::pe::TPEImage& Image) {
  using namespace kv::pe;
  const std::optional<TFileRange> Version =
      Image.FindResource(TResourceKey::ById(RT_VERSION), TResourceKey::AnyFirst());
  if (!Version) return std::nullopt;
  return DecodeVersionInfo(Image.ReadRange(*Version, MaxVersionResourceBytes, "version resource"))
      .String(kv::PayloadStubMarker);
}

// Who signed the image, as its signing certificate's subject names them.
std::optional<std::string> Signer(const kv::pe::TImageFacts& Facts) {
  if (Facts.SignerSubject) return Facts.SignerSubject;
  if (Facts.SignerProblem) return "unreadable: " + *Facts.SignerProblem;
  return std::nullopt;
}

std::string JsonOptional(const std::optional<std::string>& Value) {
  return Value ? JsonString(*Value) : "null";
}

std::string TextOptional(const std::optional<std::string>& Value) {
  return Value ? *Value : "(none)";
}

struct TReport {
  std::string File;
  std::optional<kv::pe::TImageFacts> Image;
  std::optional<std::string> MadeFrom;  // the stub's version
  bool IsStub = false;                  // the bare stub: an image without payload, marked
  std::optional<TPayloadReport> Payload;
};

void PrintJson(const TReport& R) {
  std::string Out = "{\n  \"file\": " + JsonString(R.File) + ",\n  \"stub\": ";
  Out += R.IsStub ? "{\"version\": " + JsonOptional(R.MadeFrom) + "},\n" : std::string("null,\n");
  Out += "  \"image\": ";
  if (const auto& Image = R.Image) {
    Out += Printf(
        "{\"format\": \"%s\", \"machine\": %s, \"subsystem\": %s,\n"
        "            \"file_version\": %s, \"product_version\": %s,\n"
        "            \"fixed_file_version\": %s, \"fixed_product_version\": %s,\n"
        "            \"execution_level\": %s, \"made_from_stub\": %s,\n"
        "            \"signature\": {\"present\": %s, \"size\": %lld, \"signer\": %s}},\n",
        Image->Format.c_str(), JsonString(Image->Machine).c_str(),
        JsonString(kv::pe::SubsystemName(Image->Subsystem)).c_str(),
        JsonOptional(Image->FileVersion).c_str(), JsonOptional(Image->ProductVersion).c_str(),
        JsonOptional(Image->FixedFileVersion).c_str(),
        JsonOptional(Image->FixedProductVersion).c_str(),
        JsonOptional(Image->ExecutionLevel).c_str(),
        JsonOptional(R.IsStub ? std::nullopt : R.MadeFrom).c_str(),
        Image->SignatureBytes ? "true" : "false",
        static_cast<long long>(Image->SignatureBytes.value_or(0)),
        JsonOptional(Image->SignerSubject).c_str());
  } else {
    Out += "null,\n";
  }
  Out += "  \"payload\": ";
  if (!R.Payload) {
    Out += "null\n}\n";
  } else {
    const TPayloadReport& P = *R.Payload;
    std::string Problems;
    for (const std::string& Problem : P.Problems)
      Problems += (Problems.empty() ? "" : ", ") + JsonString(Problem);
    const std::string CodePage = P.CodePage ? std::to_string(*P.CodePage) : "null";
    if (P.DirectoryRead)
      Out += Printf("{\"entries\": %lld, \"packed\": %lld, \"unpacked\": %lld, ",
                    static_cast<long long>(P.Entries), static_cast<long long>(P.Packed),
                    static_cast<long long>(P.Unpacked));
    else
      Out += "{\"entries\": null, \"packed\": null, \"unpacked\": null, ";
    Out += Printf(
        "\"code_page\": %s, \"crc_ok\": %s, \"wait_exe\": %s, \"check_ok\": %s, "
        "\"problems\": [%s]}\n}\n",
        CodePage.c_str(), P.CRCHolds ? "true" : "false", P.HasWait ? "true" : "false",
        P.Problems.empty() ? "true" : "false", Problems.c_str());
  }
  Print(Out);
}

void PrintText(const TReport& R) {
  std::string Out;
  if (R.IsStub)
    Out += "Updater stub:     version " + TextOptional(R.MadeFrom) +
           " (makes updaters: zlbtool updater --stub)\n";
  if (const auto& Image = R.Image) {
    Out += Printf("Image:            %s, %s, %s\n", Image->Format.c_str(), Image->Machine.c_str(),
                  kv::pe::SubsystemText(Image->Subsystem).c_str());
    Out += "FileVersion:      " + TextOptional(Image->FileVersion) + "\n";
    Out += "ProductVersion:   " + TextOptional(Image->ProductVersion) + "\n";
    Out += "Fixed versions:   file " + TextOptional(Image->FixedFileVersion) + ", product " +
           TextOptional(Image->FixedProductVersion) + "\n";
    Out += "Execution level:  " + TextOptional(Image->ExecutionLevel) + "\n";
    if (!R.IsStub) Out += "Made from stub:   " + TextOptional(R.MadeFrom) + "\n";
    if (Image->SignatureBytes) {
      Out += Printf(
          "Signature:        present, %lld bytes (not verified here: osslsigncode "
          "verify checks it)\n",
          static_cast<long long>(*Image->SignatureBytes));
      Out += "Signer:           " + TextOptional(Signer(*Image)) + "\n";
    } else {
      Out += "Signature:        none\n";
    }
  }
  if (R.IsStub) {
    Print(Out);
    return;
  }
  if (!R.Payload) {
    Print(Out + "Payload:          none\n");
    return;
  }
  const TPayloadReport& P = *R.Payload;
  if (P.DirectoryRead)
    Out += Printf("Payload:          %lld entries, %lld bytes packed, %lld bytes unpacked\n",
                  static_cast<long long>(P.Entries), static_cast<long long>(P.Packed),
                  static_cast<long long>(P.Unpacked));
  else
    Out += "Payload:          directory unreadable\n";
  Out += "Code page:        " +
         (P.CodePage ? std::to_string(*P.CodePage) : std::string("none recorded")) + "\n";
  Out += std::string("Archive CRC:      ") + (P.CRCHolds ? "OK" : "FAILED") + "\n";
  Out += Printf("%-18s%s\n", (std::string(kv::PayloadWaitProgramName) + ":").c_str(),
                P.HasWait ? "present" : "absent");
  if (P.Problems.empty())
    Out += "Check:            OK (as zlbtool test checks it)\n";
  else
    Out += Printf("Check:            FAILED, %zu problems: %s\n", P.Problems.size(),
                  P.Problems.front().c_str());
  Print(Out);
}

}  // namespace

int Info(const TArgs& Args) {
  const TParsedArgs Parsed = ParseArgs(Args, {"--json"}, {CodePageOption});
  if (WantsHelp(Parsed)) {
    Print(InfoUsage);
    return 0;
  }
  if (Parsed.Operands.size() != 1) throw EUsageError("info takes exactly one file");
  TReport R;
  R.File = Parsed.Operands[0];

  try {
    kv::TFileStream Stream(R.File, kv::fmOpenRead | kv::fmShareDenyWrite);
    const kv::payload::TPayloadLocation Location = kv::payload::LocatePayload(Stream);
    if (Location.IsImage) {
      const kv::pe::TPEImage Image(Stream);
      R.Image = kv::pe::ReadImageFacts(Image);
      R.MadeFrom = StubVersion(Image);
      R.IsStub = !Location.Archive && R.MadeFrom.has_value();
    }
    if (Location.Archive) {
      // The archive is read in place, through a window when it is embedded.
      kv::TRangeStream Window(
          std::make_unique<kv::TFileStream>(R.File, kv::fmOpenRead | kv::fmShareDenyWrite),
          Location.Archive->Offset, Location.Archive->Size);
      R.Payload = ReportPayload(Window);
    }
  } catch (const kv::pe::EPEFormatError& E) {
    throw kv::Exception(R.File + ": " + E.Message());
  } catch (const kv::EFileStreamError& E) {
    throw kv::Exception(R.File + ": " + (E.Reason() ? E.Reason().message() : E.Message()));
  }
  // The verdict is that of zlbtool test.
  if (R.Payload && R.Payload->CRCHolds && R.Payload->DirectoryRead) {
    kv::TZLBArchive Archive;
    try {
      TInput Input(Archive, R.File, Parsed);
      for (const TProblem& Problem : CheckArchive(Archive, Input, true).AllProblems())
        R.Payload->Problems.push_back(Describe(Problem));
    } catch (const kv::Exception& E) {
      R.Payload->Problems.push_back(kv::DescribeFailure(E));
    }
  }

  if (Parsed.Has("--json"))
    PrintJson(R);
  else
    PrintText(R);
  if (R.IsStub) return 0;
  if (!R.Payload) {
    Complain(R.File + ": " + kv::payload::NoPayloadMessage());
    return 1;
  }
  if (!R.Payload->CRCHolds || !R.Payload->DirectoryRead) {
    Complain(R.File + ": the payload is damaged");
    return 1;
  }
  if (!R.Payload->Problems.empty()) {
    Complain(R.File + ": the payload does not pass the check: " + R.Payload->Problems.front());
    return 1;
  }
  return 0;
}

}  // namespace zlbtool
