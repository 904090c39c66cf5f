// Helpers shared by the unit tests and the fuzz targets: temporary
// directories, whole-file I/O, archives built in memory by the writer, and
// exception texts. Nothing here depends on the test framework.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ZLBWriter.h"
#include "konvoro/Exceptions.h"

namespace kvtest {

using TBytes = std::vector<uint8_t>;

// A fresh directory below the system's temporary directory, removed with
// everything in it when the object goes.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  // The directory as the platform layer takes it.
  std::string Str() const { return FPath.string(); }
  // Name below the directory, joined with the platform's separator.
  std::string operator/(const std::string& Name) const { return (FPath / Name).string(); }

 private:
  std::filesystem::path FPath;
};

// The directory of the running program, ending with its separator.
std::string ProgramDirectory();

// The system's ANSI code page, in which names are bytes: GetACP() on
// Windows, 0 on POSIX, where names are plain bytes. Raises
// std::runtime_error when the environment variable KV_EXPECT_ANSI_CODE_PAGE
// names another: a run meant for one language must not pass in another.
uint32_t AnsiCodePage();
// Code page 932 (Japanese), double-byte: the code page of the tests that
// walk names by character.
inline constexpr uint32_t JapaneseCodePage = 932;

TBytes ReadAll(const std::filesystem::path& File);
// Replaces File with Bytes, creating its directory when it is missing.
// Raises std::runtime_error when that fails: a test or fuzz target could
// then check nothing.
void WriteAll(const std::filesystem::path& File, std::span<const uint8_t> Bytes);
TBytes ToBytes(std::string_view Text);
// Bytes that compress somewhat, the same for the same Seed.
TBytes PatternBytes(size_t Count, uint32_t Seed);
// Every file below Dir with its contents, keyed by its path relative to Dir.
std::vector<std::pair<std::string, TBytes>> Snapshot(const std::filesystem::path& Dir);

// One entry for BuildArchive.
struct TTestEntry {
  std::string Name;
  TBytes Data;
  std::string Path = "";
  bool Stored = false;
};

// Data as one zlib stream at zlib's default level. Raises std::runtime_error
// when zlib fails.
TBytes ZlibCompress(const TBytes& Data);
// A zlib stream that inflates to Good and then fails, at exactly that point:
// Good in stored blocks, then a block of the reserved type, then padding.
TBytes ZlibFailingAfter(const TBytes& Good);

// True when nothing in this process holds File open: on Windows an open
// file cannot be renamed; elsewhere no descriptor refers to it.
bool NotHeldOpen(const std::filesystem::path& File);

// A complete archive in memory, written by the archive writer.
TBytes BuildArchive(const std::vector<TTestEntry>& Entries, kv::TZLBWriterOptions Options = {});

// The trailer of a complete archive.
kv::TZLBArchiveTrailer TrailerOf(const TBytes& Archive);
// Replaces the trailer of Archive and, when FixCRC, recomputes its CRC.
void SetTrailer(TBytes& Archive, const kv::TZLBArchiveTrailer& Trailer, bool FixCRC = true);
// Recomputes the ArchiveCRC of a complete archive after bytes before the
// trailer were changed. Archives shorter than a trailer are left alone.
void RecomputeArchiveCRC(TBytes& Archive);

// The writer, also laying out archives whose regions are not adjacent,
// which readers must accept.
class TGapWriter : public kv::TZLBArchiveWriter {
 public:
  using kv::TZLBArchiveWriter::TZLBArchiveWriter;
  // Writes Bytes between regions; they belong to no entry but are covered
  // by the archive CRC.
  void AddGap(std::span<const uint8_t> Bytes);
};

// The message of the kv::Exception that Statement raises, or a note that it
// raised none.
template <class F>
std::string MessageOf(F&& Statement) {
  try {
    std::forward<F>(Statement)();
  } catch (const kv::Exception& E) {
    return E.Message();
  }
  return "(no exception)";
}

// The failure that Statement raises, told with its causes as a tool prints
// it (kv::DescribeFailure), or a note that it raised none.
template <class F>
std::string DescriptionOf(F&& Statement) {
  try {
    std::forward<F>(Statement)();
  } catch (const std::exception& E) {
    return kv::DescribeFailure(E);
  }
  return "(no exception)";
}

}  // namespace kvtest
