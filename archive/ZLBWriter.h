// TZLBArchiveWriter: writes ZLB archives. By default the layout is the one
// the updater's payload uses: zlib blocks back to back from offset 0 at
// zlib's default level, then the compressed directory, then the trailer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "konvoro/Streams.h"
#include "konvoro/zlb/ZLBFormat.h"

namespace kv {

struct TZLBWriterOptions {
  bool Stored = false;        // hold entries raw instead of as zlib streams
  bool RawDirectory = false;  // hold the directory raw instead of as a zlib stream
  // The code page of the names, recorded in the trailer (RecordCodePage).
  std::optional<uint32_t> NameCodePage = std::nullopt;
};

class TZLBArchiveWriter {
 public:
  // Writes to Out from its current position, which counts as offset 0.
  explicit TZLBArchiveWriter(TStream& Out, TZLBWriterOptions Options = {});

  // Adds an entry holding the rest of Source. Raises Exception when the name
  // or path is longer than 255 bytes or the archive would outgrow 2 GiB, and
  // EWriteError/EReadError when the streams fail.
  void AddEntry(std::string_view FileName, std::string_view FilePath, TStream& Source);
  void AddEntry(std::string_view FileName, std::string_view FilePath,
                std::span<const uint8_t> Data);
  // As above, choosing stored or compressed for this entry alone.
  void AddEntry(std::string_view FileName, std::string_view FilePath, std::span<const uint8_t> Data,
                bool Stored);
  // Writes the directory and the trailer. Returns the trailer written.
  TZLBArchiveTrailer Finish();

  const std::vector<TZLBFileEntry>& Entries() const { return FEntries; }

 protected:
  // Writes Data where the archive stands, covered by the archive CRC; for
  // writers of other layouts, with regions of their own between entries.
  void Emit(const void* Data, size_t Length);

 private:
  void AddEntryFrom(std::string_view FileName, std::string_view FilePath, TStream& Source,
                    bool Stored);
  uint32_t Deflate(TStream& Source, uint32_t& CRC, int64_t& Size);
  uint32_t Copy(TStream& Source, uint32_t& CRC, int64_t& Size);

  TStream& FOut;
  TZLBWriterOptions FOptions;
  std::vector<TZLBFileEntry> FEntries;
  int64_t FOffset = 0;
  uint32_t FArchiveCRC = 0;
  bool FFinished = false;
};

}  // namespace kv
