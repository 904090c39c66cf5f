// A release as pack and updater take it.
#include "Release.h"

#include <algorithm>

#include "Output.h"
#include "konvoro/Files.h"

namespace zlbtool {

namespace {

// The separator of the names shown for files below an operand.
#ifdef _WIN32
constexpr char HostSeparator = '\\';
#else
constexpr char HostSeparator = '/';
#endif

constexpr int64_t SizeLimit = int64_t(1) << 31;

std::string Reason(std::error_code Error) {
  return Error.message();
}

class TGatherer {
 public:
  TGatherer(bool WithPaths, const TNameCodec& Codec) : FWithPaths(WithPaths), FCodec(Codec) {}

  void Operand(const std::string& Operand) {
    kv::TErrorOr<kv::TPathInfo> Info = kv::PathInfo(Operand);
    if (!Info) return Problem(TProblemKind::Unreadable, Operand, Reason(Info.Error()));
    switch (Info->Kind) {
      case kv::TFileKind::Directory:
        return Folder(Operand, Operand, "", "");
      case kv::TFileKind::File:
        return File(Operand, Operand, kv::ExtractFileName(Operand), "", "", Info->Size);
      case kv::TFileKind::None:
        return Problem(TProblemKind::Unreadable, Operand, "no such file or folder");
      default:
        return Problem(TProblemKind::NotAFile, Operand, "neither a regular file nor a folder");
    }
  }

  TRelease Take() {
    std::sort(FRelease.Files.begin(), FRelease.Files.end(),
              [](const TReleaseFile& A, const TReleaseFile& B) {
                return A.Path + A.Name < B.Path + B.Name;
              });
    return std::move(FRelease);
  }

 private:
  void Problem(TProblemKind Kind, const std::string& Subject, std::string Cause) {
    FRelease.Problems.push_back({Kind, Subject, std::move(Cause)});
  }

  // Everything below the folder Dir (Subject as shown), whose place below
  // its operand is HostPath in the host's names and Path in the archive's.
  void Folder(const std::string& Dir, const std::string& Subject, const std::string& HostPath,
              const std::string& Path) {
    kv::TErrorOr<std::vector<kv::TDirectoryEntry>> Entries = kv::ListDirectory(Dir);
    if (!Entries) return Problem(TProblemKind::Unreadable, Subject, Reason(Entries.Error()));
    for (const kv::TDirectoryEntry& Entry : *Entries) {
      const std::string Source = Dir + HostSeparator + Entry.Name;
      const std::string Shown = Subject + HostSeparator + Entry.Name;
      const kv::TFileKind Kind = Entry.Kind == kv::TFileKind::Link ? Entry.Target : Entry.Kind;
      if (Entry.Kind == kv::TFileKind::Directory) {
        const std::optional<std::string> Name = FCodec.ToArchive(Entry.Name);
        if (!Name) {
          Problem(TProblemKind::NoForm, Shown, FCodec.NoFormText(Entry.Name));
          continue;
        }
        Folder(Source, Shown, HostPath + Entry.Name + "\\", Path + *Name + "\\");
      } else if (Kind == kv::TFileKind::File) {
        File(Source, Shown, Entry.Name, HostPath, Path, Entry.Size);
      } else if (Entry.Kind != kv::TFileKind::Link) {
        Problem(TProblemKind::NotAFile, Shown, "a FIFO, socket or device, not a regular file");
      } else if (Kind == kv::TFileKind::Directory) {
        Problem(TProblemKind::NotAFile, Shown,
                "a link to a folder, which is not followed: give the folder itself");
      } else if (Kind == kv::TFileKind::None) {
        Problem(TProblemKind::NotAFile, Shown, "a link that leads to no file");
      } else {
        Problem(TProblemKind::NotAFile, Shown, "a link to a FIFO, socket or device");
      }
    }
  }

  void File(const std::string& Source, const std::string& Subject, const std::string& HostName,
            const std::string& HostPath, const std::string& Path, int64_t Size) {
    const std::optional<std::string> Name = FCodec.ToArchive(HostName);
    if (!Name) return Problem(TProblemKind::NoForm, Subject, FCodec.NoFormText(HostName));
    if (Size >= SizeLimit)
      Problem(TProblemKind::TooLarge, Subject,
              Printf("%lld bytes, over the archive's limit of 2 GiB less a byte",
                     static_cast<long long>(Size)));
    FRelease.Files.push_back({Source, Subject, HostName, FWithPaths ? HostPath : std::string(),
                              *Name, FWithPaths ? Path : std::string(), Size});
  }

  bool FWithPaths;
  const TNameCodec& FCodec;
  TRelease FRelease;
};

}  // namespace

TRelease GatherRelease(const std::vector<std::string>& Operands, bool WithPaths,
                       const TNameCodec& Codec) {
  TGatherer Gatherer(WithPaths, Codec);
  for (const std::string& Operand : Operands)
    Gatherer.Operand(Operand);
  return Gatherer.Take();
}

void RefuseRelease(const std::string& What, const std::vector<TProblem>& Problems) {
  std::string Text = What + ": not written, for " + std::to_string(Problems.size()) +
                     (Problems.size() == 1 ? " reason:" : " reasons:");
  for (const TProblem& Problem : Problems)
    Text += "\n  " + Describe(Problem);
  throw kv::Exception(Text);
}

void WriteArchive(const std::vector<TReleaseFile>& Files, kv::TZLBWriterOptions Options,
                  const TNameCodec& Codec, unsigned Threads, kv::TStream& Out) {
  for (const TReleaseFile& File : Files)
    if (Codec.CodePage() != nullptr && (!IsAscii(File.Name) || !IsAscii(File.Path)))
      Options.NameCodePage = Codec.CodePage()->Number();
  kv::TZLBArchiveWriter Writer(Out, Options);
  std::vector<kv::TZLBEntrySource> Sources;
  int64_t Total = 0;
  for (const TReleaseFile& File : Files) {
    Sources.push_back({File.Name, File.Path, [Source = File.Source] {
                         return std::make_unique<kv::TFileStream>(
                             Source, kv::fmOpenRead | kv::fmShareDenyWrite);
                       }});
    Total += File.Size;
  }
  // Progress and the lines of -v come in entry order, whatever the threads.
  TProgressLine Progress(Total);
  size_t Current = Files.size();
  kv::TZLBAddOptions Add;
  Add.Threads = Threads;
  Add.OnProgress = [&](size_t Index, int64_t Done) {
    if (Index != Current) {
      if (Current != Files.size()) Progress.EndEntry();
      Current = Index;
      Progress.StartEntry(Files[Index].Subject, Files[Index].Size);
    }
    if (Files[Index].Size > 0) Progress.Report(int32_t(Done * 100 / Files[Index].Size));
  };
  Add.OnEntryWritten = [&](size_t Index, const kv::TZLBFileEntry&) {
    Detail("  " + Files[Index].Subject + "\n");
  };
  try {
    Writer.AddEntries(Sources, Add);
  } catch (const kv::Exception& E) {
    // The failed entry is the one after the last written.
    const size_t Failed = Writer.Entries().size();
    if (Failed >= Files.size()) throw;
    throw kv::Exception(Files[Failed].Subject + ": " +
                        (E.Reason() ? E.Reason().message() : kv::DescribeFailure(E)));
  }
  Writer.Finish();
}

}  // namespace zlbtool
