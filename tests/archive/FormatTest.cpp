// The ZLB records: field positions, little-endian encoding, round trips,
// and the CRC-32 table and function.
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>

#include "TestSupport.h"
#include "konvoro/zlb/CRC32.h"
#include "konvoro/zlb/ZLBFormat.h"

using namespace kv;

TEST(Records, TrailerFieldsSitAtTheirOffsetsLittleEndian) {
  TZLBArchiveTrailer T;
  T.ArchiveCRC = 0x04030201;
  T.FileCount = -2;
  T.Reserved1 = 1;
  T.DirectorySize = 0x0A0B0C0D;
  T.DirectoryOffset = 0x11223344;
  T.DirectoryCompressed = 0x7F;
  T.Reserved2 = {5, 6, 7};
  std::array<uint8_t, 36> Raw{};
  T.Encode(Raw);
  EXPECT_EQ(Raw[0], 0x01);
  EXPECT_EQ(Raw[3], 0x04);
  EXPECT_EQ(Raw[4], 0xFE);
  EXPECT_EQ(Raw[7], 0xFF);
  EXPECT_EQ(Raw[8], 1);
  EXPECT_EQ(Raw[12], 0x0D);
  EXPECT_EQ(Raw[16], 0x44);
  EXPECT_EQ(Raw[19], 0x11);
  EXPECT_EQ(Raw[20], 0x7F);
  EXPECT_EQ(Raw[21] | Raw[22] | Raw[23], 0);
  EXPECT_EQ(Raw[24], 5);
  EXPECT_EQ(Raw[28], 6);
  EXPECT_EQ(Raw[32], 7);
  EXPECT_EQ(TZLBArchiveTrailer::Decode(Raw), T);
}

TEST(Records, EntryFieldsSitAtTheirOffsetsAndRoundTripAll532Bytes) {
  std::array<uint8_t, 532> Raw;
  for (size_t I = 0; I < Raw.size(); ++I)
    Raw[I] = uint8_t(I * 7 + 3);
  Raw[0] = 3;  // FileName length; the bytes after it are kept as they are
  const TZLBFileEntry E = TZLBFileEntry::Decode(Raw);
  EXPECT_EQ(E.FileName.Length(), 3);
  EXPECT_EQ(E.FileName.ToString(), std::string({char(Raw[1]), char(Raw[2]), char(Raw[3])}));
  EXPECT_EQ(E.FilePath.Length(), Raw[256]);
  EXPECT_EQ(uint32_t(E.OriginalSize),
            uint32_t(Raw[512] | Raw[513] << 8 | Raw[514] << 16 | Raw[515] << 24));
  EXPECT_EQ(E.CompressedSize & 0xFF, Raw[516]);
  EXPECT_EQ(uint32_t(E.DataOffset) & 0xFF, Raw[520]);
  EXPECT_EQ(E.FileCRC >> 24, Raw[527]);
  EXPECT_EQ(E.Stored, Raw[528]);
  EXPECT_EQ(E.Level, Raw[529]);
  std::array<uint8_t, 532> Back{};
  E.Encode(Back);
  EXPECT_EQ(Back, Raw);
}

TEST(Records, ShortStringsHoldUpTo255Bytes) {
  const std::string Long(255, 'x');
  const TShortString S = TShortString::FromString(Long);
  EXPECT_EQ(S.Length(), 255);
  EXPECT_EQ(S.ToString(), Long);
  EXPECT_EQ(TShortString::FromString("").ToString(), "");
  EXPECT_EQ(TShortString::FromString(std::string("a\0b", 3)).ToString(), std::string("a\0b", 3));
  EXPECT_THROW(TShortString::FromString(std::string(256, 'x')), Exception);
}

TEST(CRC32, TableIsTheStandardOneAndMatchesZlib) {
  TCRCTable Table;
  FillCRCTable(Table);
  EXPECT_EQ(Table[0], 0u);
  EXPECT_EQ(Table[1], 0x77073096u);
  EXPECT_EQ(Table[255], 0x2D02EF8Du);
  const kvtest::TBytes Data = kvtest::PatternBytes(100100, 9);
  // Every alignment, and every length around the 8-byte slices and the 16-
  // and 64-byte folds.
  std::vector<size_t> Lengths;
  for (size_t L = 0; L <= 300; ++L)
    Lengths.push_back(L);
  for (size_t L : {1023, 1024, 1025, 10240, 99991})
    Lengths.push_back(L);
  for (size_t Offset = 0; Offset < 17; ++Offset) {
    for (size_t Length : Lengths) {
      const uint32_t Ours = CRC32Update(0, {Data.data() + Offset, Length});
      ASSERT_EQ(Ours, uint32_t(crc32(0, Data.data() + Offset, uInt(Length))))
          << Offset << "+" << Length;
    }
  }
  // Continuing a CRC across calls gives the CRC of the whole.
  uint32_t CRC = 0;
  for (size_t At = 0; At < 5000; At += 333)
    CRC = CRC32Update(CRC, {Data.data() + At, std::min<size_t>(333, 5000 - At)});
  EXPECT_EQ(CRC, uint32_t(crc32(0, Data.data(), 5000)));
  const std::string Check = "123456789";
  EXPECT_EQ(CRC32Update(0, {reinterpret_cast<const uint8_t*>(Check.data()), Check.size()}),
            0xCBF43926u);
}
