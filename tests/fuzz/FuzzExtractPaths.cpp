// fuzz_extract_paths: archives of fuzzed names and stored paths, extracted
// with ExtractFile into DIR/out; nothing may appear or change outside it.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "FuzzSupport.h"
#include "TestSupport.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace fs = std::filesystem;

namespace {

using kvfuzz::Fail;

// DIR lies this many levels below the scratch directory, and everything
// from the scratch directory down is watched, so that a climb of up to this
// many levels above DIR is seen.
constexpr int WatchedLevelsAbove = 6;

// Settings bits beyond the writer's options.
constexpr uint8_t WithPathBit = 1 << 2;
constexpr uint8_t TrailingDelimiterBit = 1 << 3;
constexpr uint8_t ReplaceHandlerBit = 1 << 4;
constexpr uint8_t ReplaceAnswerBit = 1 << 5;
constexpr uint8_t CheckCRCBit = 1 << 6;

struct TLayout {
  fs::path Root;  // the watched tree
  fs::path Dir;   // DIR
  fs::path Out;   // DIR/out, where extraction may write
};

TLayout MakeLayout(const fs::path& Root) {
  TLayout L{Root, Root, {}};
  for (int Level = 0; Level <= WatchedLevelsAbove; ++Level) {
    // A file at every level, so that an overwrite shows as well as a new file.
    kvtest::WriteAll(L.Dir / "sentinel.txt", kvtest::ToBytes("keep"));
    if (Level < WatchedLevelsAbove) L.Dir /= "up" + std::to_string(Level);
    fs::create_directories(L.Dir);
  }
  L.Out = L.Dir / "out";
  return L;
}

// Every file and directory below Root except those below Skip, with the
// contents of the files.
std::map<std::string, kvtest::TBytes> Snapshot(const fs::path& Root, const fs::path& Skip) {
  std::map<std::string, kvtest::TBytes> Found;
  for (auto It = fs::recursive_directory_iterator(Root); It != fs::recursive_directory_iterator();
       ++It) {
    if (It->path() == Skip) {
      It.disable_recursion_pending();
      continue;
    }
    const std::string Rel = fs::relative(It->path(), Root).generic_string();
    Found[It->is_directory() ? Rel + "/" : Rel] =
        It->is_regular_file() ? kvtest::ReadAll(It->path()) : kvtest::TBytes();
  }
  return Found;
}

void CompareOutside(const std::map<std::string, kvtest::TBytes>& Before,
                    const std::map<std::string, kvtest::TBytes>& After) {
  for (const auto& [Name, Contents] : After) {
    const auto It = Before.find(Name);
    if (It == Before.end()) Fail("created outside DIR/out: " + Name);
    if (It->second != Contents) Fail("changed outside DIR/out: " + Name);
  }
  for (const auto& [Name, Contents] : Before)
    if (!After.contains(Name)) Fail("removed outside DIR/out: " + Name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const kvtest::TTempDir Scratch;
  static const TLayout Layout = MakeLayout(Scratch.Path());

  kvfuzz::TFuzzInput Input(Data, Size);
  const kvfuzz::TFuzzArchive Description = kvfuzz::DecodeArchive(Input);
  kvfuzz::TBytes Bytes;
  try {
    Bytes = kvfuzz::BuildArchive(Description);
  } catch (const kv::Exception&) {
    return 0;  // not an archive the writer makes
  }
  const fs::path ArchiveFile = Layout.Dir / "input.zlb";
  kvtest::WriteAll(ArchiveFile, Bytes);
  fs::remove_all(Layout.Out);
  fs::create_directories(Layout.Out);
  const auto Before = Snapshot(Layout.Root, Layout.Out);

  const uint8_t Settings = Description.Settings;
  kv::TZLBArchive Archive;
  const bool WithPath = (Settings & WithPathBit) != 0;
  Archive.SetExtractWithPath(WithPath);
  Archive.SetCheckCRC((Settings & CheckCRCBit) != 0);
  if ((Settings & ReplaceHandlerBit) != 0) {
    const bool Answer = (Settings & ReplaceAnswerBit) != 0;
    Archive.SetOnReplaceFile([Answer](std::string, bool& Replace) { Replace = Answer; });
  }
  // The stored path is appended to DestDir as it stands, so with paths the
  // caller ends DestDir with a delimiter, as zlbtool does; without one
  // "out" + "sub\" would be the sibling "outsub" by design.
  const std::string DestDir =
      Layout.Out.string() + (WithPath || (Settings & TrailingDelimiterBit) != 0 ? "\\" : "");
  try {
    Archive.OpenArchive(ArchiveFile.string());
  } catch (const kv::Exception& E) {
    Fail("an archive from the writer does not open: " + E.Message());
  }
  for (int32_t I = 0; I < Archive.GetFileCount(); ++I) {
    try {
      Archive.ExtractFile(DestDir, I);
    } catch (const kv::Exception&) {
      // Refused names and paths, and ones the file system cannot take.
    }
  }
  Archive.CloseArchive();
  CompareOutside(Before, Snapshot(Layout.Root, Layout.Out));
  return 0;
}
