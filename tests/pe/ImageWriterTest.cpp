// The image writer: images written with other resources read back as the
// reader sees them, the real stub written with its own resources is the
// linker's bytes, images it cannot rewrite are refused saying what and where;
// the version resource given another version.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ImageBuilder.h"
#include "ImageFacts.h"
#include "ImageWriter.h"
#include "PEImage.h"
#include "TestSupport.h"
#include "konvoro/zlb/CRC32.h"

using namespace kv;
using namespace kv::pe;
using kvtest::TBytes;

namespace {

uint32_t U32At(const TBytes& B, size_t At) {
  return uint32_t(B.at(At) | B.at(At + 1) << 8 | B.at(At + 2) << 16 | uint32_t(B.at(At + 3)) << 24);
}

TBytes Write(const TBytes& Image, std::vector<TResource> Resources) {
  TReadOnlyMemoryStream In(Image.data(), int64_t(Image.size()));
  const TPEImage Reader(In);
  TMemoryStream Out;
  TImageRewriter(Reader).Write(Resources, Out);
  return Out.TakeBytes();
}

std::vector<TResource> ResourcesOf(const TBytes& Image) {
  TReadOnlyMemoryStream In(Image.data(), int64_t(Image.size()));
  return ReadResources(TPEImage(In), 1 << 24);
}

// A resource as "type/name/language size CRC-32".
std::string Row(const std::string& Path, const TBytes& Bytes) {
  char Crc[16];
  std::snprintf(Crc, sizeof Crc, "%08X", kv::CRC32Update(0, Bytes));
  return Path + " " + std::to_string(Bytes.size()) + " " + Crc;
}

// Every resource, in the tree's order.
std::vector<std::string> Listing(const std::vector<TResource>& Resources) {
  std::vector<std::string> Out;
  for (const TResource& R : Resources)
    Out.push_back(Row(ResourcePath(R), R.Bytes));
  return Out;
}

TResource Rcdata(const std::string& Name, uint32_t Language, TBytes Bytes) {
  return {TResourceId::ById(10),
          TResourceId::ByName(std::u16string(Name.begin(), Name.end())),
          TResourceId::ById(Language),
          0,
          std::move(Bytes),
          nullptr};
}

kvtest::TImageRecipe Recipe(bool PE32Plus, bool Relocated, bool Signed) {
  kvtest::TImageRecipe R;
  R.PE32Plus = PE32Plus;
  R.Resources = {{24, "", 1, kvtest::ToBytes("<assembly/>")},
                 {10, "TFORM1", 1, kvtest::ToBytes("object Form1: TForm1\nend\n")},
                 {16, "", 1, kvtest::VersionResource("2.0.0.0", {{"FileVersion", "2.0.0.0"}})},
                 {10, "", 7, kvtest::PatternBytes(333, 1)}};
  if (Relocated) R.Relocations = kvtest::PatternBytes(0x30C, 2);
  if (Signed) R.Certificate = kvtest::PatternBytes(700, 3);
  return R;
}

}  // namespace

TEST(ImageWriter, WrittenImagesReadBackWithEveryResourceAndTheRelocationsMoved) {
  struct TCase {
    const char* Name;
    bool PE32Plus, Relocated, Signed;
  };
  const TCase Cases[] = {
      {.Name = "PE32, resources last", .PE32Plus = false, .Relocated = false, .Signed = false},
      {.Name = "PE32, relocations after them, signed",
       .PE32Plus = false,
       .Relocated = true,
       .Signed = true},
      {.Name = "PE32+, relocations after them",
       .PE32Plus = true,
       .Relocated = true,
       .Signed = false},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const kvtest::TImageRecipe R = Recipe(Case.PE32Plus, Case.Relocated, Case.Signed);
    const kvtest::TBuiltImage Stub = kvtest::BuildImage(R);
    std::vector<TResource> Resources = ResourcesOf(Stub.Bytes);
    // A payload larger than everything else, read from a stream as zlbtool
    // gives it, neutral in language.
    const TBytes Payload = kvtest::PatternBytes(100001, 4);
    TReadOnlyMemoryStream PayloadStream(Payload.data(), int64_t(Payload.size()));
    Resources.push_back(Rcdata("ZLBDATA", NeutralLanguage, {}));
    Resources.back().Stream = &PayloadStream;
    const TBytes Written = Write(Stub.Bytes, Resources);

    // Sorted as Windows looks them up: names before numbers.
    const std::vector<std::string> Expected = {
        Row("10/TFORM1/1033", R.Resources[1].Data), Row("10/ZLBDATA/0", Payload),
        Row("10/7/1033", R.Resources[3].Data), Row("16/1/1033", R.Resources[2].Data),
        Row("24/1/1033", R.Resources[0].Data)};
    EXPECT_EQ(Listing(ResourcesOf(Written)), Expected);

    TReadOnlyMemoryStream In(Written.data(), int64_t(Written.size()));
    const TPEImage Image(In);
    EXPECT_FALSE(Image.CertificateTable().has_value());
    const TSection& Last = Image.Sections().back();
    EXPECT_EQ(int64_t(Last.PointerToRawData) + Last.SizeOfRawData, int64_t(Written.size()))
        << "nothing after the last section";
    EXPECT_EQ(U32At(Written, Stub.Optional + 56),
              (Last.VirtualAddress + Last.VirtualSize + 0xFFFu) & ~0xFFFu)
        << "SizeOfImage";
    if (Case.Relocated) {
      ASSERT_EQ(Image.Sections().size(), 2u);
      const TSection& Tree = Image.Sections()[0];
      EXPECT_EQ(Last.VirtualAddress, (Tree.VirtualAddress + Tree.VirtualSize + 0xFFFu) & ~0xFFFu);
      EXPECT_EQ(Last.PointerToRawData, Tree.PointerToRawData + Tree.SizeOfRawData);
      const TDataDirectory Relocations = Image.Directory(BaseRelocationDirectory);
      EXPECT_EQ(Relocations.Address, Last.VirtualAddress);
      const int64_t At =
          Image.RvaToFileOffset(Relocations.Address, Relocations.Size, "the relocations");
      EXPECT_EQ(Image.ReadRange({At, Relocations.Size}, 1 << 20, "the relocations"), R.Relocations);
    }
    // What the writer writes, it writes again unchanged.
    EXPECT_EQ(Write(Written, ResourcesOf(Written)), Written);
  }
}

#ifdef KV_TEST_STUB
// The stub as the linker wrote it: a writer that lays out the tree, the
// sections, SizeOfImage, SizeOfInitializedData and the checksum as the
// resource compiler and the linker do gives back the same bytes.
TEST(ImageWriter, TheStubWrittenWithItsOwnResourcesIsTheLinkersBytes) {
  const TBytes Stub = kvtest::ReadAll(kvtest::ProgramDirectory() + KV_TEST_STUB);
  ASSERT_GT(Stub.size(), 4096u) << KV_TEST_STUB;
  EXPECT_EQ(Write(Stub, ResourcesOf(Stub)), Stub);
}
#endif

TEST(ImageWriter, ImagesItCannotRewriteAreRefusedSayingWhatAndWhere) {
  using kvtest::PutU16;
  using kvtest::PutU32;
  const kvtest::TBuiltImage Good = kvtest::BuildImage(Recipe(false, true, true));
  const size_t Reloc = Good.SectionTable + 40;
  const size_t Size = Good.Bytes.size();
  const size_t DataEnd = Good.Relocations + 0x400;  // the relocations' data, file-aligned
  // A section ".text" put first in the table, before the resources (file
  // data 0x200, RVA 0x1000), with its span in memory and its data in the
  // file.
  const auto WithSectionBefore = [&](uint32_t Rva, uint32_t VirtualSize, uint32_t Pointer,
                                     uint32_t RawSize) {
    return [=, &Good](TBytes& B) {
      const auto Table = B.begin() + ptrdiff_t(Good.SectionTable);
      std::copy_backward(Table, Table + 80, Table + 120);
      std::fill(Table, Table + 40, 0);
      std::copy_n(".text", 5, Table);
      PutU32(B, Good.SectionTable + 8, VirtualSize);
      PutU32(B, Good.SectionTable + 12, Rva);
      PutU32(B, Good.SectionTable + 16, RawSize);
      PutU32(B, Good.SectionTable + 20, Pointer);
      PutU16(B, Good.Coff + 2, 3);
    };
  };
  // Resources whose data are one, 6 MiB, which three leaves share.
  const auto WithSharedData = [](TBytes& B) {
    kvtest::TImageRecipe R = Recipe(false, true, true);
    R.Resources = {{10, "", 1, TBytes(6 << 20, 0x5A)}, {10, "", 2, {1}}, {10, "", 3, {2}}};
    const kvtest::TBuiltImage Image = kvtest::BuildImage(R);
    B = Image.Bytes;
    for (const size_t Entry : {Image.DataEntry[1], Image.DataEntry[2]}) {
      PutU32(B, Entry, U32At(B, Image.DataEntry[0]));
      PutU32(B, Entry + 4, U32At(B, Image.DataEntry[0] + 4));
    }
  };
  // Twenty names of 30,000 characters: read and handed out with each leaf,
  // more than the names a listing may hold.
  const auto WithLongNames = [](TBytes& B) {
    kvtest::TImageRecipe R = Recipe(false, true, true);
    R.Resources.clear();
    for (char C = 'A'; C < 'A' + 20; ++C)
      R.Resources.push_back({10, std::string(30000, 'N') + C, 1, {1}});
    B = kvtest::BuildImage(R).Bytes;
  };
  struct TCase {
    const char* Name;
    std::function<void(TBytes&)> Damage;
    std::string Message;
    std::function<void(std::vector<TResource>&)> Change = nullptr;
  };
  const TCase Cases[] = {
      {.Name = "file alignment below 512",
       .Damage = [&](TBytes& B) { PutU32(B, Good.Optional + 36, 0x100); },
       .Message = "file alignment 0x100 and section alignment 0x1000 are not powers of two from "
                  "512 up, the section alignment at least the file alignment"},
      {.Name = "section alignment below the file alignment",
       .Damage = [&](TBytes& B) { PutU32(B, Good.Optional + 32, 0x100); },
       .Message = "file alignment 0x200 and section alignment 0x100 are not powers of two from "
                  "512 up, the section alignment at least the file alignment"},
      {.Name = "no resource directory",
       .Damage = [&](TBytes& B) { PutU32(B, Good.Directories + 16, 0); },
       .Message = "the image has no resource section to rebuild"},
      {.Name = "resource directory inside its section",
       .Damage = [&](TBytes& B) { PutU32(B, Good.Directories + 16, 0x1010); },
       .Message = "the resource directory (RVA 0x1010) does not start a section"},
      {.Name = "resource section unaligned in the file",
       .Damage = [&](TBytes& B) { PutU32(B, Good.SectionTable + 20, 0x210); },
       .Message = "the resource section, section 1 (.rsrc), has no file-aligned data in the file"},
      {.Name = "headers reaching into the resource section",
       .Damage = [&](TBytes& B) { PutU32(B, Good.SectionTable + 20, 0); },
       .Message = "the headers, which end at 0x188, reach into the resource section's data at 0x0"},
      {.Name = "a section after the resources that is not the relocations",
       .Damage = [&](TBytes& B) { PutU32(B, Good.Directories + 40, 0); },
       .Message = "section 2 (.reloc) follows the resource section and is not the base "
                  "relocations, which alone can move"},
      {.Name = "relocations apart from the resources in the file",
       .Damage =
           [&](TBytes& B) {
             PutU32(B, Reloc + 20, U32At(B, Reloc + 20) + 0x200);
             B.insert(B.begin() + ptrdiff_t(Good.Relocations), 0x200, 0);
             PutU32(B, Good.Directories + 32, U32At(B, Good.Directories + 32) + 0x200);
           },
       .Message = "section 2 (.reloc), the base relocations, does not follow the resource section "
                  "directly in the file"},
      {.Name = "the import directory in the resource section",
       .Damage =
           [&](TBytes& B) {
             PutU32(B, Good.Directories + 8, 0x1100);
             PutU32(B, Good.Directories + 12, 0x20);
           },
       .Message = "data directory 1 (RVA 0x1100, 32 bytes) reaches into the resource section or "
                  "past it"},
      {.Name = "bytes after the certificate table",
       .Damage = [](TBytes& B) { B.resize(B.size() + 16, 0xAA); },
       .Message = std::to_string(Size + 16 - DataEnd) +
                  " bytes follow the last section's data, and they are not a certificate table"},
      {.Name = "bytes after the last section, no certificate table",
       .Damage =
           [&](TBytes& B) {
             PutU32(B, Good.Directories + 32, 0);
             PutU32(B, Good.Directories + 36, 0);
           },
       .Message = std::to_string(Size - DataEnd) +
                  " bytes follow the last section's data, and they are not a certificate table"},
      {.Name = "a section before the resources that reaches one byte into them in memory",
       .Damage = WithSectionBefore(0xFFF, 2, 0x1E0, 0x20),
       .Message = "section 1 (.text) comes before the resource section in the section table but "
                  "lies in or after it"},
      {.Name = "a section before the resources that reaches one byte into them in the file",
       .Damage = WithSectionBefore(0x800, 0x10, 0x1E0, 0x21),
       .Message = "section 1 (.text) comes before the resource section in the section table but "
                  "lies in or after it"},
      {.Name = "a section before the resources that ends where they start",
       .Damage = WithSectionBefore(0xFFE, 2, 0x1E0, 0x20),
       .Message = "(no exception)"},
      {.Name = "three leaves that share 6 MiB of data",
       .Damage = WithSharedData,
       .Message = "the resources' data add up to " + std::to_string(3 * (6 << 20)) +
                  " bytes, more than 16777216 bytes"},
      {.Name = "names longer than a listing holds",
       .Damage = WithLongNames,
       .Message = "the resource names add up to more than 1048576 characters"},
      {.Name = "a resource directory reached twice",
       .Damage =
           [&](TBytes& B) { PutU32(B, Good.NameEntry[2] + 4, U32At(B, Good.NameEntry[0] + 4)); },
       .Message = "the resource directory at " +
                  kv::pe::Hex(U32At(Good.Bytes, Good.NameEntry[0] + 4) & 0x7FFFFFFF) +
                  " is reached twice"},
      {.Name = "one resource given twice",
       .Damage = [](TBytes&) {},
       .Message = "the resource 10/TFORM1/1033 is given twice",
       .Change = [](std::vector<TResource>& R) { R.push_back(Rcdata("TFORM1", 0x409, {})); }},
      {.Name = "a number the tree would take for a name's offset",
       .Damage = [](TBytes&) {},
       .Message = "the resource 10/TFORM1/2147483649 has a number above 0x7FFFFFFF, which the tree "
                  "cannot hold",
       .Change = [](std::vector<TResource>& R) { R.push_back(Rcdata("TFORM1", 0x80000001, {})); }},
      {.Name = "more numbered entries than a directory counts",
       .Damage = [](TBytes&) {},
       .Message =
           "the resource directory '10' would hold more than 65535 named or numbered entries",
       .Change =
           [](std::vector<TResource>& R) {
             for (uint32_t Id = 100; Id < 100 + 0xFFFF; ++Id)
               R.push_back({TResourceId::ById(10),
                            TResourceId::ById(Id),
                            TResourceId::ById(0),
                            0,
                            {},
                            nullptr});
           }},
  };
  // As zlbtool goes about it: the layout checked, the resources read, the
  // image written.
  auto Rewrite = [](const TBytes& Bytes,
                    const std::function<void(std::vector<TResource>&)>& Change) {
    TReadOnlyMemoryStream In(Bytes.data(), int64_t(Bytes.size()));
    const TPEImage Image(In);
    const TImageRewriter Rewriter(Image);
    std::vector<TResource> Resources = ReadResources(Image, 1 << 24);
    if (Change) Change(Resources);
    TMemoryStream Out;
    Rewriter.Write(Resources, Out);
  };
  ASSERT_EQ(kvtest::MessageOf([&] { Rewrite(Good.Bytes, nullptr); }), "(no exception)");
  for (const TCase& Case : Cases) {
    TBytes Bytes = Good.Bytes;
    Case.Damage(Bytes);
    EXPECT_EQ(kvtest::MessageOf([&] { Rewrite(Bytes, Case.Change); }), Case.Message) << Case.Name;
  }
}

TEST(VersionResource, GivenAVersionItChangesTheFixedPartAndTheVersionStringsAlone) {
  const std::vector<std::pair<std::string, std::string>> Strings = {{"CompanyName", "Konvoro"},
                                                                    {"FileVersion", "2.0.0.0"},
                                                                    {"KVUpdaterStub", "1"},
                                                                    {"ProductVersion", "2.0.0.0"}};
  const TBytes Old = kvtest::VersionResource("2.0.0.0", Strings);
  const TVersionNumber Version{3, 1, 4, 65535};
  const TVersionInfo New = DecodeVersionInfo(WithVersion(Old, Version));
  EXPECT_EQ(New.FixedFileVersion, Version);
  EXPECT_EQ(New.FixedProductVersion, Version);
  const std::vector<std::pair<std::string, std::string>> Expected = {
      {"CompanyName", "Konvoro"},
      {"FileVersion", "3.1.4.65535"},
      {"KVUpdaterStub", "1"},
      {"ProductVersion", "3.1.4.65535"}};
  EXPECT_EQ(New.Strings, Expected);
  // As a resource compiler writes it for that version.
  EXPECT_EQ(WithVersion(Old, Version), kvtest::VersionResource("3.1.4.65535", Expected));

  TBytes NoFixed = Old;
  NoFixed[40] ^= 0xFF;  // the fixed part's signature
  EXPECT_EQ(kvtest::MessageOf([&] { WithVersion(NoFixed, Version); }),
            "the version resource is malformed: it has no fixed file information");
}

TEST(VersionResource, VersionsAreFourNumbersUpTo65535WithoutLeadingZeros) {
  struct TCase {
    const char* Text;
    std::optional<TVersionNumber> Version;
  };
  const TCase Cases[] = {
      {"3.1.4.1", TVersionNumber{3, 1, 4, 1}},
      {"0.0.0.0", TVersionNumber{0, 0, 0, 0}},
      {"65535.65535.65535.65535", TVersionNumber{65535, 65535, 65535, 65535}},
      {"3.1.4", std::nullopt},
      {"3.1.4.1.5", std::nullopt},
      {"3.1.4.65536", std::nullopt},
      {"3.1.4.9999999999", std::nullopt},
      {"3.01.4.1", std::nullopt},
      {"3..4.1", std::nullopt},
      {"+3.1.4.1", std::nullopt},
      {"3.1.4.1 ", std::nullopt},
      {"a.b.c.d", std::nullopt},
      {"", std::nullopt},
  };
  for (const TCase& Case : Cases)
    EXPECT_EQ(ParseVersion(Case.Text), Case.Version) << '"' << Case.Text << '"';
}
