// A fixture for the archive tests: a component whose progress reports are
// recorded, and archives written into a temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "ZLIBArchive.h"

using TReport = std::pair<std::string, int32_t>;
using TReports = std::vector<TReport>;

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
