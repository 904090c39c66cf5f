// The ZLB archive records: the 36-byte trailer at the end of the file and
// the 532-byte directory entry, decoded and encoded explicitly as
// little-endian bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kv {

// A length-prefixed byte string in a 256-byte field: byte 0 holds the length
// (0 to 255), the characters follow. Bytes beyond the length are kept as
// they were read, so that a record round-trips unchanged.
struct TShortString {
  static constexpr size_t MaxLength = 255;
  std::array<uint8_t, MaxLength + 1> Bytes{};

  uint8_t Length() const { return Bytes[0]; }
  // The characters, exactly Length() bytes.
  std::string ToString() const;
  std::string_view View() const;
  // The field holding Text, zero-padded. Raises Exception when Text is
  // longer than 255 bytes.
  static TShortString FromString(std::string_view Text);

  friend bool operator==(const TShortString&, const TShortString&) = default;
};
static_assert(sizeof(TShortString) == 256);

// Field offsets of the trailer, as stored.
namespace trailer_layout {
inline constexpr size_t ArchiveCRC = 0;
inline constexpr size_t FileCount = 4;
inline constexpr size_t Reserved1 = 8;
inline constexpr size_t DirectorySize = 12;
inline constexpr size_t DirectoryOffset = 16;
inline constexpr size_t DirectoryCompressed = 20;
inline constexpr size_t Padding = 21;
inline constexpr size_t Reserved2 = 24;
inline constexpr size_t Size = 36;
static_assert(Reserved2 + 3 * 4 == Size);
}  // namespace trailer_layout

struct TZLBArchiveTrailer {
  uint32_t ArchiveCRC = 0;           // CRC-32 of every byte before the trailer
  int32_t FileCount = 0;             // number of directory entries
  uint32_t Reserved1 = 0;            // 1 in the updater's payload; not read
  uint32_t DirectorySize = 0;        // bytes the directory block occupies; not read
  int32_t DirectoryOffset = 0;       // file offset of the directory block
  uint8_t DirectoryCompressed = 0;   // nonzero: the directory is one zlib stream
  std::array<uint8_t, 3> Padding{};  // zero
  std::array<uint32_t, 3> Reserved2{};

  static constexpr size_t Size = trailer_layout::Size;
  static TZLBArchiveTrailer Decode(std::span<const uint8_t, Size> Bytes);
  void Encode(std::span<uint8_t, Size> Bytes) const;

  friend bool operator==(const TZLBArchiveTrailer&, const TZLBArchiveTrailer&) = default;
};
static_assert(sizeof(TZLBArchiveTrailer) == TZLBArchiveTrailer::Size);

// The code page an archive's names are written in. Names are bytes in the
// target system's ANSI code page, which the format itself does not record;
// zlbtool records it in the trailer's reserved words, which every reader
// ignores, whenever a name or path is not ASCII: Reserved2[0] holds the tag
// below, Reserved2[1] the code page. An archive of ASCII names keeps zeros
// there, byte for byte as before.
inline constexpr uint32_t CodePageRecordTag = 0x50434B4Eu;  // "NKCP" as stored bytes
// The code page Trailer records, if it records one.
std::optional<uint32_t> RecordedCodePage(const TZLBArchiveTrailer& Trailer);
// Trailer recording CodePage.
void RecordCodePage(TZLBArchiveTrailer& Trailer, uint32_t CodePage);

// Field offsets of the directory entry, as stored.
namespace entry_layout {
inline constexpr size_t FileName = 0;
inline constexpr size_t FilePath = 256;
inline constexpr size_t OriginalSize = 512;
inline constexpr size_t CompressedSize = 516;
inline constexpr size_t DataOffset = 520;
inline constexpr size_t FileCRC = 524;
inline constexpr size_t Stored = 528;
inline constexpr size_t Level = 529;
inline constexpr size_t Padding = 530;
inline constexpr size_t Size = 532;
static_assert(Padding + 2 == Size);
}  // namespace entry_layout

struct TZLBFileEntry {
  TShortString FileName;  // the entry's name, without any directory part
  TShortString FilePath;  // its relative directory; empty when none was stored
  int32_t OriginalSize = 0;
  uint32_t CompressedSize = 0;  // length of the data block; not read
  int32_t DataOffset = 0;
  uint32_t FileCRC = 0;  // CRC-32 of the original data
  uint8_t Stored = 0;    // nonzero: the block is the original bytes, raw
  uint8_t Level = 0;     // 2 (fcDefault) in the updater's payload; not read
  std::array<uint8_t, 2> Padding{};

  static constexpr size_t Size = entry_layout::Size;
  static TZLBFileEntry Decode(std::span<const uint8_t, Size> Bytes);
  void Encode(std::span<uint8_t, Size> Bytes) const;

  friend bool operator==(const TZLBFileEntry&, const TZLBFileEntry&) = default;
};
static_assert(sizeof(TZLBFileEntry) == TZLBFileEntry::Size);

}  // namespace kv
