// TDecompressionStream at its boundaries: where input starts, the size of
// the blocks pulled, streams that end early, damaged data.
#include <gtest/gtest.h>
#include <zlib.h>

#include "TestSupport.h"
#include "konvoro/Adler32.h"
#include "konvoro/DecompressionStream.h"
#include "konvoro/Exceptions.h"

using namespace kv;
using kvtest::MessageOf;
using kvtest::TBytes;

namespace {

// Records the size of every read asked of it.
class TRecordingStream : public TReadOnlyMemoryStream {
 public:
  explicit TRecordingStream(const TBytes& Data)
      : TReadOnlyMemoryStream(Data.data(), int64_t(Data.size())) {}
  int32_t Read(void* Buffer, int32_t Count) override {
    Requests.push_back(Count);
    return TReadOnlyMemoryStream::Read(Buffer, Count);
  }
  std::vector<int32_t> Requests;
};

// Delivers one byte per read.
class TTrickleStream : public TReadOnlyMemoryStream {
 public:
  using TReadOnlyMemoryStream::TReadOnlyMemoryStream;
  int32_t Read(void* Buffer, int32_t Count) override {
    return TReadOnlyMemoryStream::Read(Buffer, std::min(Count, 1));
  }
};

TBytes ReadAllFrom(TStream& S, int32_t Chunk) {
  TBytes Out;
  std::vector<uint8_t> Buf(static_cast<size_t>(Chunk));
  for (;;) {
    const int32_t N = S.Read(Buf.data(), Chunk);
    if (N <= 0) break;
    Out.insert(Out.end(), Buf.begin(), Buf.begin() + N);
  }
  return Out;
}

}  // namespace

TEST(DecompressionStream, StartsAtTheSourcePositionAndReadsLazily) {
  const TBytes Data = kvtest::PatternBytes(10000, 1);
  TBytes Source = kvtest::ToBytes("junk-before");
  const TBytes Z = kvtest::ZlibCompress(Data);
  Source.insert(Source.end(), Z.begin(), Z.end());
  TRecordingStream Src(Source);
  Src.SetPosition(11);
  TDecompressionStream D(Src);
  EXPECT_TRUE(Src.Requests.empty()) << "nothing is read at creation";
  EXPECT_EQ(ReadAllFrom(D, 4096), Data);
}

TEST(DecompressionStream, PullsBlocksOf64KiBAndMayReadPastTheStream) {
  const TBytes Data = kvtest::PatternBytes(300000, 2);
  TBytes Source = kvtest::ZlibCompress(Data);
  const size_t StreamEnd = Source.size();
  Source.resize(Source.size() + 100000, 0xAB);  // whatever follows in the file
  TRecordingStream Src(Source);
  TDecompressionStream D(Src);
  EXPECT_EQ(ReadAllFrom(D, 4096), Data);
  for (int32_t R : Src.Requests)
    EXPECT_EQ(R, 65536);
  EXPECT_GE(uint64_t(Src.GetPosition()), StreamEnd);
  EXPECT_TRUE(D.StreamEnded());
}

TEST(DecompressionStream, StreamCutShortEndsTheOutputInsteadOfWaiting) {
  const TBytes Data = kvtest::PatternBytes(50000, 3);
  TBytes Z = kvtest::ZlibCompress(Data);
  Z.resize(Z.size() / 2);
  TReadOnlyMemoryStream Src(Z.data(), int64_t(Z.size()));
  TDecompressionStream D(Src);
  const TBytes Got = ReadAllFrom(D, 4096);
  EXPECT_LT(Got.size(), Data.size());
  EXPECT_TRUE(std::equal(Got.begin(), Got.end(), Data.begin()));
  char Buf[16];
  EXPECT_EQ(D.Read(Buf, 16), 0) << "and keeps delivering nothing";
  EXPECT_FALSE(D.StreamEnded());
}

TEST(DecompressionStream, EmptySourceDeliversNothing) {
  TReadOnlyMemoryStream Src(nullptr, 0);
  TDecompressionStream D(Src);
  char Buf[16];
  EXPECT_EQ(D.Read(Buf, 16), 0);
}

TEST(DecompressionStream, DamagedDataRaisesError) {
  TBytes Z = kvtest::ZlibCompress(kvtest::PatternBytes(20000, 4));
  Z[0] = 0x00;  // a header that is not zlib's
  TReadOnlyMemoryStream Src(Z.data(), int64_t(Z.size()));
  TDecompressionStream D(Src);
  char Buf[4096];
  EXPECT_EQ(MessageOf([&] { D.Read(Buf, 4096); }), "error");
  EXPECT_THROW(D.Read(Buf, 4096), EZDecompressionError);
}

TEST(DecompressionStream, BadCheckValueRaisesForTheReadThatReachesTheEnd) {
  TBytes Z = kvtest::ZlibCompress(kvtest::ToBytes("hello hello hello"));
  Z.back() ^= 0xFF;  // the Adler-32 check
  TReadOnlyMemoryStream Src(Z.data(), int64_t(Z.size()));
  TDecompressionStream D(Src);
  char Buf[64];
  EXPECT_EQ(D.Read(Buf, 16), 16) << "ends before the failure point";
  EXPECT_THROW(D.Read(Buf, 1), EZDecompressionError) << "reaches it";
  EXPECT_THROW(D.Read(Buf, 64), EZDecompressionError) << "and stays failed";
  EXPECT_FALSE(D.EndsHere());
}

// A read that reaches or crosses the point where zlib fails raises and
// delivers nothing; every read before it delivers in full. A trickling
// source makes zlib meet the failure only after the block made so far has
// been handed out.
TEST(DecompressionStream, TheReadThatMeetsTheFailurePointRaises) {
  struct TCase {
    size_t FailureAt;
    int32_t ReadSize;
    int FullReads;
  };
  const TCase Cases[] = {
      {.FailureAt = 0, .ReadSize = 4096, .FullReads = 0},
      {.FailureAt = 100, .ReadSize = 4096, .FullReads = 0},
      {.FailureAt = 10000, .ReadSize = 4096, .FullReads = 2},
      // The second read ends right at the point.
      {.FailureAt = 8192, .ReadSize = 4096, .FullReads = 1},
      {.FailureAt = 8193, .ReadSize = 4096, .FullReads = 2},
      // At and past the end of the first 256 KiB made.
      {.FailureAt = TDecompressionStream::OutputBlockSize, .ReadSize = 4096, .FullReads = 63},
      {.FailureAt = TDecompressionStream::OutputBlockSize + 1, .ReadSize = 4096, .FullReads = 64},
      {.FailureAt = 300000, .ReadSize = 100000, .FullReads = 2}};
  const TBytes Data = kvtest::PatternBytes(300000, 9);
  for (const bool Trickle : {false, true}) {
    for (const TCase& C : Cases) {
      SCOPED_TRACE(std::to_string(C.FailureAt) + " in reads of " + std::to_string(C.ReadSize) +
                   (Trickle ? ", trickling source" : ""));
      const TBytes Z = kvtest::ZlibFailingAfter(TBytes(Data.begin(), Data.begin() + C.FailureAt));
      TReadOnlyMemoryStream Whole(Z.data(), int64_t(Z.size()));
      TTrickleStream Trickling(Z.data(), int64_t(Z.size()));
      TDecompressionStream D(Trickle ? static_cast<TStream&>(Trickling) : Whole);
      std::vector<uint8_t> Buf(size_t(C.ReadSize));
      for (int Read = 0; Read < C.FullReads; ++Read) {
        ASSERT_EQ(D.Read(Buf.data(), C.ReadSize), C.ReadSize);
        EXPECT_TRUE(std::equal(Buf.begin(), Buf.end(), Data.begin() + Read * C.ReadSize));
      }
      // The text is the class library's; zlib's own words ride along.
      EXPECT_EQ(kvtest::DescriptionOf([&] { D.Read(Buf.data(), C.ReadSize); }),
                "error (invalid block type)");
      EXPECT_EQ(D.GetPosition(), int64_t(C.FullReads) * C.ReadSize) << "nothing more delivered";
    }
  }
}

TEST(DecompressionStream, SourceMovedBetweenReadsIsPutBack) {
  const TBytes Data = kvtest::PatternBytes(200000, 5);
  const TBytes Z = kvtest::ZlibCompress(Data);
  TReadOnlyMemoryStream Src(Z.data(), int64_t(Z.size()));
  TDecompressionStream D(Src);
  TBytes Out;
  std::vector<uint8_t> Buf(4096);
  for (;;) {
    Src.SetPosition(0);  // someone else uses the source in between
    const int32_t N = D.Read(Buf.data(), 4096);
    if (N <= 0) break;
    Out.insert(Out.end(), Buf.begin(), Buf.begin() + N);
  }
  EXPECT_EQ(Out, Data);
}

TEST(DecompressionStream, HeadersThatAreNotPlainZlibAreErrors) {
  const TBytes Good = kvtest::ZlibCompress(kvtest::ToBytes("some text"));
  struct TCase {
    const char* What;
    uint8_t First;
    uint8_t Second;
  };
  const TCase Cases[] = {{.What = "check bits wrong", .First = 0x78, .Second = 0x9D},
                         {.What = "not deflate", .First = 0x77, .Second = 0x85},
                         {.What = "window over 32 KiB", .First = 0x88, .Second = 0x98},
                         {.What = "preset dictionary", .First = 0x78, .Second = 0xBB}};
  for (const TCase& C : Cases) {
    TBytes Z = Good;
    Z[0] = C.First;
    Z[1] = C.Second;
    TReadOnlyMemoryStream Src(Z.data(), int64_t(Z.size()));
    TDecompressionStream D(Src);
    char Buf[64];
    EXPECT_THROW(D.Read(Buf, 64), EZDecompressionError) << C.What;
    EXPECT_EQ(kvtest::DescriptionOf([&] { D.Read(Buf, 64); }), "error (incorrect header check)")
        << C.What;
  }
}

TEST(DecompressionStream, SourceDeliveringOneByteAtATimeStillInflates) {
  const TBytes Data = kvtest::PatternBytes(5000, 12);
  const TBytes Z = kvtest::ZlibCompress(Data);
  TTrickleStream Src(Z.data(), int64_t(Z.size()));
  TDecompressionStream D(Src);
  EXPECT_EQ(ReadAllFrom(D, 777), Data);
  EXPECT_TRUE(D.StreamEnded()) << "header, data and check value all read";
}

TEST(Adler32, MatchesZlibForEveryLengthAndAlignment) {
  TBytes Data = kvtest::PatternBytes(40000, 13);
  TBytes Ones(20000, 0xFF);  // the largest sums, for the reduction bounds
  for (const TBytes* Bytes : {&Data, &Ones}) {
    for (size_t Offset = 0; Offset < 17; ++Offset) {
      for (size_t Length :
           {0, 1, 31, 32, 33, 63, 64, 65, 100, 5551, 5552, 5553, 5600, 11104, 11105, 19000}) {
        const uint8_t* P = Bytes->data() + Offset;
        ASSERT_EQ(Adler32Update(Adler32Initial, P, Length), uint32_t(adler32(1, P, uInt(Length))))
            << Offset << "+" << Length;
      }
    }
  }
  // Continuing across calls.
  uint32_t Running = Adler32Initial;
  for (size_t At = 0; At < 40000; At += 999)
    Running = Adler32Update(Running, Data.data() + At, std::min<size_t>(999, 40000 - At));
  EXPECT_EQ(Running, uint32_t(adler32(1, Data.data(), 40000)));
}
