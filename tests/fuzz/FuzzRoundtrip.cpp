// fuzz_roundtrip: files and names from the fuzzer, packed with the writer,
// read back by the reader in memory and extracted to disk by TZLBArchive;
// every record and byte must come back.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "TestSupport.h"
#include "konvoro/zlb/ZLBReader.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace fs = std::filesystem;

namespace {

using kvfuzz::Fail;

// Settings bits beyond the writer's options.
constexpr uint8_t CheckCRCBit = 1 << 2;
constexpr uint8_t WithPathBit = 1 << 3;

// Entries with longer paths and names stay in memory: Windows limits whole
// paths to 260 characters.
constexpr size_t MaxOnDiskPathAndName = 160;

// A name that IsSafeEntryName accepts, made from any bytes: refused
// characters become "_"; a name the other rules refuse (empty, a trailing
// blank or full stop, a device) gets a "_" after it, then before it.
std::string ValidName(std::string Name) {
  if (Name.size() > kv::TShortString::MaxLength - 2) Name.resize(kv::TShortString::MaxLength - 2);
  for (char& C : Name) {
    const bool Refused = static_cast<unsigned char>(C) < 0x20 ||
                         std::string_view("\\/:*?\"<>|").find(C) != std::string_view::npos;
    if (Refused) C = '_';
  }
  if (!kv::IsSafeEntryName(Name) && (Name.empty() || Name.back() == '.' || Name.back() == ' '))
    Name += '_';
  if (!kv::IsSafeEntryName(Name)) Name.insert(0, "_");
  if (!kv::IsSafeEntryName(Name)) Fail("the harness made an unsafe name: " + Name);
  return Name;
}

// A stored path that IsSafeEntryPath accepts, with "\" as its only
// delimiter; "" when the bytes climb.
std::string ValidPath(std::string Path) {
  for (char& C : Path) {
    if (C == '/') C = '\\';
    if (static_cast<unsigned char>(C) < 0x20 || C == ':') C = '_';
  }
  return kv::IsSafeEntryPath(Path) ? Path : std::string();
}

kvfuzz::TBytes ReadFileBytes(const std::string& Name) {
  kv::TFileStream In(Name, kv::fmOpenRead | kv::fmShareDenyWrite);
  kvfuzz::TBytes Bytes(size_t(In.GetSize()));
  In.ReadBuffer(Bytes.data(), int32_t(Bytes.size()));
  return Bytes;
}

std::string Describe(int32_t Index, const kvfuzz::TFuzzEntry& Entry) {
  return "entry " + std::to_string(Index) + " (\"" + Entry.Path + "\" \"" + Entry.Name + "\", " +
         std::to_string(Entry.Data.size()) + " bytes" + (Entry.Stored ? ", stored" : "") + ")";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const kvtest::TTempDir Scratch;
  kvfuzz::TFuzzInput Input(Data, Size);
  kvfuzz::TFuzzArchive Description = kvfuzz::DecodeArchive(Input);
  for (kvfuzz::TFuzzEntry& Entry : Description.Entries) {
    Entry.Name = ValidName(Entry.Name);
    Entry.Path = ValidPath(Entry.Path);
  }
  const bool CheckCRC = (Description.Settings & CheckCRCBit) != 0;
  const bool WithPath = (Description.Settings & WithPathBit) != 0;

  std::vector<kv::TZLBFileEntry> Written;
  const kvfuzz::TBytes Bytes = [&] {
    try {
      return kvfuzz::BuildArchive(Description, &Written);
    } catch (const kv::Exception& E) {
      Fail("the writer refused valid entries: " + E.Message());
    }
  }();
  const auto Count = int32_t(Description.Entries.size());
  try {
    kv::TReadOnlyMemoryStream Source(Bytes.data(), int64_t(Bytes.size()));
    std::deque<kv::TZLBFileEntry> Read;
    kv::ReadDirectory(Source, kv::ReadTrailer(Source), Read);
    if (int32_t(Read.size()) != Count)
      Fail("wrote " + std::to_string(Count) + " entries, read " + std::to_string(Read.size()));
    for (int32_t I = 0; I < Count; ++I) {
      const kvfuzz::TFuzzEntry& Entry = Description.Entries[size_t(I)];
      if (!(Read[size_t(I)] == Written[size_t(I)]))
        Fail(Describe(I, Entry) + ": the record changed");
      kv::TMemoryStream Extracted;
      kv::ExtractEntry(Source, Read[size_t(I)], I, Extracted, CheckCRC);
      if (Extracted.Bytes() != Entry.Data) Fail(Describe(I, Entry) + ": other bytes extracted");
    }
  } catch (const kv::Exception& E) {
    Fail("reading back failed: " + E.Message());
  }

  const fs::path ArchiveFile = Scratch.Path() / "roundtrip.zlb";
  kvtest::WriteAll(ArchiveFile, Bytes);
  const fs::path Out = Scratch.Path() / "out";
  fs::remove_all(Out);
  fs::create_directories(Out);

  kv::TZLBArchive Archive;
  Archive.SetCheckCRC(CheckCRC);
  Archive.SetExtractWithPath(WithPath);
  try {
    Archive.OpenArchive(ArchiveFile.string());
    if (Archive.GetFileCount() != Count)
      Fail("wrote " + std::to_string(Count) + " entries, opened " +
           std::to_string(Archive.GetFileCount()));
    for (int32_t I = 0; I < Count; ++I) {
      const kvfuzz::TFuzzEntry& Entry = Description.Entries[size_t(I)];
      if (Entry.Path.size() + Entry.Name.size() > MaxOnDiskPathAndName) continue;
      // A directory of its own, so that no entry meets another's files.
      const std::string DestDir = (Out / std::to_string(I)).string() + "\\";
      if (!WithPath) fs::create_directory(Out / std::to_string(I));
      Archive.ExtractFile(DestDir, I);
      const std::string Target = DestDir + (WithPath ? Entry.Path + "\\" : "") + Entry.Name;
      if (ReadFileBytes(Target) != Entry.Data)
        Fail(Describe(I, Entry) + ": other bytes in the extracted file");
    }
    Archive.CloseArchive();
  } catch (const kv::Exception& E) {
    Fail("extracting to disk failed: " + E.Message());
  }
  return 0;
}
