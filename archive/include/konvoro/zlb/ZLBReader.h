// The reading of ZLB archives over any seekable stream: the trailer and the
// archive CRC, the directory, and one entry's data. TZLBArchive runs these
// over the archive files it opens; tests and fuzz targets over memory.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "konvoro/Exceptions.h"
#include "konvoro/Streams.h"
#include "konvoro/zlb/ZLBFormat.h"

namespace kv {

// Which check found an entry corrupt. Several checks share the one text
// "File (%d) is corrupt", which the component's callers show as it is; the
// cause travels beside it for those that diagnose archives (zlbtool test
// says it after the text).
enum class TCorruptCause : uint8_t {
  None,
  OutsideFile,     // DataOffset or OriginalSize places no data in the file
  ChunkFailed,     // a chunk's read (a zlib error), report or write raised
  DataShort,       // the data ended before OriginalSize bytes
  StreamNotEnded,  // the zlib stream does not end, checked, right after the data
  WriteBack,       // Dest could not write out the bytes it held back
};

// What a cause means, in a few words; "" for None.
const char* CorruptCauseText(TCorruptCause Cause);

// The reader's own failures, with the component's fixed texts; the system's
// reason, or the failure behind the text nested in it, says more.
class EZLBArchiveError : public Exception {
 public:
  explicit EZLBArchiveError(std::string Message, TCorruptCause Cause = TCorruptCause::None,
                            std::error_code Reason = {})
      : Exception(std::move(Message), Reason), FCause(Cause) {}
  TCorruptCause Cause() const noexcept { return FCause; }

 private:
  TCorruptCause FCause;
};

// What a read tells as it goes; unset hooks are skipped.
struct TReadHooks {
  // Once, before the first chunk: the byte count that stands for 100 percent.
  std::function<void(int32_t Total)> Started;
  // After each chunk is read and before its bytes are used: the count the
  // chunk delivered. What it raises fails the read as a failing chunk does.
  std::function<void(int32_t Delivered)> ChunkRead;
};

// The CRC-32 of Stream from position 0 to its size less Tail, read in chunks
// of 10,240 bytes (a short read still uses up its chunk); the position is
// left where it was. ReadError, when given, receives the reason of a read
// that failed (none when none did). Raises only what the stream raises.
uint32_t StreamCRC32(TStream& Stream, int64_t Tail, std::error_code* ReadError = nullptr);

// The trailer of the archive in Source and the CRC-32 computed over every
// byte before it, read as ReadTrailer reads them, for tools that report a
// failing CRC rather than stop at it.
struct TTrailerCheck {
  TZLBArchiveTrailer Trailer;
  uint32_t ComputedCRC = 0;
  // The reason of a read that failed; none when every read succeeded.
  std::error_code ReadError;
  bool Holds() const { return !ReadError && ComputedCRC == Trailer.ArchiveCRC; }
};
TTrailerCheck CheckTrailer(TStream& Source);

// Checks the archive CRC over every byte of Source before its last 36, then
// reads those 36 as the trailer. A source shorter than a trailer cannot be
// positioned before its start: the trailer is then read from where Source
// stood (its start, when just opened) as far as it reaches, zero beyond.
// Raises EZLBArchiveError("The archive file appears to be corrupted") when
// the CRC differs from the trailer's ArchiveCRC, and, with the reason, when
// a read failed: bytes that could not be read are not an empty archive.
TZLBArchiveTrailer ReadTrailer(TStream& Source);

// Appends Trailer.FileCount directory records from Source to Entries, each as
// soon as it has arrived. A compressed directory is inflated in chunks of
// 4,096 bytes, each told to Hooks; a raw one is read without reports. The
// count is never trusted on its own: a raw directory must fit in Source
// before anything is read, a compressed one must inflate to exactly its
// records and end there with a matching check value. Any failure, also one
// raised by a hook, raises EZLBArchiveError("Unable to read archive file
// list"); Entries may then hold the records read before it.
void ReadDirectory(TStream& Source, const TZLBArchiveTrailer& Trailer,
                   std::deque<TZLBFileEntry>& Entries, const TReadHooks& Hooks = {});

// Writes Entry's original bytes from Source into Dest from Dest's current
// position on, in chunks of 4,096 bytes, each told to Hooks after it is read
// and before it is written; then flushes Dest and, with CheckCRC, compares
// the CRC-32 of all of Dest with Entry.FileCRC. Index names the entry in the
// texts it raises: "File (%d) is corrupt" (with its TCorruptCause) for a
// record that places no data in Source, a chunk whose read, report or write
// raises (a zlib error raises for the chunk that reaches it, so that chunk is
// neither reported nor written; what was raised is nested in the failure),
// data that ends before the entry's size (with the source's reason when a
// read failed), a
// zlib stream that does not end right after it with a matching check value,
// and a failing flush of Dest; "File (%d) failed CRC check" for a mismatch.
void ExtractEntry(TStream& Source, const TZLBFileEntry& Entry, int32_t Index, TStream& Dest,
                  bool CheckCRC, const TReadHooks& Hooks = {});

}  // namespace kv
