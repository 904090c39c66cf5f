// What pack and updater share: the files that the command line names, the
// checks that they can be stored, and the archive written from them.
#pragma once

#include <string>
#include <vector>

#include "ZLBWriter.h"
#include "konvoro/Streams.h"

namespace zlbtool {

struct TPackInput {
  std::string SourcePath;  // where to read the file
  std::string Name;        // the entry's FileName
  std::string Path;        // the entry's FilePath: "sub\deeper\" or "", "" without paths
};

// The files that Operands name: each file, and every file below each
// directory, a directory's in byte order of stored path and name. Raises
// kv::Exception for an operand that is neither.
std::vector<TPackInput> GatherInputs(const std::vector<std::string>& Operands, bool WithPaths);

// Refuses what the format cannot hold, and two files that would extract to
// one file, before anything is written: raises kv::Exception naming them.
// Hint follows the message about two such files.
void CheckInputs(const std::vector<TPackInput>& Inputs, bool WithPaths, const std::string& Hint);

// Writes the archive of Inputs to Out. Raises what the writer and the
// streams raise.
void WriteArchive(const std::vector<TPackInput>& Inputs, kv::TZLBWriterOptions Options,
                  kv::TStream& Out);

}  // namespace zlbtool
