// The layout of the character tables that MakeCharTables.pl generates into
// the build tree from Debian's Perl (Encode and Unicode::UCD), for
// CodePage.cpp and Unicode.cpp alone.
//
// A table maps a 16-bit key to a 16-bit value in two steps: the key's high
// byte picks a row, and the row holds the values of the low bytes from
// First to Last, stored at Start in a pool. 0 stands for no value, which
// nothing in these tables ever maps to.
#pragma once

#include <cstdint>
#include <span>

namespace kv::chartables {

struct TRow {
  uint8_t First;
  uint8_t Last;  // below First: the row is empty
  uint16_t Start;
};

struct TTwoLevelTable {
  const uint8_t* RowOfHighByte;  // 256 entries, indexes into Rows; row 0 is empty
  std::span<const TRow> Rows;
  std::span<const uint16_t> Pool;

  uint16_t operator[](uint16_t Key) const {
    const TRow& Row = Rows[RowOfHighByte[Key >> 8]];
    const uint8_t Low = uint8_t(Key & 0xFF);
    return (Low >= Row.First && Low <= Row.Last) ? Pool[Row.Start + (Low - Row.First)] : 0;
  }
};

// One Windows code page. Bytes 0x00 to 0x7F are ASCII in each (the
// generator makes sure), so the tables start at 0x80, for bytes as for
// characters. UTF-8 (65001) has none: every table is empty there.
struct TCodePageTables {
  uint32_t Number;
  bool IsAnsi;
  std::span<const uint32_t> OemPartners;
  // Bit (Byte - 0x80) of LeadBytes[0] and [1]: Byte starts a double-byte
  // character.
  uint64_t LeadBytes[2];
  // The character that each byte from 0x80 on stands for alone, as
  // MultiByteToWideChar with MB_ERR_INVALID_CHARS takes it (128 entries).
  const uint16_t* SingleBytes;
  // By lead byte and trail byte: the character of a double-byte sequence,
  // as MultiByteToWideChar with MB_ERR_INVALID_CHARS takes it.
  TTwoLevelTable DoubleBytes;
  // By character from U+0080 on: the bytes WideCharToMultiByte gives for it
  // with WC_NO_BEST_FIT_CHARS without using the default character, one byte
  // below 0x100, else the lead byte in the high byte and the trail byte in
  // the low byte.
  TTwoLevelTable Encoding;
};

// Every code page known, ascending by number.
extern const std::span<const TCodePageTables> KnownCodePages;
// The ANSI code pages among them, ascending.
extern const std::span<const uint32_t> AnsiCodePageNumbers;

// By character of the Basic Multilingual Plane: the character that Windows
// takes it for when it compares names without regard to case.
extern const TTwoLevelTable UpcaseForNames;

}  // namespace kv::chartables
