// The main window TForm1 and the update run.
#include "fmDoKVUpdate.h"

#include <algorithm>
#include <array>

#include "Dialogs.h"
#include "Environment.h"
#include "Exceptions.h"
#include "Files.h"
#include "Format.h"
#include "Resources.h"
#include "Shell.h"
#include "StringList.h"
#include "UpdateScript.h"
#include "UpdaterNames.h"
#include "VMUpdate.h"
#include "ZLIBArchive.h"

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
  std::string Dir = ExtractFilePath(ExePath);
  if (Dir.empty() || Dir.back() != '\\') Dir += '\\';
  return Dir;
}

std::any TForm1::MethodAddress(std::string_view Name) {
  if (Name == "FormCreate") return TNotifyEvent([this](TObject* Sender) { FormCreate(Sender); });
  return TForm::MethodAddress(Name);
}

bool TForm1::ExtractPayload() {
  const std::string Path = StagedArchivePath();
  TResourceStream Payload(PayloadResourceName, RT_RCDATA_TYPE);
  TFileStream Staged(Path, fmCreate);  // closed before the resource is released
  Payload.SetPosition(0);
  int64_t Count = Payload.GetSize();
  std::vector<uint8_t> Buffer(size_t(std::min<int64_t>(Count, StagingChunkSize)));
  while (Count > 0) {
    const auto Chunk = int32_t(std::min<int64_t>(Count, StagingChunkSize));
    Payload.ReadBuffer(Buffer.data(), Chunk);
    Staged.WriteBuffer(Buffer.data(), Chunk);
    Count -= Chunk;
  }
  return true;
}

std::unique_ptr<TFileStream> HoldStagedArchive(const std::string& Path) {
  // The staged archive lies at a fixed name in a directory other processes
  // may write to. Held open with writes (and so deletes and renames) denied,
  // it can no longer be swapped; comparing it with the payload covers the
  // moment between writing and holding it.
  auto Held = std::make_unique<TFileStream>(Path, fmOpenRead | fmShareDenyWrite);
  TResourceStream Payload(PayloadResourceName, RT_RCDATA_TYPE);
  bool Same = Held->GetSize() == Payload.GetSize();
  std::array<uint8_t, StagingChunkSize> Buffer;
  for (int64_t Offset = 0; Same && Offset < Payload.GetSize(); Offset += StagingChunkSize) {
    const auto Chunk = int32_t(std::min<int64_t>(Payload.GetSize() - Offset, StagingChunkSize));
    Same = Held->Read(Buffer.data(), Chunk) == Chunk &&
           std::equal(Buffer.begin(), Buffer.begin() + Chunk, Payload.Memory() + Offset);
  }
  if (!Same) throw Exception(Format(SStagedArchiveChanged, Path));
  return Held;
}

void TForm1::FormCreate(TObject*) {
  const std::string AppDir = ApplicationDirectory(GetModuleFileName());
  TempDir = GetEnvironmentVariable(TempVariable);
  if (TempDir.empty()) TempDir = GetEnvironmentVariable(TmpVariable);

  if (!ExtractPayload()) return;
  const std::string StagedPath = StagedArchivePath();
  std::unique_ptr<TFileStream> Held = HoldStagedArchive(StagedPath);

  {
    // Freed on every way out in reverse order: the component (which closes
    // the archive), then the lines; the staged archive is let go after them.
    TStringList Lines;
    const auto Archive = std::make_unique<TZLBArchive>(nullptr);

    const std::string UpdateDir = AppDir + UpdateDirName;
    // A directory that cannot be made shows up when the first entry (or the
    // script) is written there.
    if (!DirectoryExists(UpdateDir)) ForceDirectories(UpdateDir);

    Lines.Add(EchoOffLine);
    Lines.Add(WaitLine);
    Archive->OpenArchive(StagedPath);
    const int32_t Count = Archive->GetFileCount();
    for (int32_t I = 0; I < Count; ++I) {
      try {
        Archive->ExtractFile(UpdateDir, I);
        TZLBFileEntry Entry;
        Archive->GetFileEntry(I, Entry);
        if (!IsWaitProgram(Entry.FileName.View())) {
          Archive->GetFileEntry(I, Entry);
          Lines.Add(CopyLine(AppDir, Entry.FileName.ToString()));
        }
      } catch (const Exception& E) {
        ShowMessage(EntryFailurePrefix + E.Message());
        return;
      }
    }
    Lines.Add(ClientStartLine(AppDir, SchedulerIsRegistered()));
    for (const std::string& Line : DeleteLines(AppDir))
      Lines.Add(Line);
    Lines.Add(ClearScreenLine);
    // The command interpreter reads batch files in the OEM code page.
    Lines.SaveToFile(AppDir + UpdateDirName + "\\" + ScriptFileName, TLineEncoding::Oem);
    ShellExecute(ScriptLaunchOperation, ScriptLaunchName, "", UpdateDir, SW_HIDE_COMMAND);
  }
  Held.reset();
  Application->Terminate();
}

}  // namespace kv::updater
