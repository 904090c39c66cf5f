// The main window TForm1 and the update run.
#include "fmDoKVUpdate.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "Dialogs.h"
#include "Resources.h"
#include "Shell.h"
#include "UpdateScript.h"
#include "UpdaterNames.h"
#include "VMUpdate.h"
#include "konvoro/Environment.h"
#include "konvoro/Exceptions.h"
#include "konvoro/Files.h"
#include "konvoro/Format.h"
#include "konvoro/StringList.h"
#include "konvoro/zlb/ArchiveMessages.h"
#include "konvoro/zlb/ZLBFormat.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace kv::updater {

TForm1* Form1 = nullptr;
std::string TempDir;

namespace {
constexpr int32_t StagingChunkSize = 61440;
}  // namespace

std::string StagedArchivePath() {
  if (TempDir.empty()) return StagedArchiveName;
  return IncludeTrailingPathDelimiter(TempDir) + StagedArchiveName;
}

std::string ApplicationDirectory(const std::string& ExePath) {
  return IncludeTrailingPathDelimiter(ExtractFilePath(ExePath));
}

std::string InstallationDirectory() {
  const TExactPath Program = GetExactModuleFileName();
  if (!Program.Exact)
    throw Exception(Format(SInstallDirNotScriptable, ApplicationDirectory(Program.Shown)));
  return ApplicationDirectory(*Program.Exact);
}

std::string TemporaryDirectory() {
  for (const char* Variable : {TempVariable, TmpVariable}) {
    const TExactPath Dir = GetExactEnvironmentPath(Variable);
    if (!Dir.Exact) throw Exception(Format(STempDirNotNameable, Dir.Shown));
    if (!Dir.Exact->empty()) return *Dir.Exact;
  }
  return std::string();
}

void RefuseReleaseOfAnotherCodePage(const TZLBArchive& Archive, uint32_t SystemCodePage) {
  const std::optional<uint32_t> Recorded = RecordedCodePage(Archive.GetTrailer());
  if (!Recorded || *Recorded == SystemCodePage) return;
  const auto IsAscii = [](std::string_view Text) {
    return std::all_of(Text.begin(), Text.end(), [](char C) { return uint8_t(C) < 0x80; });
  };
  TZLBFileEntry Entry;
  for (int32_t I = 0; I < Archive.GetFileCount(); ++I) {
    Archive.GetFileEntry(I, Entry);
    if (!IsAscii(Entry.FileName.View()) || !IsAscii(Entry.FilePath.View()))
      throw Exception(Format(SReleaseForAnotherCodePage, *Recorded, SystemCodePage));
  }
}

std::any TForm1::MethodAddress(std::string_view Name) {
  if (Name == "FormCreate") return TNotifyEvent([this](TObject* Sender) { FormCreate(Sender); });
  return TForm::MethodAddress(Name);
}

bool TForm1::ExtractPayload(TFileHandle& Staged) {
  const std::string Path = StagedArchivePath();
  TResourceStream Payload(PayloadResourceName, PayloadResourceType);
  // The temporary directory is the user's: whatever stands at the staged
  // name, even a link planted to make this elevated program overwrite some
  // other file, is replaced as a name and never written through. Closed
  // before the resource is released.
  TReplacingFileStream Writer(Path);
  Payload.SetPosition(0);
  int64_t Count = Payload.GetSize();
  std::vector<uint8_t> Buffer(size_t(std::min<int64_t>(Count, StagingChunkSize)));
  while (Count > 0) {
    const auto Chunk = int32_t(std::min<int64_t>(Count, StagingChunkSize));
    Payload.ReadBuffer(Buffer.data(), Chunk);
    Writer.WriteBuffer(Buffer.data(), Chunk);
    Count -= Chunk;
  }
  Staged = Writer.Commit();
  return true;
}

std::string EntryFailure(const std::function<void()>& Step) {
  try {
    Step();
    return std::string();
  } catch (const Exception& E) {
    return EntryFailurePrefix + E.Message();
  } catch (const std::exception& E) {
    // Out of memory, say: still one entry's failure.
    return EntryFailurePrefix + std::string(E.what());
  }
}

void TForm1::FormCreate(TObject*) {
  // Every step names the installation, and every line of the script does:
  // one that cannot be named exactly stops the run before anything is
  // staged.
  const std::string AppDir = InstallationDirectory();
  const std::string ScriptDir = ScriptDirectory(AppDir);
  TempDir = TemporaryDirectory();

  // ExtractPayload raises on every failure and never returns false; the
  // test stays as the documented guard of the steps that follow.
  TFileHandle Staged;
  if (!ExtractPayload(Staged)) return;

  {
    // Freed on every way out in reverse order: the component (which closes
    // the archive and lets the staged file go), then the lines.
    TStringList Lines;
    const auto Archive = std::make_unique<TZLBArchive>(nullptr);

    const std::string UpdateDir = AppDir + UpdateDirName;
    // A directory that cannot be made shows up when the first entry (or the
    // script) is written there.
    if (!DirectoryExists(UpdateDir)) (void)ForceDirectories(UpdateDir);

    Lines.Add(EchoOffLine);
    Lines.Add(WaitLine);
    // Whoever owns the temporary directory may turn a link on its path to
    // another folder at any moment: every read goes through the file that
    // staging wrote, which nobody else can open, never through its name.
    const std::string StagedPath = StagedArchivePath();
    Archive->OpenArchive(StagedPath,
                         std::make_unique<THeldFileSource>(StagedPath, std::move(Staged)));
    RefuseReleaseOfAnotherCodePage(*Archive, SystemAnsiCodePage());
    const int32_t Count = Archive->GetFileCount();
    for (int32_t I = 0; I < Count; ++I) {
      const std::string Failure = EntryFailure([&] {
        Archive->ExtractFile(UpdateDir, I);
        TZLBFileEntry Entry;
        Archive->GetFileEntry(I, Entry);
        if (!IsWaitProgram(Entry.FileName.View())) {
          // Read again on purpose: the run reads the record once for the
          // wait.exe test and once for the copy line.
          Archive->GetFileEntry(I, Entry);
          const std::optional<std::string> Name = ScriptText(Entry.FileName.ToString());
          if (!Name) throw Exception(Format(messages::SFileInvalidName, I));
          Lines.Add(CopyLine(ScriptDir, *Name));
        }
      });
      if (!Failure.empty()) {
        ShowMessage(Failure);
        return;
      }
    }
    Lines.Add(ClientStartLine(ScriptDir, SchedulerIsRegistered()));
    for (const std::string& Line : DeleteLines(ScriptDir))
      Lines.Add(Line);
    Lines.Add(ClearScreenLine);
    // The lines are script text already, in the interpreter's code page.
    const std::string ScriptPath = UpdateDir + "\\" + ScriptFileName;
    Lines.SaveToFile(ScriptPath);
    // A script that did not start means no update: reported, never passed
    // off as success.
    if (const std::error_code Error =
            ShellExecute(ScriptLaunchOperation, ScriptLaunchName, "", UpdateDir, SW_HIDE_COMMAND))
      throw Exception(Format(SScriptLaunchFailed, ScriptPath, Error.message()));
  }
  Application->Terminate();
}

}  // namespace kv::updater
