// bench_inflate_floor: the least work an extraction can do: inflating every entry into memory.
//
// usage: bench_inflate_floor ARCHIVE
//
// Reads the whole archive with one read loop, decodes the trailer and the
// directory with the project's record decoders, and inflates each entry's
// zlib stream with plain zlib into one memory buffer sized for the largest
// entry. No archive CRC pass, no files written: what remains is reading and
// inflating. inflate checks each stream's Adler-32, and the byte count is
// checked and printed, so the work cannot be skipped.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "konvoro/Files.h"
#include "konvoro/zlb/ZLBFormat.h"

namespace {

// A zlib inflater that is always ended; reset between streams.
class TInflater {
 public:
  TInflater() {
    if (inflateInit(&FZ) != Z_OK) throw std::runtime_error("inflateInit failed");
  }
  ~TInflater() { inflateEnd(&FZ); }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;

  // Inflates the one zlib stream at the start of Input into Output, which
  // must receive exactly its size.
  void InflateExactly(std::span<const uint8_t> Input, std::span<uint8_t> Output) {
    if (inflateReset(&FZ) != Z_OK) throw std::runtime_error("inflateReset failed");
    FZ.next_in = const_cast<Bytef*>(Input.data());
    FZ.avail_in = uInt(Input.size());
    FZ.next_out = Output.data();
    FZ.avail_out = uInt(Output.size());
    const int Result = inflate(&FZ, Z_FINISH);
    if (Result != Z_STREAM_END || FZ.total_out != Output.size())
      throw std::runtime_error("a zlib stream did not inflate to its recorded size");
  }

 private:
  z_stream FZ{};
};

struct TArchiveBytes {
  std::unique_ptr<uint8_t[]> Data;
  size_t Size = 0;
  std::span<const uint8_t> From(size_t Offset) const {
    if (Offset > Size) throw std::runtime_error("an offset lies outside the archive");
    return {Data.get() + Offset, Size - Offset};
  }
};

TArchiveBytes ReadWholeFile(const char* Name) {
  const kv::TFileHandle File(open(Name, O_RDONLY | O_CLOEXEC));
  struct stat Info {};
  if (!File || fstat(File.Get(), &Info) != 0)
    throw std::runtime_error(std::string("cannot open ") + Name + ": " + std::strerror(errno));
  TArchiveBytes Bytes;
  Bytes.Size = size_t(Info.st_size);
  Bytes.Data = std::make_unique_for_overwrite<uint8_t[]>(Bytes.Size);
  size_t Done = 0;
  while (Done < Bytes.Size) {
    const ssize_t Got = read(File.Get(), Bytes.Data.get() + Done, Bytes.Size - Done);
    if (Got <= 0) throw std::runtime_error(std::string("cannot read ") + Name);
    Done += size_t(Got);
  }
  return Bytes;
}

std::vector<kv::TZLBFileEntry> ReadDirectory(const TArchiveBytes& Archive, TInflater& Inflater) {
  if (Archive.Size < kv::TZLBArchiveTrailer::Size) throw std::runtime_error("no trailer");
  const auto Trailer =
      kv::TZLBArchiveTrailer::Decode(std::span<const uint8_t, kv::TZLBArchiveTrailer::Size>(
          Archive.Data.get() + Archive.Size - kv::TZLBArchiveTrailer::Size,
          kv::TZLBArchiveTrailer::Size));
  if (Trailer.FileCount < 0 || Trailer.DirectoryOffset < 0)
    throw std::runtime_error("a damaged trailer");
  std::vector<uint8_t> Records(size_t(Trailer.FileCount) * kv::TZLBFileEntry::Size);
  const auto Stored = Archive.From(size_t(Trailer.DirectoryOffset));
  if (Trailer.DirectoryCompressed != 0) {
    Inflater.InflateExactly(Stored, Records);
  } else {
    if (Stored.size() < Records.size()) throw std::runtime_error("a short directory");
    std::copy_n(Stored.begin(), Records.size(), Records.begin());
  }
  std::vector<kv::TZLBFileEntry> Entries;
  for (size_t I = 0; I < size_t(Trailer.FileCount); ++I)
    Entries.push_back(kv::TZLBFileEntry::Decode(std::span<const uint8_t, kv::TZLBFileEntry::Size>(
        Records.data() + I * kv::TZLBFileEntry::Size, kv::TZLBFileEntry::Size)));
  return Entries;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: bench_inflate_floor ARCHIVE\n", stderr);
    return 1;
  }
  try {
    const TArchiveBytes Archive = ReadWholeFile(argv[1]);
    TInflater Inflater;
    const std::vector<kv::TZLBFileEntry> Entries = ReadDirectory(Archive, Inflater);

    int32_t Largest = 0;
    for (const auto& Entry : Entries) {
      if (Entry.OriginalSize < 0 || Entry.DataOffset < 0)
        throw std::runtime_error("a damaged directory record");
      Largest = std::max(Largest, Entry.OriginalSize);
    }
    const auto Output = std::make_unique_for_overwrite<uint8_t[]>(size_t(Largest));
    uint64_t Total = 0;
    for (const auto& Entry : Entries) {
      const std::span<uint8_t> Target(Output.get(), size_t(Entry.OriginalSize));
      const auto Input = Archive.From(size_t(Entry.DataOffset));
      if (Entry.Stored != 0) {
        if (Input.size() < Target.size()) throw std::runtime_error("a short stored entry");
        std::copy_n(Input.begin(), Target.size(), Target.begin());
      } else {
        Inflater.InflateExactly(Input, Target);
      }
      Total += Target.size();
    }
    std::printf("%zu entries, %llu bytes inflated with zlib %s\n", Entries.size(),
                static_cast<unsigned long long>(Total), zlibVersion());
    return 0;
  } catch (const std::exception& Error) {
    std::fprintf(stderr, "bench_inflate_floor: %s\n", Error.what());
    return 1;
  }
}
