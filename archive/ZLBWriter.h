// TZLBArchiveWriter: writes ZLB archives. By default the layout is the one
// the updater's payload uses: zlib blocks back to back from offset 0 at
// zlib's default level, then the compressed directory, then the trailer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
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

// One entry of TZLBArchiveWriter::AddEntries: its names, and how to open
// its data.
struct TZLBEntrySource {
  std::string FileName;
  std::string FilePath;
  // Opens the data, which is read to its end. Called once, when the entry
  // is started, on whichever thread compresses it; it may raise.
  std::function<std::unique_ptr<TStream>()> Open;
};

struct TZLBAddOptions {
  // How many entries are compressed at once; 0: one per processor. The
  // archive is the same bytes whatever the number.
  unsigned Threads = 0;
  // Both events come on the calling thread, in entry order, whatever the
  // number of threads. After each piece of entry Index is written, with the
  // bytes read from its source so far:
  std::function<void(size_t Index, int64_t SourceBytes)> OnProgress;
  // After entry Index is written whole, with its record:
  std::function<void(size_t Index, const TZLBFileEntry& Entry)> OnEntryWritten;
};

class TZLBArchiveWriter {
 public:
  // Writes to Out from its current position, which counts as offset 0.
  explicit TZLBArchiveWriter(TStream& Out, TZLBWriterOptions Options = {});

  // Adds an entry holding the rest of Source. Raises Exception when the name
  // or path is longer than 255 bytes or the archive would outgrow 2 GiB,
  // EWriteError when the output fails, and EReadError with the stream's
  // reason when a read of Source fails (a failed read never ends the data).
  void AddEntry(std::string_view FileName, std::string_view FilePath, TStream& Source);
  void AddEntry(std::string_view FileName, std::string_view FilePath,
                std::span<const uint8_t> Data);
  // As above, choosing stored or compressed for this entry alone.
  void AddEntry(std::string_view FileName, std::string_view FilePath, std::span<const uint8_t> Data,
                bool Stored);
  // Adds Sources in order, the same bytes as AddEntry one by one, with up
  // to Options.Threads entries compressed at once. An entry that is not
  // the next to be written holds back a bounded amount of its output, then
  // waits its turn, so memory grows with the number of threads, never with
  // the data. A failure of an entry (its opener's, its stream's, or one of
  // the texts above) is raised once the entries before it are written, and
  // nothing of the entries after it is; Entries() then ends with the last
  // entry written, so the failed one's index in Sources is the number of
  // records this call added.
  void AddEntries(std::span<const TZLBEntrySource> Sources, const TZLBAddOptions& Options = {});
  // Writes the directory and the trailer. Returns the trailer written.
  TZLBArchiveTrailer Finish();

  const std::vector<TZLBFileEntry>& Entries() const { return FEntries; }

 protected:
  // Writes Data where the archive stands, covered by the archive CRC; for
  // writers of other layouts, with regions of their own between entries.
  void Emit(const void* Data, size_t Length);

 private:
  class TParallelEntries;

  // Adds the entry of Source under Entry's names, held as Entry says,
  // reporting each piece written to OnPiece with the bytes read so far.
  void AddEntryFrom(TZLBFileEntry Entry, TStream& Source,
                    const std::function<void(int64_t)>& OnPiece = {});
  void AddEntriesInTurn(std::span<const TZLBEntrySource> Sources, const TZLBAddOptions& Options);

  TStream& FOut;
  TZLBWriterOptions FOptions;
  std::vector<TZLBFileEntry> FEntries;
  int64_t FOffset = 0;
  uint32_t FArchiveCRC = 0;
  bool FFinished = false;
};

}  // namespace kv
