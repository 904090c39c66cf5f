// bench_piece_deflate: whole entries against fixed-size pieces, compressed on several threads.
//
// usage: bench_piece_deflate THREADS PASSES FILE...
//
// Reads the files into memory and compresses each as one zlib stream at
// zlib's default level, as zlbtool pack does, then as pigz does: cut into
// pieces of a fixed size, each piece deflated on its own with the 32 KiB
// before it as its dictionary and ended on a byte boundary (a sync flush),
// the last one finished; the raw pieces follow one zlib header, and the
// pieces' Adler-32 values are combined into the stream's. The bytes depend
// on the piece size only, never on the number of threads.
//
// Every layout runs on 1 thread and on THREADS threads, the fastest of
// PASSES passes each. Whole entries are taken in order by whichever thread
// is free (what entry-level parallelism can do at best, with no limit on
// output held back); pieces likewise, across all files. Each layout's
// streams are inflated and compared with the files once, untimed.
//
// Output, one line per layout, tab-separated: layout, piece bytes (0 for
// whole entries), compressed bytes, growth against whole entries in
// percent, wall ms on 1 thread, wall ms on THREADS threads.
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr size_t Window = 32768;

struct TFile {
  std::string Name;
  std::vector<uint8_t> Data;
};

// One piece of one file; Length == the file's size for a whole entry.
struct TTask {
  size_t File = 0;
  size_t Offset = 0;
  size_t Length = 0;
  bool Last = true;
};

struct TResult {
  std::vector<uint8_t> Bytes;
  uLong Adler = 1;
};

std::vector<uint8_t> ReadWhole(const std::string& Name) {
  std::ifstream In(Name, std::ios::binary);
  if (!In) throw std::runtime_error("cannot read " + Name);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

// Deflates Task's bytes: a whole zlib stream when the task is a whole file,
// else a raw piece primed with the window before it.
TResult Compress(const std::vector<TFile>& Files, const TTask& Task, bool Whole) {
  const std::vector<uint8_t>& Data = Files[Task.File].Data;
  z_stream Z{};
  if (deflateInit2(&Z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, Whole ? 15 : -15, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  TResult Result;
  if (!Whole && Task.Offset > 0) {
    const size_t From = Task.Offset > Window ? Task.Offset - Window : 0;
    deflateSetDictionary(&Z, Data.data() + From, uInt(Task.Offset - From));
  }
  Result.Bytes.resize(deflateBound(&Z, uLong(Task.Length)) + 16);
  Z.next_in = const_cast<Bytef*>(Data.data() + Task.Offset);
  Z.avail_in = uInt(Task.Length);
  Z.next_out = Result.Bytes.data();
  Z.avail_out = uInt(Result.Bytes.size());
  const int Status = deflate(&Z, Task.Last ? Z_FINISH : Z_SYNC_FLUSH);
  if (Status != (Task.Last ? Z_STREAM_END : Z_OK) || Z.avail_in != 0)
    throw std::runtime_error("deflate failed");
  Result.Bytes.resize(Result.Bytes.size() - Z.avail_out);
  deflateEnd(&Z);
  if (!Whole) Result.Adler = adler32(1, Data.data() + Task.Offset, uInt(Task.Length));
  return Result;
}

std::vector<TTask> TasksOf(const std::vector<TFile>& Files, size_t Piece) {
  std::vector<TTask> Tasks;
  for (size_t F = 0; F < Files.size(); ++F) {
    const size_t Size = Files[F].Data.size();
    if (Piece == 0) {
      Tasks.push_back({F, 0, Size, true});
      continue;
    }
    size_t Offset = 0;
    do {
      const size_t Length = std::min(Piece, Size - Offset);
      Tasks.push_back({F, Offset, Length, Offset + Length == Size});
      Offset += Length;
    } while (Offset < Size);
  }
  return Tasks;
}

// Runs every task on Threads threads, each taking the next task in order.
std::vector<TResult> RunTasks(const std::vector<TFile>& Files, const std::vector<TTask>& Tasks,
                              bool Whole, unsigned Threads) {
  std::vector<TResult> Results(Tasks.size());
  std::atomic<size_t> Next{0};
  const auto Work = [&] {
    for (size_t I; (I = Next++) < Tasks.size();)
      Results[I] = Compress(Files, Tasks[I], Whole);
  };
  std::vector<std::jthread> Workers;
  for (unsigned T = 1; T < Threads; ++T)
    Workers.emplace_back(Work);
  Work();
  return Results;
}

// The zlib stream of each file, assembled from its pieces.
std::vector<std::vector<uint8_t>> Assemble(const std::vector<TFile>& Files,
                                           const std::vector<TTask>& Tasks,
                                           std::vector<TResult>& Results, bool Whole) {
  std::vector<std::vector<uint8_t>> Streams(Files.size());
  std::vector<uLong> Adler(Files.size(), 1);
  for (size_t I = 0; I < Tasks.size(); ++I) {
    std::vector<uint8_t>& Out = Streams[Tasks[I].File];
    if (Whole) {
      Out = std::move(Results[I].Bytes);
      continue;
    }
    if (Out.empty()) Out = {0x78, 0x9C};
    Out.insert(Out.end(), Results[I].Bytes.begin(), Results[I].Bytes.end());
    Adler[Tasks[I].File] =
        adler32_combine(Adler[Tasks[I].File], Results[I].Adler, z_off_t(Tasks[I].Length));
    if (Tasks[I].Last)
      for (int Shift = 24; Shift >= 0; Shift -= 8)
        Out.push_back(uint8_t(Adler[Tasks[I].File] >> Shift));
  }
  return Streams;
}

void Verify(const std::vector<TFile>& Files, const std::vector<std::vector<uint8_t>>& Streams) {
  for (size_t F = 0; F < Files.size(); ++F) {
    std::vector<uint8_t> Back(Files[F].Data.size() + 1);
    uLongf Length = uLongf(Back.size());
    if (uncompress(Back.data(), &Length, Streams[F].data(), uLong(Streams[F].size())) != Z_OK ||
        Length != Files[F].Data.size() ||
        !std::equal(Files[F].Data.begin(), Files[F].Data.end(), Back.begin()))
      throw std::runtime_error(Files[F].Name + " does not inflate to itself");
  }
}

double FastestMs(int Passes, const std::vector<TFile>& Files, const std::vector<TTask>& Tasks,
                 bool Whole, unsigned Threads) {
  double Best = 1e300;
  for (int P = 0; P < Passes; ++P) {
    const auto Start = std::chrono::steady_clock::now();
    RunTasks(Files, Tasks, Whole, Threads);
    const auto End = std::chrono::steady_clock::now();
    Best = std::min(Best, std::chrono::duration<double, std::milli>(End - Start).count());
  }
  return Best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: bench_piece_deflate THREADS PASSES FILE...\n", stderr);
    return 1;
  }
  try {
    const auto Threads = unsigned(std::max(1, std::atoi(argv[1])));
    const int Passes = std::max(1, std::atoi(argv[2]));
    std::vector<TFile> Files;
    for (int I = 3; I < argc; ++I)
      Files.push_back({argv[I], ReadWhole(argv[I])});

    size_t WholeBytes = 0;
    for (const size_t Piece : {size_t(0), size_t(64) << 10, size_t(128) << 10, size_t(256) << 10,
                               size_t(1) << 20, size_t(4) << 20}) {
      const bool Whole = Piece == 0;
      const std::vector<TTask> Tasks = TasksOf(Files, Piece);
      std::vector<TResult> Results = RunTasks(Files, Tasks, Whole, Threads);
      const std::vector<std::vector<uint8_t>> Streams = Assemble(Files, Tasks, Results, Whole);
      Verify(Files, Streams);
      size_t Bytes = 0;
      for (const std::vector<uint8_t>& Stream : Streams)
        Bytes += Stream.size();
      if (Whole) WholeBytes = Bytes;
      const double One = FastestMs(Passes, Files, Tasks, Whole, 1);
      const double Many = FastestMs(Passes, Files, Tasks, Whole, Threads);
      std::printf("%s\t%zu\t%zu\t%.3f\t%.0f\t%.0f\n", Whole ? "whole entries" : "pieces", Piece,
                  Bytes, 100.0 * (double(Bytes) - double(WholeBytes)) / double(WholeBytes), One,
                  Many);
      std::fflush(stdout);
    }
    return 0;
  } catch (const std::exception& Error) {
    std::fprintf(stderr, "bench_piece_deflate: %s\n", Error.what());
    return 1;
  }
}
