// The file a command is given: a ZLB archive, or an updater whose payload
// is read in place; where each of its entries' data lies; and how its names
// read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Names.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace zlbtool {

class TConfinedSource;
class TSharedReads;

// An archive opened for a command, read through a source that can hold the
// reads of one entry to that entry's data.
class TInput {
 public:
  // Opens File in Archive: an archive file, or an updater's ZLBDATA
  // resource through a window on the file (nothing is copied), under File's
  // name either way; its names read in the code page Parsed names, or the
  // one the archive records (ReadingCodePage). Raises kv::Exception("FILE:
  // cause"): the system's reason when File cannot be opened, what is wrong
  // with an image (kv::payload::LocatePayload), or the component's text; for
  // a failing archive CRC, with the CRC computed and the one recorded.
  TInput(kv::TZLBArchive& Archive, const std::string& File, const TParsedArgs& Parsed);
  // As above, of a file open already as Handle, which File names in texts.
  TInput(kv::TZLBArchive& Archive, const std::string& File, kv::TFileHandle Handle,
         const TParsedArgs& Parsed);
  ~TInput();
  TInput(const TInput&) = delete;
  TInput& operator=(const TInput&) = delete;

  const std::string& File() const { return FFile; }
  const TNameCodec& Codec() const { return FCodec; }
  // Entry's stored path and name as shown.
  std::string Shown(const kv::TZLBFileEntry& Entry) const;

  // Two entries whose data ranges overlap, as a text naming them: records
  // that share their data make an archive cost far more to read than its
  // size (an archive bomb). Read from the directory alone.
  const std::optional<std::string>& Overlap() const { return FOverlap; }
  // Raises kv::Exception("FILE: the overlap") when there is one.
  void RequireDataApart() const;
  // Runs Read, an operation of the archive on entry Index alone, with the
  // reads ending where that entry's data range ends.
  void ReadEntry(int32_t Index, const std::function<void()>& Read);
  // A stream of the archive for entry Index alone, ending where its data
  // range ends, as ReadEntry holds the component's reads; for
  // kv::ExtractEntry on any thread, the component aside. Such streams may
  // be read on several threads at once: they share one open file, whose
  // handles all share one position, under a lock.
  std::unique_ptr<kv::TStream> OpenEntry(int32_t Index);

 private:
  std::string FFile;
  TNameCodec FCodec{nullptr};
  TConfinedSource* FSource;
  std::unique_ptr<TSharedReads> FShared;
  // Per entry: where its data range ends; none for an entry that reads
  // nothing.
  std::vector<std::optional<int64_t>> FEnds;
  std::optional<std::string> FOverlap;
  int64_t FSize = 0;  // the archive's
};

}  // namespace zlbtool
