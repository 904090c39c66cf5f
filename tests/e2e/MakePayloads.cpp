// Writes the payload archives the end-to-end tests build KVUpdater.exe
// around, with the files that went into them. Runs on the build machine.
//
//   make_payloads OUTDIR WAIT_EXE
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZLBWriter.h"
#include "konvoro/Streams.h"
#include "konvoro/zlb/ZLBFormat.h"

namespace fs = std::filesystem;
using kvtest::BuildArchive;
using kvtest::PatternBytes;
using kvtest::TBytes;
using kvtest::ToBytes;
using kvtest::TTestEntry;

namespace {

// Writes NAME.zlb into Out, and the files that went into it into
// Out/sources/NAME, under their entry names or, when given, under
// SourceNames (in the order of Files).
void Emit(const fs::path& Out, const std::string& Name, const std::vector<TTestEntry>& Files,
          const TBytes& Bytes, const std::vector<std::string>& SourceNames = {}) {
  kvtest::WriteAll(Out / (Name + ".zlb"), Bytes);
  for (size_t I = 0; I < Files.size(); ++I)
    kvtest::WriteAll(
        Out / "sources" / Name / (SourceNames.empty() ? Files[I].Name : SourceNames[I]),
        Files[I].Data);
}

// A release for a system of one language: entry names in its ANSI code
// page, with the files that went into it kept under the names' UTF-8
// forms, which the tests under Wine see as the same names.
struct TNativeFile {
  const char* CodePageName;
  const char* Utf8Name;
};
// With Recorded, the archive records the code page of its names, as
// zlbtool records it.
void EmitNative(const fs::path& Out, const std::string& Name, const TBytes& Wait,
                const std::vector<TNativeFile>& Native,
                std::optional<uint32_t> Recorded = std::nullopt) {
  std::vector<TTestEntry> Files;
  std::vector<std::string> SourceNames;
  for (size_t I = 0; I < Native.size(); ++I) {
    Files.push_back({Native[I].CodePageName, PatternBytes(20000, uint32_t(100 + I))});
    SourceNames.push_back(Native[I].Utf8Name);
  }
  Files.push_back({"WAIT.EXE", Wait});
  SourceNames.push_back("WAIT.EXE");
  TBytes Bytes = BuildArchive(Files);
  if (Recorded) {
    kv::TZLBArchiveTrailer Trailer = kvtest::TrailerOf(Bytes);
    kv::RecordCodePage(Trailer, *Recorded);
    kvtest::SetTrailer(Bytes, Trailer);
  }
  Emit(Out, Name, Files, Bytes, SourceNames);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_payloads OUTDIR WAIT_EXE\n");
    return 1;
  }
  try {
    const fs::path Out = argv[1];
    const TBytes Wait = kvtest::ReadAll(argv[2]);
    if (Wait.empty()) throw std::runtime_error(std::string("cannot read ") + argv[2]);

    // The entries of the worked example: App.exe, WAIT.EXE, core.dll.
    const std::vector<TTestEntry> Worked = {{"App.exe", PatternBytes(150000, 1)},
                                            {"WAIT.EXE", Wait},
                                            {"core.dll", PatternBytes(70000, 2)}};
    const TBytes WorkedBytes = BuildArchive(Worked);
    Emit(Out, "worked", Worked, WorkedBytes);

    Emit(Out, "empty", {}, BuildArchive({}));

    // One byte before the trailer changed: the archive CRC no longer fits.
    TBytes Damaged = WorkedBytes;
    Damaged[Damaged.size() / 2] ^= 0x01;
    Emit(Out, "damaged", {}, Damaged);

    // Entry 1's zlib data damaged, the archive CRC made to fit again: the
    // archive opens, entry 0 extracts, entry 1 fails.
    const std::vector<TTestEntry> BadEntry = {{"first.txt", ToBytes("the first entry\r\n")},
                                              {"second.bin", PatternBytes(50000, 3)},
                                              {"third.txt", ToBytes("never reached\r\n")}};
    kv::TMemoryStream Stream;
    kv::TZLBArchiveWriter Writer(Stream);
    for (const TTestEntry& F : BadEntry)
      Writer.AddEntry(F.Name, "", F.Data);
    Writer.Finish();
    TBytes Bad = Stream.TakeBytes();
    const kv::TZLBFileEntry& Second = Writer.Entries()[1];
    for (uint32_t I = 2; I < 12; ++I)
      Bad[size_t(Second.DataOffset) + I] ^= 0xA5;
    kvtest::RecomputeArchiveCRC(Bad);
    Emit(Out, "bad-entry", BadEntry, Bad);

    // An entry whose name would climb out of the update directory.
    Emit(Out, "evil-name", {},
         BuildArchive({{"fine.txt", ToBytes("fine\r\n")}, {"..\\evil.txt", ToBytes("evil\r\n")}}));

    // An entry whose name has no exact form in the OEM code page (angle
    // quotes, which would become redirections in the script).
    Emit(Out, "inexact-name", {},
         BuildArchive(
             {{"fine.txt", ToBytes("fine\r\n")}, {"\x8Bquoted\x9B.txt", ToBytes("quoted\r\n")}}));

    // A release whose first entry takes a while to extract, followed by a
    // stored one, and a forgery of it: the same layout with the stored
    // entry's bytes changed and the archive CRC made to fit, as whoever
    // owns the temporary directory could put behind a link on its path.
    const std::vector<TTestEntry> Retarget = {
        {"big.bin", TBytes(size_t(64) << 20, 'k')},
        {"release.txt", ToBytes("the genuine release\r\n"), "", true},
        {"WAIT.EXE", Wait}};
    const TBytes ForgedText = ToBytes("a FORGED release!!!\r\n");
    kv::TMemoryStream RetargetStream;
    kv::TZLBArchiveWriter RetargetWriter(RetargetStream);
    for (const TTestEntry& F : Retarget)
      RetargetWriter.AddEntry(F.Name, "", F.Data, F.Stored);
    RetargetWriter.Finish();
    const TBytes Genuine = RetargetStream.TakeBytes();
    Emit(Out, "retarget", Retarget, Genuine);
    TBytes Forged = Genuine;
    if (ForgedText.size() != Retarget[1].Data.size()) throw std::logic_error("forgery length");
    std::copy(ForgedText.begin(), ForgedText.end(),
              Forged.begin() + RetargetWriter.Entries()[1].DataOffset);
    kvtest::RecomputeArchiveCRC(Forged);
    kvtest::WriteAll(Out / "retarget-forged.zlb", Forged);

    // Releases whose file names are in the code pages of Japanese (932: the
    // second bytes of so and hyou are "\\"), Russian (1251) and Polish (1250)
    // systems.
    EmitNative(Out, "japanese", Wait,
               {{"\x83\x5C\x83\x74\x83\x67.txt", "\u30BD\u30D5\u30C8.txt"},
                {"\x95\x5C.txt", "\u8868.txt"}});
    EmitNative(Out, "russian", Wait,
               {{"\xCE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE5.txt",
                 "\u041E\u0431\u043D\u043E\u0432\u043B\u0435\u043D\u0438\u0435.txt"}});
    // The Russian release once more, recording its code page: a system of
    // another code page refuses it.
    EmitNative(Out, "russian-recorded", Wait,
               {{"\xCE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE5.txt",
                 "\u041E\u0431\u043D\u043E\u0432\u043B\u0435\u043D\u0438\u0435.txt"}},
               1251);
    EmitNative(Out, "polish", Wait,
               {{"\x8F\x72\xF3\x64\xB3\x6F.txt", "\u0179r\u00F3d\u0142o.txt"}});

    // A release whose staging takes a while: tens of MB that do not
    // compress, held stored.
    const std::vector<TTestEntry> Large = {{"big.bin", PatternBytes(size_t(32) << 20, 5), "", true},
                                           {"WAIT.EXE", Wait}};
    Emit(Out, "large", Large, BuildArchive(Large));

    // Not an archive: bytes to stage, longer than one 61,440-byte chunk.
    kvtest::WriteAll(Out / "staging.bin", PatternBytes(61440 * 2 + 1234, 4));
  } catch (const std::exception& E) {
    std::fprintf(stderr, "make_payloads: %s\n", E.what());
    return 1;
  }
  return 0;
}
