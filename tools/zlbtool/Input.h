// The file a command is given: a ZLB archive, or an updater whose payload
// is read in place; and where each of its entries' data lies.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "konvoro/zlb/ZLIBArchive.h"

namespace zlbtool {

class TConfinedSource;

// An archive opened for a command, read through a source that can hold the
// reads of one entry to that entry's data.
class TInput {
 public:
  // Opens File in Archive: an archive file, or an updater's ZLBDATA
  // resource through a window on the file (nothing is copied), under File's
  // name either way. Raises what OpenArchive raises, and
  // kv::Exception("FILE: what is wrong") for an executable image that is
  // malformed or carries no payload or several (kv::payload::LocatePayload tells
  // when a file counts as an image).
  TInput(kv::TZLBArchive& Archive, const std::string& File);

  // Raises kv::Exception naming two entries whose data ranges overlap:
  // records that share their data make an archive cost far more to read
  // than its size (an archive bomb). Reads nothing but the directory.
  void RequireDataApart() const;
  // Runs Read, an operation of the archive on entry Index alone, with the
  // reads ending where that entry's data range ends.
  void ReadEntry(int32_t Index, const std::function<void()>& Read);

 private:
  TConfinedSource* FSource;
  // Per entry: where its data range ends; none for an entry that reads
  // nothing.
  std::vector<std::optional<int64_t>> FEnds;
  // What RequireDataApart raises, when two ranges overlap.
  std::optional<std::string> FOverlap;
};

}  // namespace zlbtool
