// The ZLB archive records, decoded and encoded as little-endian bytes.
#include "konvoro/zlb/ZLBFormat.h"

#include <algorithm>
#include <cstring>

#include "konvoro/Binary.h"
#include "konvoro/Exceptions.h"
#include "konvoro/zlb/ArchiveMessages.h"

namespace kv {

namespace {

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
  T.ArchiveCRC = GetU32LE(P + L::ArchiveCRC);
  T.FileCount = GetI32LE(P + L::FileCount);
  T.Reserved1 = GetU32LE(P + L::Reserved1);
  T.DirectorySize = GetU32LE(P + L::DirectorySize);
  T.DirectoryOffset = GetI32LE(P + L::DirectoryOffset);
  T.DirectoryCompressed = P[L::DirectoryCompressed];
  std::copy_n(P + L::Padding, T.Padding.size(), T.Padding.begin());
  for (size_t I = 0; I < T.Reserved2.size(); ++I)
    T.Reserved2[I] = GetU32LE(P + L::Reserved2 + 4 * I);
  return T;
}

void TZLBArchiveTrailer::Encode(std::span<uint8_t, Size> Bytes) const {
  namespace L = trailer_layout;
  uint8_t* P = Bytes.data();
  PutU32LE(P + L::ArchiveCRC, ArchiveCRC);
  PutI32LE(P + L::FileCount, FileCount);
  PutU32LE(P + L::Reserved1, Reserved1);
  PutU32LE(P + L::DirectorySize, DirectorySize);
  PutI32LE(P + L::DirectoryOffset, DirectoryOffset);
  P[L::DirectoryCompressed] = DirectoryCompressed;
  std::copy(Padding.begin(), Padding.end(), P + L::Padding);
  for (size_t I = 0; I < Reserved2.size(); ++I)
    PutU32LE(P + L::Reserved2 + 4 * I, Reserved2[I]);
}

std::optional<uint32_t> RecordedCodePage(const TZLBArchiveTrailer& Trailer) {
  if (Trailer.Reserved2[0] != CodePageRecordTag) return std::nullopt;
  return Trailer.Reserved2[1];
}

void RecordCodePage(TZLBArchiveTrailer& Trailer, uint32_t CodePage) {
  Trailer.Reserved2[0] = CodePageRecordTag;
  Trailer.Reserved2[1] = CodePage;
}

TZLBFileEntry TZLBFileEntry::Decode(std::span<const uint8_t, Size> Bytes) {
  namespace L = entry_layout;
  const uint8_t* P = Bytes.data();
  TZLBFileEntry E;
  E.FileName = GetShortString(P + L::FileName);
  E.FilePath = GetShortString(P + L::FilePath);
  E.OriginalSize = GetI32LE(P + L::OriginalSize);
  E.CompressedSize = GetU32LE(P + L::CompressedSize);
  E.DataOffset = GetI32LE(P + L::DataOffset);
  E.FileCRC = GetU32LE(P + L::FileCRC);
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
  PutI32LE(P + L::OriginalSize, OriginalSize);
  PutU32LE(P + L::CompressedSize, CompressedSize);
  PutI32LE(P + L::DataOffset, DataOffset);
  PutU32LE(P + L::FileCRC, FileCRC);
  P[L::Stored] = Stored;
  P[L::Level] = Level;
  std::copy(Padding.begin(), Padding.end(), P + L::Padding);
}

}  // namespace kv
