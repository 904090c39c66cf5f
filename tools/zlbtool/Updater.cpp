// zlbtool updater: makes an updater of the stub and a release, without a
// compiler.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ArchiveCheck.h"
#include "CommandLine.h"
#include "Commands.h"
#include "ImageFacts.h"
#include "ImageWriter.h"
#include "Input.h"
#include "Output.h"
#include "PEMessages.h"
#include "PayloadResource.h"
#include "Release.h"
#include "UpdaterPayload.h"
#include "WriteBuffer.h"
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
    "usage: zlbtool updater [--stub FILE] [--version A.B.C.D] [--code-page N] [--flatten]\n"
    "                       [--threads N] -o OUT.exe FILE|DIR...\n"
    "       zlbtool updater [--stub FILE] [--version A.B.C.D] [--code-page N]\n"
    "                       -o OUT.exe --payload ARCHIVE\n"
    "\n"
    "Makes an updater: a copy of the stub that carries the archive that\n"
    "'zlbtool pack' makes of the same files as its RCDATA resource ZLBDATA\n"
    "(neutral language). The release is checked first and refused once, with every\n"
    "file at fault and why: names the updater would not extract or the update\n"
    "script could not name, two names that are one file on Windows (the updater\n"
    "extracts every file into one folder), files in sub-folders (unless\n"
    "--flatten), files over 2 GiB, anything that is no regular file. A release\n"
    "without wait.exe gets the one beside the stub, and is told so. The stub's\n"
    "manifest, other resources and sections are kept; a certificate table is\n"
    "dropped (sign the updater afterwards) and the checksum computed anew.\n"
    "OUT.exe appears only once complete and read back: its payload must pass the\n"
    "same check as 'zlbtool test' and hold wait.exe. The same arguments give the\n"
    "same bytes. One line sums up what was made.\n"
    "\n"
    "  -o, --output FILE  the updater to write\n"
    "  --stub FILE        the stub, KVUpdater-stub.exe; default: the one installed\n"
    "                     with zlbtool,\n"
    "                     %s\n"
    "  --version A.B.C.D  the release's version: the fixed file and product versions\n"
    "                     and the FileVersion and ProductVersion strings (default:\n"
    "                     the stub's)\n"
    "  --code-page N      the ANSI code page of the systems it installs on, which\n"
    "                     names are stored in (874, 932, 936, 949, 950, 1250-1258,\n"
    "                     65001); default: the system's on Windows, none (ASCII\n"
    "                     names alone) elsewhere. One updater serves one code page.\n"
    "  --flatten          install the files of sub-folders into the installation\n"
    "                     folder itself, as the updater does with every file\n"
    "  --threads N        entries compressed at once (default: one per processor)\n"
    "  --payload ARCHIVE  carry ARCHIVE as it is instead of packing files; checked\n"
    "                     as the updater is\n"
    "  -q, --quiet        print nothing but errors\n"
    "  -v, --verbose      print each file as it is stored\n"
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
constexpr const char* SStubCarriesPayload =
    "%s: already carries a payload (RCDATA %s): give the stub, not an updater";
constexpr const char* SNotAStub =
    "%s: not a Konvoro updater stub: its version resource has no %s string";
constexpr const char* SNoDefaultStub =
    "no stub given, and none installed with zlbtool at '%s' (give one with --stub FILE)";
constexpr const char* SNotTestedClean = "%s: the payload does not test clean:%s";
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

// Reads back the updater written to Written (Output, still under its
// temporary name): its payload must be the archive of ArchiveSize bytes,
// and unless AllowDamaged, pass the check of zlbtool test and, unless
// AllowNoWait, hold wait.exe. Raises kv::Exception naming Output.
void ReadBack(const kv::TFileStream& Written, const std::string& Output, int64_t ArchiveSize,
              bool AllowNoWait, bool AllowDamaged, const TParsedArgs& Parsed) {
  const auto Duplicate = [&] {
    kv::TErrorOr<kv::TFileHandle> Handle = kv::FileDuplicate(Written.Handle());
    if (!Handle) throw kv::Exception(Output + ": " + Handle.Error().message());
    return std::move(*Handle);
  };
  {
    kv::TFileStream Stream(Output, Duplicate());
    Stream.SetPosition(0);
    const kv::payload::TPayloadLocation Location = kv::payload::LocatePayload(Stream);
    if (!Location.IsImage || !Location.Archive || Location.Archive->Size != ArchiveSize)
      throw kv::Exception(kv::Format(SNotCarried, Output));
  }
  if (AllowDamaged) return;
  // Checked as zlbtool test checks an archive.
  kv::TZLBArchive Archive;
  TInput Input(Archive, Output, Duplicate(), Parsed);
  const TArchiveReport Report = CheckArchive(Archive, Input, true);
  if (!Report.Clean()) {
    std::string Text = kv::Format(SNotTestedClean, Output, "");
    for (const TProblem& Problem : Report.AllProblems())
      Text += "\n  " + Describe(Problem);
    throw kv::Exception(Text);
  }
  if (!Report.HasWait && !AllowNoWait)
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

// Writes to Out the updater made of Stub and the archive in Archive.
void WriteUpdater(const TOpenStub& Stub, const std::string& StubName, kv::TStream& Archive,
                  kv::TStream& Out) {
  std::vector<kv::pe::TResource> Resources = Stub.Resources;
  kv::pe::TResource Payload;
  Payload.Type = kv::pe::TResourceId::ById(kv::PayloadResourceType);
  Payload.Name = Utf16Id(kv::UpperCase(kv::PayloadResourceName));
  Payload.Language = kv::pe::TResourceId::ById(kv::pe::NeutralLanguage);
  Payload.Stream = &Archive;
  Resources.push_back(std::move(Payload));
  TWriteBuffer Buffered(Out);
  try {
    Stub.Rewriter->Write(Resources, Buffered);
  } catch (const kv::pe::EPEFormatError& E) {
    throw kv::Exception(StubName + ": " + E.Message());
  }
  Buffered.Flush();
}

// The files the update script's delete lines leave in update\ (they
// delete *.exe, *.dll, KonvoroServers.txt and *.bin).
bool StaysInUpdateFolder(std::string_view Name) {
  const std::string Lower = kv::LowerCase(Name);
  for (const char* Extension : {".exe", ".dll", ".bin"})
    if (Lower.size() > 4 && Lower.ends_with(Extension)) return false;
  return Lower != "konvoroservers.txt";
}

}  // namespace

int Updater(const TArgs& Args) {
  const TParsedArgs Parsed = ParseArgs(
      Args, {"--allow-no-wait", "--allow-damaged-payload", "--flatten"},
      {"-o", "--output", "--stub", "--version", "--payload", CodePageOption, "--threads"});
  if (WantsHelp(Parsed)) {
    const std::string Stub = DefaultStub();
    Print(Printf(UpdaterUsage, Stub.empty() ? "which cannot be named" : Stub.c_str()));
    return 0;
  }
  const std::string Output = Parsed.Find({"-o", "--output"}).value_or("");
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
  const unsigned Threads = ThreadCount(Parsed);
  const bool AllowDamaged = Parsed.Has("--allow-damaged-payload");
  const bool AllowNoWait = AllowDamaged || Parsed.Has("--allow-no-wait");
  const TNameCodec Codec(WritingCodePage(Parsed));
  std::string Stub = Parsed.Value("--stub", "");
  if (Stub.empty()) {
    Stub = DefaultStub();
    if (Stub.empty() || !kv::FileExists(Stub))
      throw kv::Exception(kv::Format(SNoDefaultStub, Stub));
  }
  // A wrong stub is refused before any file is packed.
  std::optional<TOpenStub> Opened = OpenStub(Stub, Version);

  TRelease Release;
  if (Payload.empty()) {
    // Gathered with their folders, which the updater does not keep: files in
    // sub-folders are refused unless the release says that it means this.
    Release = GatherRelease(Parsed.Operands, true, Codec);
    const bool Flatten = Parsed.Has("--flatten");
    bool HasWait = false;
    for (TReleaseFile& File : Release.Files) {
      if (!File.Path.empty() && !Flatten)
        Release.Problems.push_back(
            {TProblemKind::SubFolder, File.Subject,
             "in a sub-folder, but the updater installs every file into the installation "
             "folder itself (give --flatten if that is what is meant)"});
      File.Path.clear();
      File.HostPath.clear();
      HasWait = HasWait || kv::SameText(File.Name, kv::PayloadWaitProgramName);
    }
    const auto ByName = [](const TReleaseFile& A, const TReleaseFile& B) {
      return A.Name < B.Name;
    };
    std::stable_sort(Release.Files.begin(), Release.Files.end(), ByName);
    // A release without wait.exe gets the one that came with the stub.
    const std::string Waiter = kv::ExtractFilePath(Stub) + kv::PayloadWaitProgramName;
    if (!HasWait && kv::FileExists(Waiter)) {
      kv::TErrorOr<kv::TPathInfo> Info = kv::PathInfo(Waiter);
      Release.Files.push_back({Waiter, Waiter, kv::PayloadWaitProgramName, "",
                               kv::PayloadWaitProgramName, "", Info ? Info->Size : 0});
      std::stable_sort(Release.Files.begin(), Release.Files.end(), ByName);
      Say(Printf("The release has no %s: adding %s\n", kv::PayloadWaitProgramName, Waiter.c_str()));
      HasWait = true;
    }
    if (!HasWait && !AllowNoWait)
      Release.Problems.push_back(
          {TProblemKind::Unreadable, Output, kv::Format(SNoWait, kv::PayloadWaitProgramName)});
    std::vector<TCheckedName> Names;
    for (size_t I = 0; I < Release.Files.size(); ++I)
      Names.push_back({int32_t(I), Release.Files[I].Subject, Release.Files[I].Name, ""});
    for (TProblem& Problem : CheckNames(Names, Codec, {}))
      Release.Problems.push_back(std::move(Problem));
    if (!Release.Problems.empty()) RefuseRelease(Output, Release.Problems);
  }

  // Nothing appears under Output until it is complete and read back; the
  // archive packed for it is written beside it and removed.
  int64_t ArchiveSize = 0;
  WithFileNamed(Output, [&] {
    std::optional<kv::TReplacingFileStream> Packed;
    std::unique_ptr<kv::TFileStream> Given;
    kv::TStream* Archive = nullptr;
    if (Payload.empty()) {
      Packed.emplace(Output);
      WriteArchive(Release.Files, {}, Codec, Threads, *Packed);
      Archive = &*Packed;
    } else {
      Given = std::make_unique<kv::TFileStream>(Payload, kv::fmOpenRead | kv::fmShareDenyWrite);
      Archive = Given.get();
    }
    ArchiveSize = Archive->GetSize();
    kv::TReplacingFileStream Written(Output);
    WriteUpdater(*Opened, Stub, *Archive, Written);
    Packed.reset();
    Given.reset();
    // Closed before the output replaces anything: the stub may be its name.
    Opened.reset();
    ReadBack(Written, Output, ArchiveSize, AllowNoWait, AllowDamaged, Parsed);
    (void)Written.Commit();
  });

  if (!Payload.empty()) return 0;
  int64_t Unpacked = 0;
  std::string Staying;
  for (const TReleaseFile& File : Release.Files) {
    Unpacked += File.Size;
    if (StaysInUpdateFolder(File.HostName))
      Staying += (Staying.empty() ? "" : ", ") + File.HostName;
    Detail("  " + File.Subject + "\n");
  }
  Say(Printf(
      "%s: %zu entries, %lld bytes in %lld packed (%.1f%%)%s\n", Output.c_str(),
      Release.Files.size(), static_cast<long long>(Unpacked), static_cast<long long>(ArchiveSize),
      Unpacked > 0 ? 100.0 * double(ArchiveSize) / double(Unpacked) : 100.0,
      Codec.CodePage() ? (", code page " + std::to_string(Codec.CodePage()->Number())).c_str()
                       : ""));
  if (!Staying.empty())
    Say("Left in update\\ after the update (the script deletes only *.exe, *.dll, *.bin and "
        "KonvoroServers.txt): " +
        Staying + "\n");
  return 0;
}

}  // namespace zlbtool

namespace zlbtool {

int Version(const TArgs& Args) {
  if (!Args.empty()) throw EUsageError("--version takes no arguments");
  std::string Out = std::string("zlbtool ") + KV_ZLBTOOL_VERSION + "\n";
  const std::string Stub = DefaultStub();
  std::string StubLine = Stub.empty() ? "(cannot be named)" : Stub;
  if (!Stub.empty() && kv::FileExists(Stub)) {
    try {
      kv::TFileStream Stream(Stub, kv::fmOpenRead | kv::fmShareDenyWrite);
      if (!kv::pe::StartsAsExecutable(Stream)) throw kv::pe::EPEFormatError("not an image");
      const kv::pe::TPEImage Image(Stream);
      const std::optional<kv::pe::TFileRange> Range = Image.FindResource(
          kv::pe::TResourceKey::ById(kv::pe::RT_VERSION), kv::pe::TResourceKey::AnyFirst());
      const std::optional<std::string> Version =
          Range ? kv::pe::DecodeVersionInfo(
                      Image.ReadRange(*Range, kv::pe::MaxVersionResourceBytes, "version resource"))
                      .String(kv::PayloadStubMarker)
                : std::nullopt;
      StubLine += Version ? ", version " + *Version : ", which is no updater stub";
    } catch (const kv::Exception& E) {
      StubLine += ": " + kv::DescribeFailure(E);
    }
  } else if (!Stub.empty()) {
    StubLine += " (not installed)";
  }
  Out += "Default stub:     " + StubLine + "\n";
  const std::string Waiter =
      Stub.empty() ? std::string() : kv::ExtractFilePath(Stub) + kv::PayloadWaitProgramName;
  Out += "Default wait.exe: " + (Waiter.empty() ? std::string("(cannot be named)") : Waiter) +
         (kv::FileExists(Waiter) ? "" : " (not installed)") + "\n";
  Print(Out);
  return 0;
}

}  // namespace zlbtool
