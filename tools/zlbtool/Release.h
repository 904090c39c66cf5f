// A release as pack and updater take it: the files that the command line
// names, read exactly as they are or refused by name, their names in the
// target's code page, and the archive written of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Check.h"
#include "Names.h"
#include "ZLBWriter.h"
#include "konvoro/Streams.h"

namespace zlbtool {

struct TReleaseFile {
  std::string Source;    // where to read it
  std::string Subject;   // how to name it: the operand, and its place below it
  std::string HostName;  // its name (UTF-8)
  std::string HostPath;  // its folder below the operand, "sub\deeper\" (UTF-8), or ""
  std::string Name;      // the entry's FileName, in the code page
  std::string Path;      // the entry's FilePath, in the code page; "" without paths
  int64_t Size = 0;
};

struct TRelease {
  std::vector<TReleaseFile> Files;
  std::vector<TProblem> Problems;
};

// The files that Operands name: each file, and every file below each
// folder, in byte order of stored path and name. A symbolic link to a file
// is the file it names, under the link's own name and place; anything else
// that is no file or folder (a dangling link, a link to a folder, a FIFO, a
// socket, a device), an unreadable folder, a name with no exact form in
// the code page and a file over the format's size limit is a problem, never
// skipped. WithPaths keeps each file's folder below its operand.
TRelease GatherRelease(const std::vector<std::string>& Operands, bool WithPaths,
                       const TNameCodec& Codec);

// Raises kv::Exception listing every problem, one a line: "WHAT was
// refused:" then each file with its reason.
[[noreturn]] void RefuseRelease(const std::string& What, const std::vector<TProblem>& Problems);

// Writes the archive of Files to Out, its names' code page recorded when a
// name or path is not ASCII, compressing up to Threads entries at once.
// Raises kv::Exception naming the file whose reading failed, with the
// reason.
void WriteArchive(const std::vector<TReleaseFile>& Files, kv::TZLBWriterOptions Options,
                  const TNameCodec& Codec, unsigned Threads, kv::TStream& Out);

}  // namespace zlbtool
