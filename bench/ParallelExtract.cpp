// bench_parallel_extract: what extracting entries on several threads can reach.
//
// usage: bench_parallel_extract THREADS in-order|largest-first ARCHIVE DIR
//
// Does what zlbtool extract does, with plain system calls: checks the
// archive CRC (one pass over the file, as opening does), inflates the
// directory, then inflates every entry into a new file below DIR (which
// must exist), checking its size and CRC-32, on THREADS threads. Each
// thread takes the next entry, in archive order or largest first. Reads go
// through pread in 64 KiB pieces, writes in 256 KiB pieces. Nothing here
// keeps the order of what is observable (messages, failures), which
// zlbtool must: this is a floor, not a design.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numeric>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "konvoro/Files.h"
#include "konvoro/zlb/CRC32.h"
#include "konvoro/zlb/ZLBFormat.h"

namespace {

constexpr size_t ReadSize = 65536;
constexpr size_t WriteSize = 262144;

[[noreturn]] void Fail(const std::string& What) {
  throw std::runtime_error(What + ": " + std::strerror(errno));
}

// Reads Length bytes at Offset; fewer only at the end of the file.
size_t ReadAt(int File, uint8_t* Buffer, size_t Length, int64_t Offset) {
  size_t Done = 0;
  while (Done < Length) {
    const ssize_t Got = pread(File, Buffer + Done, Length - Done, off_t(Offset + int64_t(Done)));
    if (Got < 0) Fail("pread");
    if (Got == 0) break;
    Done += size_t(Got);
  }
  return Done;
}

void WriteAll(int File, const uint8_t* Buffer, size_t Length) {
  while (Length > 0) {
    const ssize_t Put = write(File, Buffer, Length);
    if (Put <= 0) Fail("write");
    Buffer += Put;
    Length -= size_t(Put);
  }
}

class TInflater {
 public:
  TInflater() {
    if (inflateInit(&Z) != Z_OK) throw std::runtime_error("inflateInit failed");
  }
  ~TInflater() { inflateEnd(&Z); }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;
  z_stream Z{};
};

// Inflates the zlib stream at Offset, handing its output on in pieces of
// at most WriteSize bytes until Size bytes came, the stream's end with them.
template <class TSink>
void InflateAt(int Archive, int64_t Offset, int64_t Size, TSink&& Sink) {
  TInflater Inflater;
  z_stream& Z = Inflater.Z;
  const auto In = std::make_unique_for_overwrite<uint8_t[]>(ReadSize);
  const auto Out = std::make_unique_for_overwrite<uint8_t[]>(WriteSize);
  int64_t Done = 0;
  int Status = Z_OK;
  while (Status != Z_STREAM_END) {
    if (Z.avail_in == 0) {
      Z.avail_in = uInt(ReadAt(Archive, In.get(), ReadSize, Offset));
      if (Z.avail_in == 0) throw std::runtime_error("an entry's stream is cut short");
      Offset += Z.avail_in;
      Z.next_in = In.get();
    }
    Z.next_out = Out.get();
    Z.avail_out = uInt(WriteSize);
    Status = inflate(&Z, Z_NO_FLUSH);
    if (Status != Z_OK && Status != Z_STREAM_END) throw std::runtime_error("an entry is corrupt");
    const size_t Got = WriteSize - Z.avail_out;
    Done += int64_t(Got);
    if (Done > Size) throw std::runtime_error("an entry inflates past its size");
    Sink(Out.get(), Got);
  }
  if (Done != Size) throw std::runtime_error("an entry inflates short of its size");
}

uint32_t ArchiveCRC(int Archive, int64_t Length) {
  const auto Buffer = std::make_unique_for_overwrite<uint8_t[]>(WriteSize);
  uint32_t CRC = 0;
  for (int64_t At = 0; At < Length;) {
    const size_t Want = size_t(std::min<int64_t>(int64_t(WriteSize), Length - At));
    if (ReadAt(Archive, Buffer.get(), Want, At) != Want) throw std::runtime_error("short archive");
    CRC = kv::CRC32Update(CRC, {Buffer.get(), Want});
    At += int64_t(Want);
  }
  return CRC;
}

std::vector<kv::TZLBFileEntry> OpenArchive(int Archive) {
  struct stat Info {};
  if (fstat(Archive, &Info) != 0) Fail("fstat");
  const int64_t Size = Info.st_size;
  if (Size < int64_t(kv::TZLBArchiveTrailer::Size)) throw std::runtime_error("no trailer");
  std::array<uint8_t, kv::TZLBArchiveTrailer::Size> Raw{};
  const int64_t TrailerAt = Size - int64_t(Raw.size());
  if (ReadAt(Archive, Raw.data(), Raw.size(), TrailerAt) != Raw.size()) Fail("trailer");
  const auto Trailer = kv::TZLBArchiveTrailer::Decode(Raw);
  if (ArchiveCRC(Archive, TrailerAt) != Trailer.ArchiveCRC)
    throw std::runtime_error("the archive CRC fails");
  if (Trailer.FileCount < 0 || Trailer.DirectoryOffset < 0 || Trailer.DirectoryCompressed == 0)
    throw std::runtime_error("an unexpected trailer");
  std::vector<uint8_t> Records;
  InflateAt(Archive, Trailer.DirectoryOffset,
            int64_t(Trailer.FileCount) * int64_t(kv::TZLBFileEntry::Size),
            [&](const uint8_t* Data, size_t Length) {
              Records.insert(Records.end(), Data, Data + Length);
            });
  std::vector<kv::TZLBFileEntry> Entries;
  for (size_t I = 0; I < size_t(Trailer.FileCount); ++I)
    Entries.push_back(kv::TZLBFileEntry::Decode(std::span<const uint8_t, kv::TZLBFileEntry::Size>(
        Records.data() + I * kv::TZLBFileEntry::Size, kv::TZLBFileEntry::Size)));
  return Entries;
}

void ExtractEntry(int Archive, const kv::TZLBFileEntry& Entry, const std::string& Dir) {
  if (Entry.Stored != 0) throw std::runtime_error("stored entries are not measured here");
  const std::string Name = Dir + "/" + Entry.FileName.ToString();
  const kv::TFileHandle File(open(Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (!File) Fail("cannot create " + Name);
  uint32_t CRC = 0;
  InflateAt(Archive, Entry.DataOffset, Entry.OriginalSize, [&](const uint8_t* Data, size_t Length) {
    CRC = kv::CRC32Update(CRC, {Data, Length});
    WriteAll(File.Get(), Data, Length);
  });
  if (CRC != Entry.FileCRC) throw std::runtime_error(Name + " fails its CRC check");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string Order = argc == 5 ? argv[2] : "";
  if (Order != "in-order" && Order != "largest-first") {
    std::fputs("usage: bench_parallel_extract THREADS in-order|largest-first ARCHIVE DIR\n",
               stderr);
    return 1;
  }
  try {
    const unsigned Threads = unsigned(std::max(1, std::atoi(argv[1])));
    const kv::TFileHandle Archive(open(argv[3], O_RDONLY | O_CLOEXEC));
    if (!Archive) Fail(std::string("cannot open ") + argv[3]);
    const std::vector<kv::TZLBFileEntry> Entries = OpenArchive(Archive.Get());
    std::vector<size_t> Queue(Entries.size());
    std::iota(Queue.begin(), Queue.end(), size_t(0));
    if (Order == "largest-first")
      std::stable_sort(Queue.begin(), Queue.end(), [&](size_t A, size_t B) {
        return Entries[A].OriginalSize > Entries[B].OriginalSize;
      });

    std::atomic<size_t> Next{0};
    std::atomic<bool> Failed{false};
    std::string Failure;
    const auto Work = [&] {
      try {
        for (size_t I; !Failed && (I = Next++) < Queue.size();)
          ExtractEntry(Archive.Get(), Entries[Queue[I]], argv[4]);
      } catch (const std::exception& Error) {
        if (!Failed.exchange(true)) Failure = Error.what();
      }
    };
    {
      std::vector<std::jthread> Workers;
      for (unsigned T = 1; T < Threads; ++T)
        Workers.emplace_back(Work);
      Work();
    }
    if (Failed) throw std::runtime_error(Failure);
    return 0;
  } catch (const std::exception& Error) {
    std::fprintf(stderr, "bench_parallel_extract: %s\n", Error.what());
    return 1;
  }
}
