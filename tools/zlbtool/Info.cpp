// zlbtool info: what an updater is and carries, or what an archive holds.
#include <cinttypes>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>

#include "CommandLine.h"
#include "Commands.h"
#include "ImageFacts.h"
#include "Json.h"
#include "PayloadResource.h"
#include "UpdaterPayload.h"
#include "konvoro/RangeStream.h"
#include "konvoro/Text.h"
#include "konvoro/zlb/ZLBReader.h"

namespace zlbtool {

namespace {

constexpr const char* InfoUsage =
    "usage: zlbtool info [--json] UPDATER|ARCHIVE\n"
    "\n"
    "For an updater (a PE image): its format, machine and subsystem, the\n"
    "FileVersion and ProductVersion of its version resource (string and fixed\n"
    "parts), the execution level its manifest requests, whether it carries an\n"
    "Authenticode signature (presence only: 'osslsigncode verify' checks one),\n"
    "and its payload. For an archive: the payload part alone. The payload part:\n"
    "entry count, packed and unpacked bytes, whether the archive CRC holds and\n"
    "whether an entry is named wait.exe (any letter case).\n"
    "Exits 1 when the payload is missing, its CRC fails or its directory\n"
    "cannot be read, after the report.\n"
    "\n"
    "  --json  print one JSON object:\n"
    "          {\"file\", \"image\": null | {\"format\": \"PE32\"|\"PE32+\",\n"
    "           \"machine\": \"i386\"|\"x86-64\"|..., \"subsystem\": \"gui\"|\"console\"|...,\n"
    "           \"file_version\", \"product_version\", \"fixed_file_version\",\n"
    "           \"fixed_product_version\", \"execution_level\" (strings or null),\n"
    "           \"signature\": {\"present\", \"size\"}},\n"
    "           \"payload\": null | {\"entries\", \"packed\", \"unpacked\" (numbers, null\n"
    "           when the directory cannot be read), \"crc_ok\", \"wait_exe\"}}\n";

struct TPayloadReport {
  bool CRCHolds = false;
  bool DirectoryRead = false;
  int64_t Entries = 0, Packed = 0, Unpacked = 0;
  bool HasWait = false;
};

// Reads the archive in Stream as the updater does (an empty or very short
// file too), but reports a failing CRC instead of stopping at it.
TPayloadReport ReportPayload(kv::TStream& Stream) {
  TPayloadReport R;
  const kv::TTrailerCheck Check = kv::CheckTrailer(Stream);
  R.CRCHolds = Check.Holds();
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

std::string JsonOptional(const std::optional<std::string>& Value) {
  return Value ? JsonString(*Value) : "null";
}

std::string TextOptional(const std::optional<std::string>& Value) {
  return Value ? *Value : "(none)";
}

void PrintJson(const std::string& File, const std::optional<kv::pe::TImageFacts>& Image,
               const std::optional<TPayloadReport>& Payload) {
  std::printf("{\n  \"file\": %s,\n  \"image\": ", JsonString(File).c_str());
  if (Image) {
    std::printf(
        "{\"format\": \"%s\", \"machine\": %s, \"subsystem\": %s,\n"
        "            \"file_version\": %s, \"product_version\": %s,\n"
        "            \"fixed_file_version\": %s, \"fixed_product_version\": %s,\n"
        "            \"execution_level\": %s,\n"
        "            \"signature\": {\"present\": %s, \"size\": %" PRId64 "}},\n",
        Image->Format.c_str(), JsonString(Image->Machine).c_str(),
        JsonString(kv::pe::SubsystemName(Image->Subsystem)).c_str(),
        JsonOptional(Image->FileVersion).c_str(), JsonOptional(Image->ProductVersion).c_str(),
        JsonOptional(Image->FixedFileVersion).c_str(),
        JsonOptional(Image->FixedProductVersion).c_str(),
        JsonOptional(Image->ExecutionLevel).c_str(), Image->SignatureBytes ? "true" : "false",
        Image->SignatureBytes.value_or(0));
  } else {
    std::printf("null,\n");
  }
  std::printf("  \"payload\": ");
  if (!Payload) {
    std::printf("null\n}\n");
  } else if (Payload->DirectoryRead) {
    std::printf("{\"entries\": %" PRId64 ", \"packed\": %" PRId64 ", \"unpacked\": %" PRId64
                ", \"crc_ok\": %s, \"wait_exe\": %s}\n}\n",
                Payload->Entries, Payload->Packed, Payload->Unpacked,
                Payload->CRCHolds ? "true" : "false", Payload->HasWait ? "true" : "false");
  } else {
    std::printf(
        "{\"entries\": null, \"packed\": null, \"unpacked\": null, \"crc_ok\": %s, "
        "\"wait_exe\": false}\n}\n",
        Payload->CRCHolds ? "true" : "false");
  }
}

void PrintText(const std::optional<kv::pe::TImageFacts>& Image,
               const std::optional<TPayloadReport>& Payload) {
  if (Image) {
    std::printf("Image:            %s, %s, %s\n", Image->Format.c_str(), Image->Machine.c_str(),
                kv::pe::SubsystemText(Image->Subsystem).c_str());
    std::printf("FileVersion:      %s\n", TextOptional(Image->FileVersion).c_str());
    std::printf("ProductVersion:   %s\n", TextOptional(Image->ProductVersion).c_str());
    std::printf("Fixed versions:   file %s, product %s\n",
                TextOptional(Image->FixedFileVersion).c_str(),
                TextOptional(Image->FixedProductVersion).c_str());
    std::printf("Execution level:  %s\n", TextOptional(Image->ExecutionLevel).c_str());
    if (Image->SignatureBytes)
      std::printf("Signature:        present, %" PRId64
                  " bytes (not verified here: osslsigncode verify checks it)\n",
                  *Image->SignatureBytes);
    else
      std::printf("Signature:        none\n");
  }
  if (!Payload) {
    std::printf("Payload:          none\n");
    return;
  }
  if (Payload->DirectoryRead)
    std::printf("Payload:          %" PRId64 " entries, %" PRId64 " bytes packed, %" PRId64
                " bytes unpacked\n",
                Payload->Entries, Payload->Packed, Payload->Unpacked);
  else
    std::printf("Payload:          directory unreadable\n");
  std::printf("Archive CRC:      %s\n", Payload->CRCHolds ? "OK" : "FAILED");
  std::printf("%-18s%s\n", (std::string(kv::PayloadWaitProgramName) + ":").c_str(),
              Payload->HasWait ? "present" : "absent");
}

}  // namespace

int Info(const TArgs& Args) {
  const TParsedArgs Parsed = ParseArgs(Args, {"--json", "--help", "-h"}, {});
  if (Parsed.Has("--help") || Parsed.Has("-h")) {
    std::fputs(InfoUsage, stdout);
    return 0;
  }
  if (Parsed.Operands.size() != 1) throw EUsageError("info takes exactly one file");
  const std::string& File = Parsed.Operands[0];

  std::optional<kv::pe::TImageFacts> Image;
  std::optional<TPayloadReport> Payload;
  try {
    kv::TFileStream Stream(File, kv::fmOpenRead | kv::fmShareDenyWrite);
    const kv::payload::TPayloadLocation Location = kv::payload::LocatePayload(Stream);
    if (Location.IsImage) Image = kv::pe::ReadImageFacts(kv::pe::TPEImage(Stream));
    if (Location.Archive) {
      // The archive is read in place, through a window when it is embedded.
      kv::TRangeStream Window(
          std::make_unique<kv::TFileStream>(File, kv::fmOpenRead | kv::fmShareDenyWrite),
          Location.Archive->Offset, Location.Archive->Size);
      Payload = ReportPayload(Window);
    }
  } catch (const kv::pe::EPEFormatError& E) {
    throw kv::Exception(File + ": " + E.Message());
  }

  if (Parsed.Has("--json"))
    PrintJson(File, Image, Payload);
  else
    PrintText(Image, Payload);
  std::fflush(stdout);
  if (!Payload) {
    std::fprintf(stderr, "zlbtool: %s: %s\n", File.c_str(),
                 kv::payload::NoPayloadMessage().c_str());
    return 1;
  }
  if (!Payload->CRCHolds || !Payload->DirectoryRead) {
    std::fprintf(stderr, "zlbtool: %s: the payload is damaged\n", File.c_str());
    return 1;
  }
  return 0;
}

}  // namespace zlbtool
