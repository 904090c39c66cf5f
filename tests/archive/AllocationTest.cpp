// The trailer's entry count alone never makes the reader allocate: an
// archive of 1 KB claiming 100,000,000 entries fails at once, with small
// allocations.
// This program replaces the global operator new to watch allocation sizes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <new>

#include "TestSupport.h"
#include "konvoro/zlb/ZLBReader.h"

namespace {
bool GWatching = false;
size_t GLargest = 0;
}  // namespace

void* operator new(size_t Size) {
  if (GWatching && Size > GLargest) GLargest = Size;
  if (void* P = std::malloc(Size ? Size : 1)) return P;
  throw std::bad_alloc();
}
// Not inlined: inlined, the free() would meet a pointer from operator new
// and optimising builds warn of mismatched allocation functions.
[[gnu::noinline]] void operator delete(void* P) noexcept {
  std::free(P);
}
[[gnu::noinline]] void operator delete(void* P, size_t) noexcept {
  std::free(P);
}

TEST(Allocation, HugeEntryCountInASmallFileAllocatesNothingLarge) {
  for (const bool Raw : {false, true}) {
    kvtest::TBytes Bytes =
        kvtest::BuildArchive({{"f", kvtest::PatternBytes(300, 1)}}, {.RawDirectory = Raw});
    kv::TZLBArchiveTrailer T = kvtest::TrailerOf(Bytes);
    T.FileCount = 100000000;
    kvtest::SetTrailer(Bytes, T);
    ASSERT_LT(Bytes.size(), 1100u);

    kv::TReadOnlyMemoryStream Source(Bytes.data(), int64_t(Bytes.size()));
    std::deque<kv::TZLBFileEntry> Entries;
    GLargest = 0;
    GWatching = true;
    const std::string Message =
        kvtest::MessageOf([&] { kv::ReadDirectory(Source, kv::ReadTrailer(Source), Entries); });
    GWatching = false;
    EXPECT_EQ(Message, "Unable to read archive file list");
    EXPECT_LT(GLargest, size_t(256 * 1024)) << (Raw ? "raw" : "compressed") << " directory";
  }
}
