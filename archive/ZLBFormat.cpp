// The ZLB archive records, decoded and encoded as little-endian bytes.
#include "ZLBFormat.h"

#include <algorithm>
#include <cstring>

#include "ArchiveMessages.h"
#include "Exceptions.h"

namespace kv {

namespace {

uint32_t GetU32(const uint8_t* P) {
  return uint32_t(P[0]) | uint32_t(P[1]) << 8 | uint32_t(P[2]) << 16 | uint32_t(P[3]) << 24;
}
int32_t GetI32(const uint8_t* P) {
  return static_cast<int32_t>(GetU32(P));
}

void PutU32(uint8_t* P, uint32_t V) {
  P[0] = uint8_t(V);
  P[1] = uint8_t(V >> 8);
  P[2] = uint8_t(V >> 16);
  P[3] = uint8_t(V >> 24);
}
void PutI32(uint8_t* P, int32_t V) {
  PutU32(P, static_cast<uint32_t>(V));
}

TShortString GetShortString(const uint8_t* P) {
  TShortString S;
  std::memcpy(S.Bytes.data(), P, S.Bytes.size());
  return S;
}

}  // namespace

std::string TShortString::ToString() const {
  return std::string(View());
}

std::string_view TShortString::View() const {
  return std::string_view(reinterpret_cast<const char*>(Bytes.data() + 1), Length());
}

TShortString TShortString::FromString(std::string_view Text) {
  if (Text.size() > MaxLength) throw Exception(messages::SNameTooLong);
  TShortString S;
  S.Bytes[0] = static_cast<uint8_t>(Text.size());
  std::copy(Text.begin(), Text.end(), S.Bytes.begin() + 1);
  return S;
}

TZLBArchiveTrailer TZLBArchiveTrailer::Decode(std::span<const uint8_t, Size> Bytes) {
  namespace L = trailer_layout;
  const uint8_t* P = Bytes.data();
  TZLBArchiveTrailer T;
  T.ArchiveCRC = GetU32(P + L::ArchiveCRC);
  T.FileCount = GetI32(P + L::FileCount);
  T.Reserved1 = GetU32(P + L::Reserved1);
  T.DirectorySize = GetU32(P + L::DirectorySize);
  T.DirectoryOffset = GetI32(P + L::DirectoryOffset);
  T.DirectoryCompressed = P[L::DirectoryCompressed];
  std::copy_n(P + L::Padding, T.Padding.size(), T.Padding.begin());
  for (size_t I = 0; I < T.Reserved2.size(); ++I)
    T.Reserved2[I] = GetU32(P + L::Reserved2 + 4 * I);
  return T;
}

void TZLBArchiveTrailer::Encode(std::span<uint8_t, Size> Bytes) const {
  namespace L = trailer_layout;
  uint8_t* P = Bytes.data();
  PutU32(P + L::ArchiveCRC, ArchiveCRC);
  PutI32(P + L::FileCount, FileCount);
  PutU32(P + L::Reserved1, Reserved1);
  PutU32(P + L::DirectorySize, DirectorySize);
  PutI32(P + L::DirectoryOffset, DirectoryOffset);
  P[L::DirectoryCompressed] = DirectoryCompressed;
  std::copy(Padding.begin(), Padding.end(), P + L::Padding);
  for (size_t I = 0; I < Reserved2.size(); ++I)
    PutU32(P + L::Reserved2 + 4 * I, Reserved2[I]);
}

TZLBFileEntry TZLBFileEntry::Decode(std::span<const uint8_t, Size> Bytes) {
  namespace L = entry_layout;
  const uint8_t* P = Bytes.data();
  TZLBFileEntry E;
  E.FileName = GetShortString(P + L::FileName);
  E.FilePath = GetShortString(P + L::FilePath);
  E.OriginalSize = GetI32(P + L::OriginalSize);
  E.CompressedSize = GetU32(P + L::CompressedSize);
  E.DataOffset = GetI32(P + L::DataOffset);
  E.FileCRC = GetU32(P + L::FileCRC);
  E.Stored = P[L::Stored];
  E.Level = P[L::Level];
  std::copy_n(P + L::Padding, E.Padding.size(), E.Padding.begin());
  return E;
}

void TZLBFileEntry::Encode(std::span<uint8_t, Size> Bytes) const {
  namespace L = entry_layout;
  uint8_t* P = Bytes.data();
  std::copy(FileName.Bytes.begin(), FileName.Bytes.end(), P + L::FileName);
  std::copy(FilePath.Bytes.begin(), FilePath.Bytes.end(), P + L::FilePath);
  PutI32(P + L::OriginalSize, OriginalSize);
  PutU32(P + L::CompressedSize, CompressedSize);
  PutI32(P + L::DataOffset, DataOffset);
  PutU32(P + L::FileCRC, FileCRC);
  P[L::Stored] = Stored;
  P[L::Level] = Level;
  std::copy(Padding.begin(), Padding.end(), P + L::Padding);
}

}  // namespace kv
