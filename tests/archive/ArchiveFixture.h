// Fixtures for the archive tests: the reader core over archives held in
// memory, and the component, whose progress reports are recorded, over
// archives written into a temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "konvoro/zlb/ZLBReader.h"
#include "konvoro/zlb/ZLIBArchive.h"

using TReport = std::pair<std::string, int32_t>;
using TReports = std::vector<TReport>;

class ReaderTest : public ::testing::Test {
 protected:
  // Reads the trailer and the directory of Archive, as OpenArchive reads a
  // file. Raises what ReadTrailer and ReadDirectory raise.
  void Open(kvtest::TBytes Archive) {
    Bytes = std::move(Archive);
    Trailer = kv::TZLBArchiveTrailer();
    Entries.clear();
    kv::TReadOnlyMemoryStream Source(Bytes.data(), int64_t(Bytes.size()));
    Trailer = kv::ReadTrailer(Source);
    kv::ReadDirectory(Source, Trailer, Entries, Hooks());
  }

  // Extracts entry Index of the archive opened last into Dest.
  void Extract(int32_t Index, kv::TStream& Dest, bool CheckCRC = false) {
    kv::TReadOnlyMemoryStream Source(Bytes.data(), int64_t(Bytes.size()));
    kv::ExtractEntry(Source, Entries.at(size_t(Index)), Index, Dest, CheckCRC, Hooks());
  }

  kvtest::TBytes Bytes;  // the archive opened last
  kv::TZLBArchiveTrailer Trailer;
  std::deque<kv::TZLBFileEntry> Entries;
  // Every percentage that the reads reported, as the component rounds them.
  std::vector<int32_t> Percentages;

 private:
  kv::TReadHooks Hooks() {
    return {.Started =
                [this](int32_t Total) {
                  FTotal = Total;
                  FDone = 0;
                },
            .ChunkRead =
                [this](int32_t Delivered) {
                  FDone += Delivered;
                  Percentages.push_back(kv::ProgressPercentage(FDone, FTotal));
                }};
  }

  int32_t FTotal = 0;
  int32_t FDone = 0;
};

class ArchiveTest : public ::testing::Test {
 protected:
  ArchiveTest() {
    Archive.SetOnProgress(
        [this](std::string Msg, int32_t Percentage) { Progress.emplace_back(Msg, Percentage); });
  }

  // Writes Bytes to a new file in the temporary directory. Returns its name.
  std::string Write(const kvtest::TBytes& Bytes) {
    const std::string Name = Dir / ("archive" + std::to_string(++FCount) + ".zlb");
    kvtest::WriteAll(Name, Bytes);
    return Name;
  }

  kvtest::TTempDir Dir;
  kv::TZLBArchive Archive;
  TReports Progress;

 private:
  int FCount = 0;
};
