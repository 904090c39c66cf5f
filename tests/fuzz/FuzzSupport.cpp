// Helpers shared by the fuzz targets.
#include "FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TestSupport.h"

namespace kvfuzz {

void Fail(const std::string& What) {
  std::fprintf(stderr, "fuzz finding: %s\n", What.c_str());
  std::fflush(stderr);
  std::abort();
}

uint8_t TFuzzInput::Byte() {
  return Empty() ? 0 : FData[FPosition++];
}

uint16_t TFuzzInput::U16() {
  const uint8_t Low = Byte();
  return uint16_t(Low | Byte() << 8);
}

std::string_view TFuzzInput::Take(size_t Count) {
  const size_t N = Empty() ? 0 : std::min(Count, FSize - FPosition);
  const std::string_view Taken(reinterpret_cast<const char*>(FData) + FPosition, N);
  FPosition += N;
  return Taken;
}

bool TWorkBudget::Spend(int64_t Units) {
  if (Units > FRemaining) return false;
  FRemaining -= Units;
  return true;
}

int32_t TBoundedSink::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition >= GetSize()) return 0;
  const auto N = int32_t(std::min<int64_t>(Count, GetSize() - FPosition));
  std::memcpy(Buffer, FData.data() + FPosition, size_t(N));
  FPosition += N;
  return N;
}

int32_t TBoundedSink::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  const int64_t End = FPosition + Count;
  if (End > GetSize()) {
    if (End > FLimit || !FBudget.Spend(End - GetSize())) return 0;
    // Grown by hand: the vector's own doubling could overshoot the limit.
    if (size_t(End) > FData.capacity())
      FData.reserve(size_t(std::min<int64_t>(FLimit, std::max<int64_t>(End, 2 * GetSize()))));
    FData.resize(size_t(End));
  }
  std::memcpy(FData.data() + FPosition, Buffer, size_t(Count));
  FPosition = End;
  return Count;
}

int64_t TBoundedSink::Seek(int64_t Offset, kv::TSeekOrigin Origin) {
  const int64_t Base = Origin == kv::TSeekOrigin::soBeginning ? 0
                       : Origin == kv::TSeekOrigin::soCurrent ? FPosition
                                                              : GetSize();
  if (Base + Offset < 0) return -1;
  FPosition = Base + Offset;
  return FPosition;
}

TFuzzArchive DecodeArchive(TFuzzInput& Input) {
  TFuzzArchive Archive;
  Archive.Settings = Input.Byte();
  Archive.Options.Stored = (Archive.Settings & 1) != 0;
  Archive.Options.RawDirectory = (Archive.Settings & 2) != 0;
  size_t Total = 0;
  while (!Input.Empty() && Archive.Entries.size() < MaxFuzzEntries) {
    TFuzzEntry Entry;
    const uint8_t Flags = Input.Byte();
    Entry.Stored = (Flags & 1) != 0;
    if ((Flags & 2) != 0) {
      const std::string_view Gap = Input.Take(Input.Byte());
      Entry.GapBefore.assign(Gap.begin(), Gap.end());
    }
    Entry.Name = std::string(Input.Take(Input.Byte()));
    Entry.Path = std::string(Input.Take(Input.Byte()));
    const uint16_t Length = Input.U16();
    const size_t Repeat = size_t(Input.Byte()) + 1;
    const std::string_view Unit = Input.Take(Length);
    const size_t Size = std::min({Unit.size() * Repeat, MaxEntryBytes, MaxArchiveBytes - Total});
    Entry.Data.reserve(Size);
    while (Entry.Data.size() < Size)
      Entry.Data.insert(
          Entry.Data.end(), Unit.begin(),
          Unit.begin() + std::ptrdiff_t(std::min(Unit.size(), Size - Entry.Data.size())));
    if ((Flags & 4) != 0) {
      uint32_t State = 0x9E3779B9u ^ uint32_t(Size);
      for (uint8_t& B : Entry.Data) {
        State ^= State << 13;
        State ^= State >> 17;
        State ^= State << 5;
        B = uint8_t(B ^ State);
      }
    }
    Total += Size;
    Archive.Entries.push_back(std::move(Entry));
  }
  return Archive;
}

TBytes BuildArchive(const TFuzzArchive& Archive, std::vector<kv::TZLBFileEntry>* Written) {
  kv::TMemoryStream Out;
  kvtest::TGapWriter Writer(Out, Archive.Options);
  for (const TFuzzEntry& Entry : Archive.Entries) {
    Writer.AddGap(Entry.GapBefore);
    Writer.AddEntry(Entry.Name, Entry.Path, Entry.Data, Entry.Stored || Archive.Options.Stored);
  }
  Writer.Finish();
  if (Written) *Written = Writer.Entries();
  return Out.TakeBytes();
}

}  // namespace kvfuzz
