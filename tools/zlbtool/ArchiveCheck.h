// An archive checked as the updater takes it: the one check of its names
// (Check.h), entries that share their data, and each entry's data against
// its length and CRC-32; for test, info, the updater's read-back and the
// build.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Check.h"
#include "Input.h"

namespace zlbtool {

struct TEntryReport {
  std::string Shown;
  std::vector<TProblem> Problems;
};

struct TArchiveReport {
  // Problems of the archive as a whole: entries that share their data.
  std::vector<TProblem> Problems;
  std::vector<TEntryReport> Entries;
  bool HasWait = false;

  int32_t FailedEntries() const;
  bool Clean() const { return Problems.empty() && FailedEntries() == 0; }
  // Every problem, the archive's first.
  std::vector<TProblem> AllProblems() const;
};

// Checks the archive Input opened in Archive. Entries that share their data
// are a problem of the archive, and then no entry's data is read; else,
// with ReadData, each entry's data is inflated alone (in memory that does
// not grow with its size) and compared with its length and CRC-32.
// Progress, when given, hears of each entry before its data is read.
// Threads entries are read at once; the report is the same for any number.
TArchiveReport CheckArchive(kv::TZLBArchive& Archive, TInput& Input, bool ReadData,
                            const std::function<void(int32_t Index)>& Progress = {},
                            unsigned Threads = 1);

}  // namespace zlbtool
