// Writes the payload archives the end-to-end tests build KVUpdater.exe
// around, with the files that went into them. Runs on the build machine.
//
//   make_payloads OUTDIR WAIT_EXE
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "Streams.h"
#include "ZLBFormat.h"
#include "ZLBWriter.h"

namespace fs = std::filesystem;

namespace {

using TBytes = std::vector<uint8_t>;

struct TFile {
  std::string Name;
  TBytes Data;
};

TBytes ReadFile(const fs::path& Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) throw kv::Exception("cannot read " + Path.string());
  return TBytes(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& Path, const TBytes& Data) {
  fs::create_directories(Path.parent_path());
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char*>(Data.data()), std::streamsize(Data.size()));
  if (!Out) throw kv::Exception("cannot write " + Path.string());
}

TBytes Text(const std::string& S) {
  return TBytes(S.begin(), S.end());
}

// Deterministic bytes that deflate moderately.
TBytes Pattern(size_t Count, uint32_t Seed) {
  TBytes Out(Count);
  for (size_t I = 0; I < Count; ++I) {
    Seed = Seed * 1103515245u + 12345u;
    Out[I] = uint8_t((I % 7 == 0) ? (Seed >> 16) : ('a' + I % 26));
  }
  return Out;
}

TBytes Archive(const std::vector<TFile>& Files) {
  kv::TMemoryStream Stream;
  kv::TZLBArchiveWriter Writer(Stream);
  for (const TFile& F : Files)
    Writer.AddEntry(F.Name, "", F.Data);
  Writer.Finish();
  return Stream.TakeBytes();
}

// Writes NAME.zlb into Out, and the files that went into it into
// Out/sources/NAME.
void Emit(const fs::path& Out, const std::string& Name, const std::vector<TFile>& Files,
          const TBytes& Bytes) {
  WriteFile(Out / (Name + ".zlb"), Bytes);
  for (const TFile& F : Files)
    WriteFile(Out / "sources" / Name / F.Name, F.Data);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_payloads OUTDIR WAIT_EXE\n");
    return 1;
  }
  try {
    const fs::path Out = argv[1];
    const TBytes Wait = ReadFile(argv[2]);

    // The entries of the worked example: App.exe, WAIT.EXE, core.dll.
    const std::vector<TFile> Worked = {
        {"App.exe", Pattern(150000, 1)}, {"WAIT.EXE", Wait}, {"core.dll", Pattern(70000, 2)}};
    const TBytes WorkedBytes = Archive(Worked);
    Emit(Out, "worked", Worked, WorkedBytes);

    Emit(Out, "empty", {}, Archive({}));

    // One byte before the trailer changed: the archive CRC no longer fits.
    TBytes Damaged = WorkedBytes;
    Damaged[Damaged.size() / 2] ^= 0x01;
    Emit(Out, "damaged", {}, Damaged);

    // Entry 1's zlib data damaged, the archive CRC made to fit again: the
    // archive opens, entry 0 extracts, entry 1 fails.
    const std::vector<TFile> BadEntry = {{"first.txt", Text("the first entry\r\n")},
                                         {"second.bin", Pattern(50000, 3)},
                                         {"third.txt", Text("never reached\r\n")}};
    kv::TMemoryStream Stream;
    kv::TZLBArchiveWriter Writer(Stream);
    for (const TFile& F : BadEntry)
      Writer.AddEntry(F.Name, "", F.Data);
    Writer.Finish();
    TBytes Bad = Stream.TakeBytes();
    const kv::TZLBFileEntry& Second = Writer.Entries()[1];
    for (uint32_t I = 2; I < 12; ++I)
      Bad[size_t(Second.DataOffset) + I] ^= 0xA5;
    kv::RecomputeArchiveCRC(Bad);
    Emit(Out, "bad-entry", BadEntry, Bad);

    // An entry whose name would climb out of the update directory.
    const std::vector<TFile> Evil = {{"fine.txt", Text("fine\r\n")},
                                     {"..\\evil.txt", Text("evil\r\n")}};
    Emit(Out, "evil-name", {}, Archive(Evil));

    // An entry whose name has no exact form in the OEM code page (angle
    // quotes, which would become redirections in the script).
    const std::vector<TFile> Inexact = {{"fine.txt", Text("fine\r\n")},
                                        {"\x8Bquoted\x9B.txt", Text("quoted\r\n")}};
    Emit(Out, "inexact-name", {}, Archive(Inexact));

    // Not an archive: bytes to stage, longer than one 61,440-byte chunk.
    WriteFile(Out / "staging.bin", Pattern(61440 * 2 + 1234, 4));
  } catch (const kv::Exception& E) {
    std::fprintf(stderr, "make_payloads: %s\n", E.Message().c_str());
    return 1;
  }
  return 0;
}
