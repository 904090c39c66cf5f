// zlbtool extract: extracts all or the named entries into a folder, each
// file written as a new file beside its place and then moved into it, so
// that nothing that stands there is written through or half replaced.
#include <atomic>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "Input.h"
#include "OrderedWork.h"
#include "Output.h"
#include "WriteBuffer.h"
#include "konvoro/Files.h"
#include "konvoro/Format.h"
#include "konvoro/Streams.h"
#include "konvoro/Text.h"
#include "konvoro/zlb/ArchiveMessages.h"
#include "konvoro/zlb/ZLBReader.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace zlbtool {

namespace {

constexpr const char* ExtractUsage =
    "usage: zlbtool extract [-d DIR] [--with-paths] [--check-crc] [--skip-existing]\n"
    "                       [--code-page N] [--threads N] ARCHIVE|UPDATER [NAME...]\n"
    "\n"
    "Extracts every entry, or those named (by name or by stored path and name,\n"
    "letter case ignored), into DIR, under their names in this system's\n"
    "characters (read in the code page given, else the one the archive records).\n"
    "Each file is written beside its place and then moved into it: a link that\n"
    "stands there is replaced, never written through, and a file whose writing\n"
    "fails leaves nothing. An archive whose entries share their data, and an entry\n"
    "that would land on the archive being read, are refused before anything is\n"
    "written.\n"
    "\n"
    "  -d DIR           the destination folder, made if missing (default: the\n"
    "                   current one)\n"
    "  --with-paths     recreate each entry's stored folder below DIR (never\n"
    "                   through a link that stands there)\n"
    "  --check-crc      verify each extracted file against its CRC-32\n"
    "  --skip-existing  leave files that already exist untouched\n"
    "  --code-page N    the ANSI code page the names are written in\n"
    "  --threads N      entries inflated at once (default: one per processor);\n"
    "                   files are still written, reported and failed in order\n"
    "  -q, --quiet      print nothing but errors\n"
    "  -v, --verbose    print each file as it is written\n";

#ifdef _WIN32
constexpr char HostSeparator = '\\';
#else
constexpr char HostSeparator = '/';
#endif

// One entry to write, its names in this system's characters.
struct TTarget {
  int32_t Index;
  std::string Name;                  // the file's name
  std::vector<std::string> Folders;  // its stored folders below DIR, with --with-paths
  std::string Shown;                 // DIR, the folders and the name
  int64_t Size;
};

// The stored path's folders, in this system's characters: every run of
// backslashes is one separator, so "sub\", "\sub\" and "sub" all name one
// folder below the destination. Raises kv::Exception when the path leaves
// the destination or has no form here.
std::vector<std::string> FoldersOf(std::string_view Path, const TNameCodec& Codec,
                                   const std::string& Entry) {
  if (!kv::IsSafeEntryPath(Path, Codec.Rules()))
    throw kv::Exception(Entry + ": " + kv::messages::SUnableToCreateDestPath +
                        ": its stored folder does not stay below the destination");
  std::vector<std::string> Folders;
  std::string Part;
  const auto EndPart = [&] {
    if (Part.empty()) return;
    const std::optional<std::string> Host = Codec.ToHost(Part);
    if (!Host) throw kv::Exception(Entry + ": " + Codec.NoFormText(Part));
    Folders.push_back(*Host);
    Part.clear();
  };
  kv::ForEachChar(Codec.Rules(), Path, [&](std::string_view Char) {
    if (Char == "\\" || Char == "/")
      EndPart();
    else
      Part += Char;
  });
  EndPart();
  return Folders;
}

kv::TFileHandle Held(kv::TErrorOr<kv::TFileHandle> Folder, const std::string& Shown) {
  if (!Folder) throw kv::Exception(Shown + ": " + Folder.Error().message());
  return std::move(*Folder);
}

// The folder a target's file is written in, held with those above it.
struct TPlace {
  std::vector<kv::TFileHandle> Chain;
  const kv::TFileHandle* Folder;
};

// Target's folder below Destination (Dir), made where missing. Without
// Create, none when one is missing or cannot be opened.
std::optional<TPlace> PlaceOf(const kv::TFileHandle& Destination, const std::string& Dir,
                              const TTarget& Target, bool Create) {
  TPlace Place{{}, &Destination};
  Place.Chain.reserve(Target.Folders.size());
  std::string Shown = Dir;
  for (const std::string& Name : Target.Folders) {
    Shown += HostSeparator + Name;
    kv::TErrorOr<kv::TFileHandle> Next = kv::DirectoryOpenIn(*Place.Folder, Name, Create);
    if (!Next && !Create) return std::nullopt;
    Place.Chain.push_back(Held(std::move(Next), Shown));
    Place.Folder = &Place.Chain.back();
  }
  return Place;
}

bool Exists(const kv::TFileHandle& Folder, const std::string& Name) {
  kv::TErrorOr<kv::TNameInfo> Info = kv::NameInfoIn(Folder, Name);
  return Info && Info->Kind != kv::TFileKind::None;
}

// One entry on its way to its file on a worker thread.
struct TEntryWrite {
  const TTarget* Target;
  kv::TZLBFileEntry Entry;
  TPlace Place;
  std::unique_ptr<kv::TReplacingFileStream> Out;  // complete, not yet committed
  std::atomic<int64_t> Done = 0;                  // bytes inflated so far
};

// Inflates entries on Threads threads, each into a new file of its own, and
// commits them here in index order, as the one-thread loop does: a worker
// runs ahead by up to two entries per thread, and an entry that fails
// stops the command before any later one takes its place (those written
// are removed when their streams go). A folder still missing is made only
// once every entry before it is in place, and --skip-existing is asked
// again when an entry's turn comes, since an earlier one may have made its
// file meanwhile.
void ExtractInParallel(const std::vector<TTarget>& Targets, kv::TZLBArchive& Archive, TInput& Input,
                       const kv::TFileHandle& Destination, const std::string& Dir,
                       bool SkipExisting, bool CheckCRC, unsigned Threads,
                       TProgressLine& Progress) {
  const std::string& File = Input.File();
  std::deque<std::unique_ptr<TEntryWrite>> Window;  // before the workers, who use it
  TOrderedWork Workers(Threads);
  // The oldest entry stays in Window until its worker is done with it.
  const auto CommitOldest = [&] {
    TEntryWrite& Write = *Window.front();
    const TTarget& Target = *Write.Target;
    if (SkipExisting && Exists(*Write.Place.Folder, Target.Name)) {
      (void)Workers.TakeOldest();  // its file is not wanted, nor its failure
      Window.pop_front();
      return;
    }
    Progress.StartEntry(Target.Shown, Target.Size);
    const std::exception_ptr Failure = Workers.TakeOldest([&] {
      if (Target.Size > 0)
        if (const auto Percentage = int32_t(Write.Done * 100 / Target.Size); Percentage > 0)
          Progress.Report(Percentage);
    });
    const std::unique_ptr<TEntryWrite> Taken = std::move(Window.front());
    Window.pop_front();
    if (Failure) std::rethrow_exception(Failure);
    WithFileNamed(Target.Shown, [&] { (void)Taken->Out->Commit(); });
    Progress.EndEntry();
    Detail("  " + Target.Shown + "\n");
  };

  for (const TTarget& Target : Targets) {
    std::optional<TPlace> Place = PlaceOf(Destination, Dir, Target, false);
    if (!Place) {
      while (!Window.empty())
        CommitOldest();
      Place = PlaceOf(Destination, Dir, Target, true);
    }
    if (SkipExisting && Exists(*Place->Folder, Target.Name)) continue;
    while (Window.size() >= 2 * size_t(Threads))
      CommitOldest();
    auto Write = std::make_unique<TEntryWrite>();
    Write->Target = &Target;
    Archive.GetFileEntry(Target.Index, Write->Entry);
    Write->Place = std::move(*Place);
    TEntryWrite& Posted = *Write;
    Window.push_back(std::move(Write));
    Workers.Post([&Posted, &Input, &File, CheckCRC](const std::atomic<bool>& Stopping) {
      const TTarget& Mine = *Posted.Target;
      WithFileNamed(Mine.Shown, [&] {
        Posted.Out =
            std::make_unique<kv::TReplacingFileStream>(*Posted.Place.Folder, Mine.Name, Mine.Shown);
        TWriteBuffer Buffered(*Posted.Out);
        try {
          const std::unique_ptr<kv::TStream> Source = Input.OpenEntry(Mine.Index);
          kv::ExtractEntry(*Source, Posted.Entry, Mine.Index, Buffered, CheckCRC,
                           {.Started = {}, .ChunkRead = [&](int32_t Delivered) {
                              if (Stopping) throw kv::Exception("stopped");
                              Posted.Done += Delivered;
                            }});
        } catch (const kv::EZLBArchiveError& E) {
          throw kv::Exception(File + ": " + E.Message() + kv::FailureCauses(E));
        }
        Buffered.Flush();
      });
    });
  }
  while (!Window.empty())
    CommitOldest();
}

}  // namespace

int Extract(const TArgs& Args) {
  const TParsedArgs Parsed = ParseArgs(Args, {"--with-paths", "--check-crc", "--skip-existing"},
                                       {"-d", CodePageOption, "--threads"});
  if (WantsHelp(Parsed)) {
    Print(ExtractUsage);
    return 0;
  }
  if (Parsed.Operands.empty()) throw EUsageError("no archive given");
  const unsigned Threads = ThreadCount(Parsed);
  const std::string Dir = Parsed.Value("-d", ".");
  const bool WithPaths = Parsed.Has("--with-paths");
  const bool SkipExisting = Parsed.Has("--skip-existing");
  const std::string& File = Parsed.Operands[0];

  kv::TZLBArchive Archive;
  Archive.SetCheckCRC(Parsed.Has("--check-crc"));
  TInput Input(Archive, File, Parsed);
  Input.RequireDataApart();
  const TNameCodec& Codec = Input.Codec();
  const int32_t Count = Archive.GetFileCount();

  // Select the entries and name their files before anything is written.
  std::vector<TTarget> Targets;
  std::vector<bool> NameFound(Parsed.Operands.size(), false);
  kv::TZLBFileEntry Entry;
  int64_t TotalBytes = 0;
  for (int32_t I = 0; I < Count; ++I) {
    Archive.GetFileEntry(I, Entry);
    const std::string Shown = Input.Shown(Entry);
    bool Wanted = Parsed.Operands.size() == 1;
    for (size_t N = 1; N < Parsed.Operands.size(); ++N) {
      const std::string& Want = Parsed.Operands[N];
      if (kv::SameText(Want, Codec.Shown(Entry.FileName.View())) || kv::SameText(Want, Shown)) {
        Wanted = true;
        NameFound[N] = true;
      }
    }
    if (!Wanted) continue;
    // Refused before anything is created: such a name would land outside
    // DIR, on a device or in a stream, or name another file.
    const std::optional<std::string> Name = Codec.ToHost(Entry.FileName.View());
    if (!Name)
      throw kv::Exception(Shown + ": " + Codec.NoFormText(Codec.Shown(Entry.FileName.View())));
    if (!kv::IsSafeEntryName(Entry.FileName.View(), Codec.Rules()))
      throw kv::Exception(Shown + ": " + kv::Format(kv::messages::SFileInvalidName, I));
    TTarget Target{I, *Name, {}, Dir, Entry.OriginalSize};
    if (WithPaths) Target.Folders = FoldersOf(Entry.FilePath.View(), Codec, Shown);
    for (const std::string& Folder : Target.Folders)
      Target.Shown += HostSeparator + Folder;
    Target.Shown += HostSeparator + Target.Name;
    Targets.push_back(std::move(Target));
    TotalBytes += Entry.OriginalSize;
  }
  for (size_t N = 1; N < Parsed.Operands.size(); ++N)
    if (!NameFound[N]) throw kv::Exception(File + ": no entry named '" + Parsed.Operands[N] + "'");

  // A missing destination is made, parents included, as unzip and 7z do.
  if (!kv::DirectoryExists(Dir))
    if (const std::error_code Error = kv::ForceDirectories(Dir))
      throw kv::Exception(Dir + ": " + Error.message());
  const kv::TFileHandle Destination = Held(kv::DirectoryOpen(Dir), Dir);

  // No entry may land on the archive itself, whatever name reaches it: it
  // would be destroyed while it is read.
  {
    const kv::TFileHandle ArchiveFile =
        Held(kv::FileOpen(File, kv::fmOpenRead | kv::fmShareDenyWrite), File);
    kv::TErrorOr<kv::TFileIdentity> Identity = kv::FileIdentityOf(ArchiveFile);
    if (!Identity) throw kv::Exception(File + ": " + Identity.Error().message());
    for (const TTarget& Target : Targets) {
      std::vector<kv::TFileHandle> Chain;
      const kv::TFileHandle* Folder = &Destination;
      bool Reached = true;
      for (const std::string& Name : Target.Folders) {
        kv::TErrorOr<kv::TFileHandle> Next = kv::DirectoryOpenIn(*Folder, Name, false);
        if (!Next) {
          Reached = false;
          break;
        }
        Chain.push_back(std::move(*Next));
        Folder = &Chain.back();
      }
      if (!Reached) continue;
      kv::TErrorOr<kv::TNameInfo> Info = kv::NameInfoIn(*Folder, Target.Name);
      if (Info && Info->Kind != kv::TFileKind::None && Info->Identity == *Identity)
        throw kv::Exception(Target.Shown + ": is the archive being read; extract it elsewhere");
    }
  }

  TProgressLine Progress(TotalBytes);
  if (Threads > 1 && Targets.size() > 1) {
    ExtractInParallel(Targets, Archive, Input, Destination, Dir, SkipExisting,
                      Parsed.Has("--check-crc"), Threads, Progress);
    return 0;
  }
  Archive.SetOnProgress([&Progress](std::string, int32_t Percentage) {
    if (Percentage > 0) Progress.Report(Percentage);
  });
  for (const TTarget& Target : Targets) {
    std::vector<kv::TFileHandle> Chain;
    const kv::TFileHandle* Folder = &Destination;
    std::string Shown = Dir;
    for (const std::string& Name : Target.Folders) {
      Shown += HostSeparator + Name;
      Chain.push_back(Held(kv::DirectoryOpenIn(*Folder, Name, true), Shown));
      Folder = &Chain.back();
    }
    if (SkipExisting) {
      kv::TErrorOr<kv::TNameInfo> Info = kv::NameInfoIn(*Folder, Target.Name);
      if (Info && Info->Kind != kv::TFileKind::None) continue;
    }
    Progress.StartEntry(Target.Shown, Target.Size);
    WithFileNamed(Target.Shown, [&] {
      kv::TReplacingFileStream Out(*Folder, Target.Name, Target.Shown);
      TWriteBuffer Buffered(Out);
      try {
        Input.ReadEntry(Target.Index, [&] { Archive.ExtractToStream(Target.Index, Buffered); });
      } catch (const kv::EZLBArchiveError& E) {
        throw kv::Exception(File + ": " + E.Message() + kv::FailureCauses(E));
      }
      Buffered.Flush();
      (void)Out.Commit();
    });
    Progress.EndEntry();
    Detail("  " + Target.Shown + "\n");
  }
  return 0;
}

}  // namespace zlbtool
