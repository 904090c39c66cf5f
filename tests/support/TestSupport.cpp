// Helpers shared by the unit tests and the fuzz targets.
#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "konvoro/Environment.h"
#include "konvoro/Files.h"
#include "konvoro/Streams.h"
#include "konvoro/zlb/CRC32.h"

#include <zlib.h>

#ifdef _WIN32
#include <windows.h>
#undef GetModuleFileName  // windows.h's names for the ANSI calls
#undef GetEnvironmentVariable
#endif

namespace fs = std::filesystem;

namespace kvtest {

TTempDir::TTempDir() {
  static std::atomic<unsigned> Counter{0};
  const auto Stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    FPath = fs::temp_directory_path() /
            ("kvtest-" + std::to_string(Stamp) + "-" + std::to_string(Counter++));
    if (fs::create_directory(FPath)) break;
  }
}

TTempDir::~TTempDir() {
  std::error_code Ignored;
  fs::remove_all(FPath, Ignored);
}

std::string ProgramDirectory() {
  return kv::ExtractFilePath(kv::GetModuleFileName());
}

uint32_t AnsiCodePage() {
#ifdef _WIN32
  const uint32_t CodePage = ::GetACP();
#else
  const uint32_t CodePage = 0;
#endif
  const std::string Expected = kv::GetEnvironmentVariable("KV_EXPECT_ANSI_CODE_PAGE");
  if (!Expected.empty() && Expected != std::to_string(CodePage))
    throw std::runtime_error("the ANSI code page is " + std::to_string(CodePage) + ", not " +
                             Expected + ": is the locale installed?");
  return CodePage;
}

TBytes ReadAll(const fs::path& File) {
  std::ifstream In(File, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& File, std::span<const uint8_t> Bytes) {
  if (File.has_parent_path()) fs::create_directories(File.parent_path());
  std::ofstream Out(File, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char*>(Bytes.data()), std::streamsize(Bytes.size()));
  Out.close();
  if (!Out) throw std::runtime_error("cannot write " + File.string());
}

TBytes ToBytes(std::string_view Text) {
  return TBytes(Text.begin(), Text.end());
}

TBytes PatternBytes(size_t Count, uint32_t Seed) {
  TBytes Out(Count);
  uint32_t State = Seed * 2654435761u + 1;
  for (size_t I = 0; I < Count; ++I) {
    State = State * 1103515245u + 12345u;
    // Mostly small values so that deflate has something to do.
    Out[I] = uint8_t((State >> 16) % ((I / 1000) % 2 ? 16 : 251));
  }
  return Out;
}

std::vector<std::pair<std::string, TBytes>> Snapshot(const fs::path& Dir) {
  std::vector<std::pair<std::string, TBytes>> Files;
  if (!fs::exists(Dir)) return Files;
  for (const auto& Entry : fs::recursive_directory_iterator(Dir)) {
    const std::string Rel = fs::relative(Entry.path(), Dir).generic_string();
    Files.emplace_back(Entry.is_directory() ? Rel + "/" : Rel,
                       Entry.is_directory() ? TBytes() : ReadAll(Entry.path()));
  }
  std::sort(Files.begin(), Files.end());
  return Files;
}

TBytes ZlibCompress(const TBytes& Data) {
  uLongf Size = compressBound(uLong(Data.size()));
  TBytes Out(Size);
  if (compress(Out.data(), &Size, Data.data(), uLong(Data.size())) != Z_OK)
    throw std::runtime_error("zlib cannot compress");
  Out.resize(Size);
  return Out;
}

TBytes ZlibFailingAfter(const TBytes& Good) {
  TBytes Z = {0x78, 0x01};
  for (size_t At = 0; At < Good.size(); At += 0xFFFF) {
    const size_t Length = std::min<size_t>(0xFFFF, Good.size() - At);
    // A stored block that is not the last: its length, then the length's
    // complement, little-endian.
    Z.insert(Z.end(), {0x00, uint8_t(Length), uint8_t(Length >> 8), uint8_t(~Length),
                       uint8_t(~Length >> 8)});
    Z.insert(Z.end(), Good.begin() + ptrdiff_t(At), Good.begin() + ptrdiff_t(At + Length));
  }
  Z.push_back(0x07);  // the last block, of type 3, which does not exist
  Z.resize(Z.size() + 16, 0);
  return Z;
}

bool NotHeldOpen(const fs::path& File) {
#ifdef _WIN32
  const std::string From = File.string(), To = From + ".moved";
  if (!MoveFileA(From.c_str(), To.c_str())) return false;
  return MoveFileA(To.c_str(), From.c_str()) != 0;
#else
  for (const auto& Fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code Error;
    if (fs::read_symlink(Fd.path(), Error) == fs::absolute(File)) return false;
  }
  return true;
#endif
}

TBytes BuildArchive(const std::vector<TTestEntry>& Entries, kv::TZLBWriterOptions Options) {
  kv::TMemoryStream Out;
  kv::TZLBArchiveWriter Writer(Out, Options);
  for (const TTestEntry& E : Entries)
    Writer.AddEntry(E.Name, E.Path, E.Data, E.Stored || Options.Stored);
  Writer.Finish();
  return Out.TakeBytes();
}

kv::TZLBArchiveTrailer TrailerOf(const TBytes& Archive) {
  return kv::TZLBArchiveTrailer::Decode(std::span<const uint8_t, kv::TZLBArchiveTrailer::Size>(
      Archive.data() + Archive.size() - kv::TZLBArchiveTrailer::Size,
      kv::TZLBArchiveTrailer::Size));
}

void SetTrailer(TBytes& Archive, const kv::TZLBArchiveTrailer& Trailer, bool FixCRC) {
  kv::TZLBArchiveTrailer Written = Trailer;
  if (FixCRC)
    Written.ArchiveCRC =
        kv::CRC32Update(0, {Archive.data(), Archive.size() - kv::TZLBArchiveTrailer::Size});
  Written.Encode(std::span<uint8_t, kv::TZLBArchiveTrailer::Size>(
      Archive.data() + Archive.size() - kv::TZLBArchiveTrailer::Size,
      kv::TZLBArchiveTrailer::Size));
}

void RecomputeArchiveCRC(TBytes& Archive) {
  if (Archive.size() < kv::TZLBArchiveTrailer::Size) return;
  SetTrailer(Archive, TrailerOf(Archive));
}

void TGapWriter::AddGap(std::span<const uint8_t> Bytes) {
  Emit(Bytes.data(), Bytes.size());
}

}  // namespace kvtest
