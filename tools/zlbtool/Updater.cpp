// zlbtool updater: makes an updater of the stub and a release, without a
// compiler.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "EntryCheck.h"
#include "ImageFacts.h"
#include "ImageWriter.h"
#include "Input.h"
#include "PEMessages.h"
#include "Packing.h"
#include "PayloadResource.h"
#include "UpdaterPayload.h"
#include "konvoro/Environment.h"
#include "konvoro/Files.h"
#include "konvoro/Format.h"
#include "konvoro/Streams.h"
#include "konvoro/Text.h"
#include "konvoro/UniqueHandle.h"
#include "konvoro/zlb/ArchiveMessages.h"
#include "konvoro/zlb/ZLBReader.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace zlbtool {

namespace {

constexpr const char* UpdaterUsage =
    "usage: zlbtool updater [--stub FILE] [--version A.B.C.D] -o OUT.exe FILE|DIR...\n"
    "       zlbtool updater [--stub FILE] [--version A.B.C.D] -o OUT.exe --payload ARCHIVE\n"
    "\n"
    "Makes an updater: a copy of the stub that carries the archive that\n"
    "'zlbtool pack' makes of the same files as its RCDATA resource ZLBDATA\n"
    "(neutral language). The release must hold wait.exe, its file names must be\n"
    "ones the updater extracts, and no two may land on one name. The stub's\n"
    "manifest, other resources and sections are kept; a certificate table is\n"
    "dropped (sign the updater afterwards) and the checksum computed anew.\n"
    "OUT.exe appears only once complete and read back: its payload must test\n"
    "clean and hold wait.exe. The same arguments give the same bytes.\n"
    "\n"
    "  -o, --output FILE  the updater to write\n"
    "  --stub FILE        the stub, KVUpdater-stub.exe; default: the one installed\n"
    "                     with zlbtool,\n"
    "                     %s\n"
    "  --version A.B.C.D  the release's version: the fixed file and product versions\n"
    "                     and the FileVersion and ProductVersion strings (default:\n"
    "                     the stub's)\n"
    "  --payload ARCHIVE  carry ARCHIVE as it is instead of packing files; checked\n"
    "                     as the updater is\n"
    "\n"
    "For the build's test variants, whose payloads fail on purpose:\n"
    "  --allow-no-wait          accept a release without wait.exe (its script's\n"
    "                           \"@wait\" would run whatever \"wait\" the PATH offers)\n"
    "  --allow-damaged-payload  carry the payload untested (implies --allow-no-wait)\n";

// The texts of the refusals; FILE: first where a file is at fault.
constexpr const char* SMalformedVersion =
    "malformed version '%s': four numbers from 0 to 65535 without leading zeros, as 3.1.4.1";
constexpr const char* SNoWait =
    "the release has no %s: the update script's \"@wait\" runs it from the update folder, and "
    "without one the elevated command interpreter would run whatever \"wait\" the PATH offers";
constexpr const char* SUnsafeName = "%s: the updater refuses to extract a file named '%s'";
constexpr const char* SStubCarriesPayload =
    "%s: already carries a payload (RCDATA %s): give the stub, not an updater";
constexpr const char* SNotAStub =
    "%s: not a Konvoro updater stub: its version resource has no %s string";
constexpr const char* SNoDefaultStub =
    "no stub given, and none installed with zlbtool at '%s' (give one with --stub FILE)";
constexpr const char* SNotTestedClean = "%s: the payload does not test clean: %s";
constexpr const char* SNotCarried = "%s: the updater written does not carry its payload";

// A stub's resources are a few kilobytes: manifest, version, form.
constexpr size_t MaxStubResourceBytes = 16 << 20;

// Where zlbtool installs the stub: beside itself, or (KV_STUB_BESIDE_PROGRAM
// going up with "../") in a directory near it. "" when the program's own
// path has no exact name.
std::string DefaultStub() {
  const kv::TExactPath Program = kv::GetExactModuleFileName();
  if (!Program.Exact) return std::string();
  std::string Dir = kv::ExtractFilePath(*Program.Exact);
  std::string_view Relative = KV_STUB_BESIDE_PROGRAM;
  while (Relative.starts_with("../") && Dir.size() > 1) {
    Dir = kv::ExtractFilePath(Dir.substr(0, Dir.size() - 1));
    Relative.remove_prefix(3);
  }
  return Dir + std::string(Relative);
}

kv::pe::TResourceId Utf16Id(std::string_view Ascii) {
  return kv::pe::TResourceId::ByName(std::u16string(Ascii.begin(), Ascii.end()));
}

// Raises kv::Exception unless Image is this project's stub, without a
// payload: its version resource carries the stub's mark.
void CheckIsStub(const kv::pe::TPEImage& Image, const std::string& Stub) {
  using namespace kv::pe;
  if (Image.FindResource(TResourceKey::ById(kv::PayloadResourceType),
                         TResourceKey::ByName(kv::PayloadResourceName)))
    throw kv::Exception(
        kv::Format(SStubCarriesPayload, Stub, kv::UpperCase(kv::PayloadResourceName)));
  const std::optional<TFileRange> Version =
      Image.FindResource(TResourceKey::ById(RT_VERSION), TResourceKey::AnyFirst());
  if (!Version ||
      !DecodeVersionInfo(Image.ReadRange(*Version, MaxVersionResourceBytes, "version resource"))
           .String(kv::PayloadStubMarker))
    throw kv::Exception(kv::Format(SNotAStub, Stub, kv::PayloadStubMarker));
}

// Reads back the updater written to Partial: its payload must be the
// archive of ArchiveSize bytes, and unless AllowDamaged, test clean and,
// unless AllowNoWait, hold wait.exe. Raises kv::Exception naming Output.
void ReadBack(const std::string& Partial, const std::string& Output, int64_t ArchiveSize,
              bool AllowNoWait, bool AllowDamaged) {
  {
    kv::TFileStream Stream(Partial, kv::fmOpenRead | kv::fmShareDenyWrite);
    const kv::payload::TPayloadLocation Location = kv::payload::LocatePayload(Stream);
    if (!Location.IsImage || !Location.Archive || Location.Archive->Size != ArchiveSize)
      throw kv::Exception(kv::Format(SNotCarried, Output));
  }
  if (AllowDamaged) return;
  // Checked as zlbtool test checks an archive.
  kv::TZLBArchive Archive;
  std::optional<TInput> Input;
  try {
    Input.emplace(Archive, Partial);
    Input->RequireDataApart();
  } catch (const kv::Exception& E) {
    throw kv::Exception(kv::Format(SNotTestedClean, Output, kv::DescribeFailure(E)));
  }
  bool HasWait = false;
  kv::TZLBFileEntry Entry;
  for (int32_t I = 0; I < Archive.GetFileCount(); ++I) {
    Archive.GetFileEntry(I, Entry);
    if (kv::SameText(Entry.FileName.View(), kv::PayloadWaitProgramName)) HasWait = true;
    const std::string Problem = EntryProblem(Archive, *Input, I, Entry);
    if (!Problem.empty())
      throw kv::Exception(
          kv::Format(SNotTestedClean, Output, Entry.FileName.ToString() + ": " + Problem));
  }
  if (!HasWait && !AllowNoWait)
    throw kv::Exception(Output + ": " + kv::Format(SNoWait, kv::PayloadWaitProgramName));
}

// The stub, open and checked, ready to be written with a payload.
struct TOpenStub {
  std::unique_ptr<kv::TFileStream> Stream;
  std::unique_ptr<kv::pe::TPEImage> Image;
  std::vector<kv::pe::TResource> Resources;
  std::unique_ptr<kv::pe::TImageRewriter> Rewriter;
};

// Opens Stub and checks that it is this project's stub, without a payload,
// and one the writer can rewrite; reads its resources, the version
// resources given Version when set. Raises kv::Exception naming the stub.
TOpenStub OpenStub(const std::string& Stub, const std::optional<kv::pe::TVersionNumber>& Version) {
  TOpenStub Open;
  Open.Stream = std::make_unique<kv::TFileStream>(Stub, kv::fmOpenRead | kv::fmShareDenyWrite);
  try {
    // A file too short for the headers is no image either.
    if (!kv::pe::StartsAsExecutable(*Open.Stream))
      throw kv::pe::EPEFormatError(kv::pe::messages::SNotExecutable);
    Open.Image = std::make_unique<kv::pe::TPEImage>(*Open.Stream);
    CheckIsStub(*Open.Image, Stub);
    Open.Rewriter = std::make_unique<kv::pe::TImageRewriter>(*Open.Image);
    Open.Resources = kv::pe::ReadResources(*Open.Image, MaxStubResourceBytes);
    if (Version)
      for (kv::pe::TResource& R : Open.Resources)
        if (R.Type == kv::pe::TResourceId::ById(kv::pe::RT_VERSION))
          R.Bytes = kv::pe::WithVersion(R.Bytes, *Version);
  } catch (const kv::pe::EPEFormatError& E) {
    throw kv::Exception(Stub + ": " + E.Message());
  }
  return Open;
}

// Writes to Partial the updater made of Stub and the archive in Archive.
void WriteUpdater(const TOpenStub& Stub, const std::string& StubName, kv::TStream& Archive,
                  const std::string& Partial) {
  std::vector<kv::pe::TResource> Resources = Stub.Resources;
  kv::pe::TResource Payload;
  Payload.Type = kv::pe::TResourceId::ById(kv::PayloadResourceType);
  Payload.Name = Utf16Id(kv::UpperCase(kv::PayloadResourceName));
  Payload.Language = kv::pe::TResourceId::ById(kv::pe::NeutralLanguage);
  Payload.Stream = &Archive;
  Resources.push_back(std::move(Payload));
  kv::TBufferedFileStream Out(Partial, kv::fmCreate);
  try {
    Stub.Rewriter->Write(Resources, Out);
  } catch (const kv::pe::EPEFormatError& E) {
    throw kv::Exception(StubName + ": " + E.Message());
  }
  Out.Flush();
}

}  // namespace

int Updater(const TArgs& Args) {
  const TParsedArgs Parsed =
      ParseArgs(Args, {"--allow-no-wait", "--allow-damaged-payload", "--help", "-h"},
                {"-o", "--output", "--stub", "--version", "--payload"});
  if (Parsed.Has("--help") || Parsed.Has("-h")) {
    const std::string Stub = DefaultStub();
    std::printf(UpdaterUsage, Stub.empty() ? "which cannot be named" : Stub.c_str());
    return 0;
  }
  const std::string Output = Parsed.Value("-o", Parsed.Value("--output", ""));
  if (Output.empty()) throw EUsageError("no updater to write given (-o OUT.exe)");
  const std::string Payload = Parsed.Value("--payload", "");
  if (Payload.empty() && Parsed.Operands.empty()) throw EUsageError("no release files given");
  if (!Payload.empty() && !Parsed.Operands.empty())
    throw EUsageError("give either the release's files or --payload ARCHIVE, not both");
  std::optional<kv::pe::TVersionNumber> Version;
  if (Parsed.Values.count("--version") != 0) {
    const std::string Text = Parsed.Value("--version", "");
    Version = kv::pe::ParseVersion(Text);
    if (!Version) throw EUsageError(kv::Format(SMalformedVersion, Text));
  }
  const bool AllowDamaged = Parsed.Has("--allow-damaged-payload");
  const bool AllowNoWait = AllowDamaged || Parsed.Has("--allow-no-wait");
  std::string Stub = Parsed.Value("--stub", "");
  if (Stub.empty()) {
    Stub = DefaultStub();
    if (Stub.empty() || !kv::FileExists(Stub))
      throw kv::Exception(kv::Format(SNoDefaultStub, Stub));
  }
  // A wrong stub is refused before any file is packed.
  std::optional<TOpenStub> Opened = OpenStub(Stub, Version);

  std::vector<TPackInput> Inputs;
  if (Payload.empty()) {
    Inputs = GatherInputs(Parsed.Operands, false);
    CheckInputs(Inputs, false, " (the updater extracts every file into one folder)");
    bool HasWait = false;
    for (const TPackInput& In : Inputs) {
      if (!kv::IsSafeEntryName(In.Name))
        throw kv::Exception(kv::Format(SUnsafeName, In.SourcePath, In.Name));
      HasWait = HasWait || kv::SameText(In.Name, kv::PayloadWaitProgramName);
    }
    if (!HasWait && !AllowNoWait)
      throw kv::Exception(kv::Format(SNoWait, kv::PayloadWaitProgramName));
  }

  // Nothing appears under Output until it is complete and read back.
  const std::string Partial = Output + ".partial";
  const std::string PackedPartial = Output + ".payload.partial";
  auto RemovePartials = kv::ScopeExit([&] {
    (void)kv::DeleteFile(Partial);
    (void)kv::DeleteFile(PackedPartial);
  });
  int64_t ArchiveSize = 0;
  {
    std::unique_ptr<kv::TFileStream> Archive;
    if (Payload.empty()) {
      Archive = std::make_unique<kv::TFileStream>(PackedPartial, kv::fmCreate);
      WriteArchive(Inputs, {}, *Archive);
    } else {
      Archive = std::make_unique<kv::TFileStream>(Payload, kv::fmOpenRead | kv::fmShareDenyWrite);
    }
    ArchiveSize = Archive->GetSize();
    WriteUpdater(*Opened, Stub, *Archive, Partial);
  }
  // Closed before the output replaces anything: the stub may be its name.
  Opened.reset();
  (void)kv::DeleteFile(PackedPartial);
  ReadBack(Partial, Output, ArchiveSize, AllowNoWait, AllowDamaged);
  if (const std::error_code Error = kv::RenameFile(Partial, Output))
    throw kv::Exception("cannot rename '" + Partial + "' to '" + Output + "': " + Error.message());
  RemovePartials.Dismiss();
  return 0;
}

}  // namespace zlbtool
