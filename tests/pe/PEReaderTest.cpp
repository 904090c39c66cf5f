// The PE reader on hostile images, through the payload locator, the
// manifest scan and the signer's subject behind zlbtool info.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Authenticode.h"
#include "ImageBuilder.h"
#include "ImageFacts.h"
#include "PEImage.h"
#include "TestSupport.h"
#include "UpdaterPayload.h"
#include "konvoro/Binary.h"

using namespace kv;
using namespace kv::pe;
using kvtest::TBytes;

namespace {

// A resource tree made by hand, in shapes no resource compiler makes.
struct TTree {
  explicit TTree(size_t Size) : Bytes(Size, 0) {}

  void Directory(size_t At, uint16_t Named, uint16_t Numbered) {
    kvtest::PutU16(Bytes, At + 12, Named);
    kvtest::PutU16(Bytes, At + 14, Numbered);
  }
  // Entry Index of the directory at At.
  void Entry(size_t At, size_t Index, uint32_t Name, uint32_t Offset) {
    kvtest::PutU32(Bytes, At + 16 + 8 * Index, Name);
    kvtest::PutU32(Bytes, At + 20 + 8 * Index, Offset);
  }
  // A data entry for Size bytes at Data in the tree.
  void DataEntry(size_t At, size_t Data, size_t Size) {
    kvtest::PutU32(Bytes, At, kvtest::ResourceSectionRva + uint32_t(Data));
    kvtest::PutU32(Bytes, At + 4, uint32_t(Size));
  }
  void Name(size_t At, std::u16string_view Name) {
    kvtest::PutU16(Bytes, At, uint16_t(Name.size()));
    for (size_t I = 0; I < Name.size(); ++I)
      kvtest::PutU16(Bytes, At + 2 + 2 * I, Name[I]);
  }

  TBytes Bytes;
};

constexpr uint32_t Sub = 0x80000000u;  // an entry's high bit

}  // namespace

TEST(RequestedExecutionLevel, IsFoundWhateverTheQuotesOrderPrefixOrComments) {
  struct TCase {
    const char* Name;
    std::string Xml;
    std::optional<std::string> Level;
  };
  const TCase Cases[] = {
      {.Name = "double quotes",
       .Xml = R"(<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>)",
       .Level = "requireAdministrator"},
      {.Name = "single quotes, level last, blanks around =",
       .Xml = "<requestedExecutionLevel uiAccess='false'\n   level = 'asInvoker' />",
       .Level = "asInvoker"},
      {.Name = "namespace prefix, closing tag",
       .Xml =
           R"(<ms:requestedExecutionLevel ms:level="highestAvailable"></ms:requestedExecutionLevel>)",
       .Level = "highestAvailable"},
      {.Name = "a quoted > before level",
       .Xml = R"(<requestedExecutionLevel note="a>b" level="asInvoker"/>)",
       .Level = "asInvoker"},
      {.Name = "commented out before the real one",
       .Xml = "<!-- <requestedExecutionLevel level=\"asInvoker\"/> -->"
              "<requestedExecutionLevel level=\"requireAdministrator\"/>",
       .Level = "requireAdministrator"},
      {.Name = "a level attribute of another element",
       .Xml = R"(<other level="asInvoker"/><requestedExecutionLevelX level="x"/>)",
       .Level = std::nullopt},
      {.Name = "inside CDATA only",
       .Xml = R"(<![CDATA[<requestedExecutionLevel level="asInvoker"/>]]>)",
       .Level = std::nullopt},
      {.Name = "unterminated value",
       .Xml = R"(<requestedExecutionLevel level="asInvoker)",
       .Level = std::nullopt},
      {.Name = "unterminated comment",
       .Xml = "<!-- <requestedExecutionLevel",
       .Level = std::nullopt},
  };
  for (const TCase& Case : Cases)
    EXPECT_EQ(pe::RequestedExecutionLevel(Case.Xml), Case.Level) << Case.Name;
}

// Damaged images, each in one place, as hostile files could be: the reader
// fails with what is wrong and where, at once, having read nothing out of
// place. Each is read as zlbtool reads a file it is given: the payload
// located, and, for info, the image's facts.
TEST(HostileImages, FailWithWhatIsWrongAndWhere) {
  using kvtest::PutU16;
  using kvtest::PutU32;
  const TBytes Payload = kvtest::BuildArchive({{"a", kvtest::ToBytes("a")}});
  const kvtest::TBuiltImage Good = kvtest::BuildImage(kvtest::UpdaterRecipe(Payload));
  const size_t Size = Good.Bytes.size();
  const size_t Z = 3;                           // the payload's resource; 0 is the version resource
  const size_t RootType = Good.Resources + 16;  // RCDATA's entry in the root
  auto Rel = [&](size_t FileOffset) { return uint32_t(FileOffset - Good.Resources); };
  auto U32At = [&](size_t At) { return kv::GetU32LE(&Good.Bytes[At]); };
  auto Hex = [](uint64_t Value) {
    char Text[24];
    std::snprintf(Text, sizeof Text, "0x%llX", static_cast<unsigned long long>(Value));
    return std::string(Text);
  };
  const uint32_t PayloadRva = U32At(Good.DataEntry[Z]);
  // The image with a second payload beside the first, which Windows would
  // pick on some machines and not on others.
  const auto WithSecondPayload = [&](uint16_t FirstLanguage, kvtest::TImageResource Second) {
    kvtest::TImageRecipe Recipe = kvtest::UpdaterRecipe(Payload);
    Recipe.Resources.back().Language = FirstLanguage;
    Recipe.Resources.push_back(std::move(Second));
    return kvtest::BuildImage(Recipe).Bytes;
  };
  const TBytes Other = kvtest::BuildArchive({{"other", kvtest::ToBytes("another release")}});
  const size_t Version = 0x200 + (U32At(Good.DataEntry[0]) - 0x1000);
  const auto WithPayloadNamed = [&](const std::string& Name) {
    kvtest::TImageRecipe Recipe = kvtest::UpdaterRecipe(Payload);
    Recipe.Resources.back().Name = Name;
    return kvtest::BuildImage(Recipe).Bytes;
  };
  // 65,535 type entries that lead to one name directory, which holds
  // 16,384 names: a reader that walks it for each of them compares a
  // billion names.
  constexpr size_t Types = 0xFFFF, SharedNames = 0x4000;
  constexpr size_t SharedNameDirectory = 16 + 8 * Types;
  const auto WithSharedNameDirectory = [&] {
    const size_t NameX = SharedNameDirectory + 16 + 8 * SharedNames;
    const size_t Languages = NameX + 8;  // empty language directories
    TTree Tree(Languages + 16 * SharedNames);
    Tree.Directory(0, 0, uint16_t(Types));
    for (size_t I = 0; I < Types; ++I)
      Tree.Entry(0, I, 10, Sub | uint32_t(SharedNameDirectory));
    Tree.Directory(SharedNameDirectory, uint16_t(SharedNames), 0);
    Tree.Name(NameX, u"X");
    for (size_t I = 0; I < SharedNames; ++I)
      Tree.Entry(SharedNameDirectory, I, Sub | uint32_t(NameX), Sub | uint32_t(Languages + 16 * I));
    kvtest::TImageRecipe Recipe;
    Recipe.RawTree = std::move(Tree.Bytes);
    return kvtest::BuildImage(Recipe).Bytes;
  };
  // Beside the payload, 65,535 languages of one resource whose leaves share
  // one data entry of 64 KiB: read for each, 4 GiB.
  constexpr size_t Leaves = 0xFFFF, SharedBytes = 64 * 1024;
  constexpr size_t Root = 0, Type3 = Root + 32, Type10 = Type3 + 24, Languages3 = Type10 + 24;
  constexpr size_t Languages10 = Languages3 + 16 + 8 * Leaves, SharedEntry = Languages10 + 24;
  const auto WithSharedData = [&] {
    const size_t PayloadEntry = SharedEntry + 16, Name = PayloadEntry + 16, Data = Name + 16;
    const size_t Shared = Data + (Payload.size() + 7) / 8 * 8;
    TTree Tree(Shared + SharedBytes);
    Tree.Directory(Root, 0, 2);
    Tree.Entry(Root, 0, 3, Sub | Type3);
    Tree.Entry(Root, 1, 10, Sub | Type10);
    Tree.Directory(Type3, 0, 1);
    Tree.Entry(Type3, 0, 1, Sub | Languages3);
    Tree.Directory(Type10, 1, 0);
    Tree.Entry(Type10, 0, Sub | uint32_t(Name), Sub | uint32_t(Languages10));
    Tree.Name(Name, u"ZLBDATA");
    Tree.Directory(Languages3, 0, uint16_t(Leaves));
    for (size_t I = 0; I < Leaves; ++I)
      Tree.Entry(Languages3, I, uint32_t(I), uint32_t(SharedEntry));
    Tree.DataEntry(SharedEntry, Shared, SharedBytes);
    Tree.Directory(Languages10, 0, 1);
    Tree.Entry(Languages10, 0, 0x409, uint32_t(PayloadEntry));
    Tree.DataEntry(PayloadEntry, Data, Payload.size());
    std::copy(Payload.begin(), Payload.end(), Tree.Bytes.begin() + ptrdiff_t(Data));
    kvtest::TImageRecipe Recipe;
    Recipe.RawTree = std::move(Tree.Bytes);
    return kvtest::BuildImage(Recipe).Bytes;
  };
  struct TCase {
    const char* Name;
    std::function<void(TBytes&)> Damage;
    std::string Message;
    bool FactsOnly = false;  // what only the image's facts read
  };
  const TCase Cases[] = {
      {.Name = "file ends in the MS-DOS header",
       .Damage = [](TBytes& B) { B.resize(40); },
       .Message = "the file ends within the MS-DOS header at 0x0"},
      {.Name = "e_lfanew past the end",
       .Damage = [](TBytes& B) { PutU32(B, 60, 0x7FFFFFF0); },
       .Message = "e_lfanew (0x7FFFFFF0) points past the end of the file (" + std::to_string(Size) +
                  " bytes)"},
      {.Name = "e_lfanew and the signature overflow 32 bits",
       .Damage = [](TBytes& B) { PutU32(B, 60, 0xFFFFFFFE); },
       .Message = "e_lfanew (0xFFFFFFFE) points past the end of the file (" + std::to_string(Size) +
                  " bytes)"},
      {.Name = "an MS-DOS program",
       .Damage = [](TBytes& B) { B[0x40] = 'N'; },
       .Message = "no PE signature at e_lfanew (0x40): an MS-DOS program, not a Windows image"},
      {.Name = "file ends in the COFF header",
       .Damage = [&](TBytes& B) { B.resize(Good.Coff + 10); },
       .Message = "the file ends within the COFF header at 0x40"},
      {.Name = "file ends in the optional header",
       .Damage = [&](TBytes& B) { B.resize(Good.Optional + 100); },
       .Message = "the file ends within the optional header at 0x58"},
      {.Name = "unknown optional header",
       .Damage = [&](TBytes& B) { PutU16(B, Good.Optional, 0x107); },
       .Message = "unknown optional header magic 0x107"},
      {.Name = "optional header shorter than its fields",
       .Damage = [&](TBytes& B) { PutU16(B, Good.Coff + 16, 90); },
       .Message = "the optional header of 90 bytes is too small for its fields (96 bytes)"},
      {.Name = "data directories beyond the optional header",
       .Damage = [&](TBytes& B) { PutU16(B, Good.Coff + 16, 120); },
       .Message = "the optional header of 120 bytes is too small for its fields (224 bytes)"},
      {.Name = "absurd section count",
       .Damage = [&](TBytes& B) { PutU16(B, Good.Coff + 2, 0xFFFF); },
       .Message = "65535 sections, more than Windows loads (96)"},
      {.Name = "section table past the end",
       .Damage = [&](TBytes& B) { PutU16(B, Good.Coff + 16, uint16_t(Size - 20 - Good.Optional)); },
       .Message = "the file ends within the section table at " + Hex(Size - 20)},
      {.Name = "section data past the end",
       .Damage = [&](TBytes& B) { PutU32(B, Good.SectionTable + 16, 0x10000000); },
       .Message = "section 1 (.rsrc) reaches past the end of the file"},
      {.Name = "section offset and size overflow 32 bits",
       .Damage = [&](TBytes& B) { PutU32(B, Good.SectionTable + 20, 0xFFFFFE00); },
       .Message = "section 1 (.rsrc) reaches past the end of the file"},
      {.Name = "resource directory in no section",
       .Damage = [&](TBytes& B) { PutU32(B, Good.Directories + 16, 0x00900000); },
       .Message = "the resource directory at RVA 0x900000 (16 bytes) lies in no section"},
      {.Name = "resource directory that refers to itself",
       .Damage = [&](TBytes& B) { PutU32(B, RootType + 4, Sub | 0); },
       .Message = "the resource directory at 0x0 refers back to itself or to a directory above it"},
      {.Name = "resource directory that refers to one above it",
       .Damage = [&](TBytes& B) { PutU32(B, Good.NameEntry[Z] + 4, Sub | 0); },
       .Message = "the resource directory at 0x0 refers back to itself or to a directory above it"},
      {.Name = "resource tree deeper than three levels",
       .Damage = [&](TBytes& B) { PutU32(B, Good.LanguageDirectory[Z] + 20, Sub | 0x10); },
       .Message = "the resource tree is deeper than three levels"},
      {.Name = "data where the type's directory belongs",
       .Damage = [&](TBytes& B) { PutU32(B, RootType + 4, Rel(Good.DataEntry[Z])); },
       .Message = "a resource entry at level 1 names data where a directory belongs"},
      {.Name = "absurd entry count",
       .Damage = [&](TBytes& B) { PutU16(B, Good.Resources + 14, 0xFFFF); },
       .Message = "the resource directory at 0x0 claims 65535 entries, more than fit in the "
                  "resource section"},
      {.Name = "subdirectory past the resource section",
       .Damage = [&](TBytes& B) { PutU32(B, Good.NameEntry[Z] + 4, Sub | 0x7FFFFFF8); },
       .Message = "the resource directory at 0x7FFFFFF8 reaches past the resource section"},
      {.Name = "name past the resource section",
       .Damage = [&](TBytes& B) { PutU32(B, Good.NameEntry[Z], Sub | 0x7FFFFFFF); },
       .Message = "a resource name at 0x7FFFFFFF reaches past the resource section"},
      {.Name = "name whose length reaches past the resource section",
       .Damage =
           [&](TBytes& B) {
             PutU16(B, Size - 2, 100);
             PutU32(B, Good.NameEntry[Z], Sub | Rel(Size - 2));
           },
       .Message =
           "a resource name at " + Hex(Rel(Size - 2)) + " reaches past the resource section"},
      {.Name = "data entry past the resource section",
       .Damage = [&](TBytes& B) { PutU32(B, Good.LanguageDirectory[Z] + 20, 0x7FFFFFF0); },
       .Message = "a resource data entry at 0x7FFFFFF0 reaches past the resource section"},
      {.Name = "payload in no section",
       .Damage = [&](TBytes& B) { PutU32(B, Good.DataEntry[Z], 0x00400000); },
       .Message = "resource data at RVA 0x400000 (" + std::to_string(Payload.size()) +
                  " bytes) lies in no section"},
      {.Name = "payload RVA and size overflow 32 bits",
       .Damage = [&](TBytes& B) { PutU32(B, Good.DataEntry[Z] + 4, 0xFFFFFFF0); },
       .Message = "resource data at RVA " + Hex(PayloadRva) +
                  " (4294967280 bytes) reaches past its section's data in the file"},
      {.Name = "payloads in German and in English",
       .Damage =
           [&](TBytes& B) {
             B = WithSecondPayload(0x407, {.Type = 10, .Name = "ZlbData", .Data = Other});
           },
       .Message = "more than one ZLBDATA resource (languages 0x0407, 0x0409): which one runs "
                  "depends on the user's language"},
      {.Name = "the payload's name twice, in other letter case",
       .Damage =
           [&](TBytes& B) {
             B = WithSecondPayload(0x409, {.Type = 10, .Name = "ZLBDATA", .Data = Other});
           },
       .Message = "more than one ZLBDATA resource (languages 0x0409, 0x0409): which one runs "
                  "depends on the user's language"},
      {.Name = "no payload",
       .Damage = [&](TBytes& B) { PutU32(B, RootType, 11); },
       .Message = "no ZLBDATA resource"},
      {.Name = "an empty payload, its data at the section's end",
       .Damage = [&](TBytes& B) { B = kvtest::BuildImage(kvtest::UpdaterRecipe({})).Bytes; },
       .Message = ""},
      {.Name = "the payload's name in lower case",
       .Damage = [&](TBytes& B) { B = WithPayloadNamed("zlbdata"); },
       .Message = ""},
      {.Name = "the payload's name with a look-alike letter",
       .Damage = [&](TBytes& B) { B = WithPayloadNamed("ZLBDAT\u0141"); },
       .Message = "no ZLBDATA resource"},
      {.Name = "the payload's name as a lower-case look-alike",
       .Damage = [&](TBytes& B) { B = WithPayloadNamed("zlbdat\u0142"); },
       .Message = "no ZLBDATA resource"},
      {.Name = "a directory inside the entries of another",
       .Damage = [&](TBytes& B) { PutU32(B, RootType + 4, Sub | 4); },
       .Message = "the resource directory at 0x4 overlaps another part of the resource tree"},
      {.Name = "a name directory shared by 65535 types",
       .Damage = [&](TBytes& B) { B = WithSharedNameDirectory(); },
       .Message = "the resource directory at " + Hex(SharedNameDirectory) + " is reached twice"},
      {.Name = "65535 leaves sharing one data entry",
       .Damage = [&](TBytes& B) { B = WithSharedData(); },
       .Message = "the resource data entry at " + Hex(SharedEntry) + " is reached twice"},
      {.Name = "certificate table past the end",
       .Damage =
           [&](TBytes& B) {
             PutU32(B, Good.Directories + 32, 0x100);
             PutU32(B, Good.Directories + 36, 0xFFFFFFF0);
           },
       .Message = "the certificate table (offset 0x100, 4294967280 bytes) reaches past the end "
                  "of the file",
       .FactsOnly = true},
      {.Name = "version block longer than the resource",
       .Damage = [&](TBytes& B) { PutU16(B, Version, 0xFFFF); },
       .Message = "the version resource is malformed: the block at 0x0 has a length that does "
                  "not fit (65535 bytes)",
       .FactsOnly = true},
  };
  // What reading the file as zlbtool does raises; "" when nothing.
  const auto Fault = [](const TBytes& Bytes, bool Facts) -> std::string {
    TReadOnlyMemoryStream Stream(Bytes.data(), int64_t(Bytes.size()));
    try {
      const payload::TPayloadLocation Location = payload::LocatePayload(Stream);
      if (Location.IsImage && !Location.Archive) return payload::NoPayloadMessage();
      if (Facts) (void)ReadImageFacts(TPEImage(Stream));
    } catch (const EPEFormatError& E) {
      return E.Message();
    }
    return "";
  };
  ASSERT_EQ(Fault(Good.Bytes, true), "") << "the undamaged image passes";
  // The damaged images seed fuzz_pe (tests/fuzz/make-corpus).
  const char* Corpus = std::getenv("KV_HOSTILE_IMAGE_DIR");
  for (const TCase& Case : Cases) {
    TBytes Bytes = Good.Bytes;
    Case.Damage(Bytes);
    if (!Case.FactsOnly) {
      EXPECT_EQ(Fault(Bytes, false), Case.Message) << Case.Name;
    }
    EXPECT_EQ(Fault(Bytes, true), Case.Message) << Case.Name;
    if (Corpus) {
      std::string Name = Case.Name;
      std::replace(Name.begin(), Name.end(), ' ', '_');
      std::erase_if(Name, [](char C) { return C == '\'' || C == ','; });
      kvtest::WriteAll(std::filesystem::path(Corpus) / ("hostile_" + Name + ".exe"), Bytes);
    }
  }
}

namespace {

// The signer's subject that zlbtool info shows for Image.
std::optional<std::string> SignerOf(const TBytes& Image) {
  TReadOnlyMemoryStream Stream(Image.data(), int64_t(Image.size()));
  return ReadImageFacts(TPEImage(Stream)).SignerSubject;
}

}  // namespace

// The subject of the certificate that the signer names, as RFC 4514 writes
// it, safe to show.
TEST(SignerSubject, IsTheSigningCertificatesSubjectAsRfc4514WritesIt) {
  using kvtest::Der;
  using kvtest::Utf8String;
  const auto Printable = [](const std::string& Text) {
    return Der(0x13, {TBytes(Text.begin(), Text.end())});
  };
  struct TCase {
    const char* Name;
    kvtest::TNameRecipe Subject;
    std::string Text;
  };
  const TCase Cases[] = {
      {.Name = "parts last first",
       .Subject = {{{"2.5.4.6", Printable("PL")}},
                   {{"2.5.4.10", Utf8String("Konvoro")}},
                   {{"2.5.4.3", Utf8String("Konvoro updater")}}},
       .Text = "CN=Konvoro updater, O=Konvoro, C=PL"},
      {.Name = "every short name",
       .Subject = {{{"0.9.2342.19200300.100.1.25", Printable("example")}},
                   {{"2.5.4.7", Printable("Lodz")}},
                   {{"2.5.4.8", Printable("Lodzkie")}},
                   {{"2.5.4.9", Printable("Piotrkowska 1")}},
                   {{"2.5.4.11", Printable("Release")}},
                   {{"0.9.2342.19200300.100.1.1", Printable("u1")}}},
       .Text = "UID=u1, OU=Release, STREET=Piotrkowska 1, ST=Lodzkie, L=Lodz, DC=example"},
      {.Name = "several attributes in one part",
       .Subject = {{{"2.5.4.10", Utf8String("Konvoro")}},
                   {{"2.5.4.3", Utf8String("A")}, {"2.5.4.11", Utf8String("B")}}},
       .Text = "CN=A+OU=B, O=Konvoro"},
      {.Name = "special characters",
       .Subject = {{{"2.5.4.3", Utf8String("#a, b+c \"q\" <x>;\\ ")}}},
       .Text = "CN=\\#a\\, b\\+c \\\"q\\\" \\<x\\>\\;\\\\\\ "},
      {.Name = "a blank first", .Subject = {{{"2.5.4.3", Utf8String(" a")}}}, .Text = "CN=\\ a"},
      {.Name = "letters beyond ASCII in every string type",
       .Subject = {{{"2.5.4.7", Utf8String("\u0141\u00F3d\u017A")}},
                   {{"2.5.4.3", Der(0x1E, {{0x04, 0x16, 0xD8, 0x3D, 0xDE, 0x00}})}},
                   {{"2.5.4.10", Der(0x14, {{'C', 0xE9}})}},
                   {{"2.5.4.11", Der(0x1C, {{0, 0, 0, 'U'}})}}},
       .Text = "OU=U, O=C\u00E9, CN=\u0416\U0001F600, L=\u0141\u00F3d\u017A"},
      {.Name = "controls and direction marks escaped",
       .Subject = {{{"2.5.4.3", Utf8String("a\nb\x1B[31m\u202Ec\u0085")}}},
       .Text = "CN=a\\0Ab\\1B[31m\\E2\\80\\AEc\\C2\\85"},
      {.Name = "a NUL",
       .Subject = {{{"2.5.4.3", Der(0x0C, {{'a', 0, 'b'}})}}},
       .Text = "CN=a\\00b"},
      {.Name = "an unknown type, as its number and DER",
       .Subject = {{{"1.2.840.113549.1.9.1", Der(0x16, {{'a', '@', 'b'}})}}},
       .Text = "1.2.840.113549.1.9.1=#1603614062"},
      {.Name = "values that are no strings of their kind, as DER",
       .Subject = {{{"2.5.4.3", Der(0x0C, {{0xC3, 0x28}})}},
                   {{"2.5.4.10", Der(0x02, {{0x05}})}},
                   {{"2.5.4.11", Der(0x13, {{'a', 0xFF}})}},
                   {{"2.5.4.6", Der(0x1E, {{0xD8, 0x3D}})}}},
       .Text = "C=#1E02D83D, OU=#130261FF, O=#020105, CN=#0C02C328"},
      {.Name = "an empty name", .Subject = {}, .Text = ""},
  };
  const TBytes Payload = kvtest::BuildArchive({});
  for (const TCase& Case : Cases) {
    kvtest::TImageRecipe Recipe = kvtest::UpdaterRecipe(Payload);
    Recipe.Certificate = kvtest::Signature({.Subject = kvtest::Name(Case.Subject)});
    EXPECT_EQ(SignerOf(kvtest::BuildImage(Recipe).Bytes), Case.Text) << Case.Name;
  }

  // No signature, or one of another kind than PKCS #7: no signer.
  kvtest::TImageRecipe Unsigned = kvtest::UpdaterRecipe(Payload);
  EXPECT_EQ(SignerOf(kvtest::BuildImage(Unsigned).Bytes), std::nullopt);
  Unsigned.Certificate = kvtest::Signature({.Subject = kvtest::Name({})});
  Unsigned.CertificateType = 1;  // WIN_CERT_TYPE_X509
  EXPECT_EQ(SignerOf(kvtest::BuildImage(Unsigned).Bytes), std::nullopt);
}

// A signature that cannot be read names no signer, and says what is wrong
// with it; the rest of the image's facts stand. Each damage in one place.
TEST(SignerSubject, OfADamagedSignatureIsUnsetAndWhatIsWrongIsTold) {
  using kvtest::PutU32;
  const TBytes Payload = kvtest::BuildArchive({{"a", kvtest::ToBytes("a")}});
  auto Hex = [](uint64_t Value) { return kv::pe::Hex(Value); };
  const auto Signed = [&](const kvtest::TSignatureRecipe& Signature) {
    kvtest::TImageRecipe Recipe = kvtest::UpdaterRecipe(Payload);
    Recipe.Certificate = kvtest::Signature(Signature);
    return kvtest::BuildImage(Recipe);
  };
  const TBytes Subject = kvtest::Name({{{"2.5.4.3", kvtest::Utf8String("Konvoro updater")}}});
  const kvtest::TBuiltImage SignedGood = Signed({.Subject = Subject});
  const size_t SignatureAt = SignedGood.Certificate + 8;  // its DER, after WIN_CERTIFICATE
  const uint32_t TableSize = kv::GetU32LE(&SignedGood.Bytes[SignedGood.Directories + 36]);
  const kvtest::TSignatureRecipe Large = {.Subject =
                                              kvtest::Der(0x30, {TBytes(MaxSignatureBytes, 0)})};
  struct TCase {
    const char* Name;
    std::function<void(TBytes&)> Damage;
    std::string Problem;
  };
  const TCase Cases[] = {
      {.Name = "certificate entry longer than its table",
       .Damage = [&](TBytes& B) { PutU32(B, SignatureAt - 8, TableSize + 8); },
       .Problem = "the signature is malformed: the certificate entry at " + Hex(SignatureAt - 8) +
                  " claims " + std::to_string(TableSize + 8) +
                  " bytes, which its table does not hold"},
      {.Name = "signature that is not signed data",
       .Damage =
           [&](TBytes& B) {
             B = Signed({.Subject = Subject, .ContentType = "1.2.840.113549.1.7.1"}).Bytes;
           },
       .Problem = "the signature is malformed: it is not PKCS #7 signed data"},
      {.Name = "signature of two signers",
       .Damage = [&](TBytes& B) { B = Signed({.Subject = Subject, .Signers = 2}).Bytes; },
       .Problem = "the signature is malformed: it has more than one signer"},
      {.Name = "signature of no signer",
       .Damage = [&](TBytes& B) { B = Signed({.Subject = Subject, .Signers = 0}).Bytes; },
       .Problem = "the signature is malformed: the signer info is missing or cut off"},
      {.Name = "signer whose certificate is not there",
       .Damage = [&](TBytes& B) { B = Signed({.Subject = Subject, .SignerSerial = {9}}).Bytes; },
       .Problem = "the signature is malformed: no certificate in it matches its signer"},
      {.Name = "signature without certificates",
       .Damage = [&](TBytes& B) { B = Signed({.Subject = Subject, .Certificates = false}).Bytes; },
       .Problem = "the signature is malformed: it carries no certificates"},
      {.Name = "signature longer than its entry",
       // The content info's length, high byte.
       .Damage = [&](TBytes& B) { B[SignatureAt + 2] = 0x7F; },
       .Problem = "the signature is malformed: the content info (" +
                  std::to_string(0x7F00 | SignedGood.Bytes[SignatureAt + 3]) +
                  " bytes) reaches past what holds it"},
      {.Name = "signature of an indefinite length",
       .Damage = [&](TBytes& B) { B[SignatureAt + 1] = 0x80; },
       .Problem = "the signature is malformed: the content info has an indefinite length"},
      {.Name = "signature whose length has 5 bytes",
       .Damage = [&](TBytes& B) { B[SignatureAt + 1] = 0x85; },
       .Problem = "the signature is malformed: the content info has a length of more than 4 bytes"},
      {.Name = "signature larger than is read",
       .Damage = [&](TBytes& B) { B = Signed(Large).Bytes; },
       .Problem = "the signature of " + std::to_string(kvtest::Signature(Large).size()) +
                  " bytes is larger than " + std::to_string(MaxSignatureBytes) + " bytes"},
  };
  const auto Facts = [](const TBytes& Bytes) {
    TReadOnlyMemoryStream Stream(Bytes.data(), int64_t(Bytes.size()));
    return ReadImageFacts(TPEImage(Stream));
  };
  ASSERT_EQ(Facts(SignedGood.Bytes).SignerSubject, "CN=Konvoro updater");
  ASSERT_EQ(SignedGood.Bytes[SignatureAt + 1], 0x82) << "the signature's length in two bytes";
  // The damaged signatures seed fuzz_pe too (tests/fuzz/make-corpus).
  const char* Corpus = std::getenv("KV_HOSTILE_IMAGE_DIR");
  for (const TCase& Case : Cases) {
    TBytes Bytes = SignedGood.Bytes;
    Case.Damage(Bytes);
    const TImageFacts Read = Facts(Bytes);
    EXPECT_EQ(Read.SignerSubject, std::nullopt) << Case.Name;
    EXPECT_EQ(Read.SignerProblem, Case.Problem) << Case.Name;
    EXPECT_EQ(Read.ExecutionLevel, "requireAdministrator") << Case.Name;
    // The corpus keeps to seeds of a megabyte.
    if (Corpus && Bytes.size() <= (1 << 20)) {
      std::string Name = Case.Name;
      std::replace(Name.begin(), Name.end(), ' ', '_');
      kvtest::WriteAll(std::filesystem::path(Corpus) / ("hostile_" + Name + ".exe"), Bytes);
    }
  }
}

// The stub, signed at build time by osslsigncode with a throwaway
// certificate of this subject (tests/pe/SignedStub.cmake).
TEST(SignerSubject, OfARealAuthenticodeSignatureIsItsCertificatesSubject) {
#ifdef KV_TEST_SIGNED_STUB
  const TBytes Signed = kvtest::ReadAll(kvtest::ProgramDirectory() + KV_TEST_SIGNED_STUB);
  ASSERT_GT(Signed.size(), 4096u) << KV_TEST_SIGNED_STUB;
  EXPECT_EQ(SignerOf(Signed), "CN=Konvoro updater, O=Konvoro");

  // Cut short inside the signature: its table, and the entry, end earlier.
  TReadOnlyMemoryStream Stream(Signed.data(), int64_t(Signed.size()));
  const TPEImage Image(Stream);
  const TFileRange Table = *Image.CertificateTable();
  TBytes Cut = Signed;
  const uint32_t Kept = uint32_t(Table.Size / 2) & ~7u;
  kvtest::PutU32(Cut, size_t(Table.Offset), Kept);
  kvtest::PutU32(Cut, size_t(Image.Layout().Directories) + 8 * CertificateDirectory + 4, Kept);
  Cut.resize(size_t(Table.Offset + Kept));
  TReadOnlyMemoryStream CutStream(Cut.data(), int64_t(Cut.size()));
  const TImageFacts Facts = ReadImageFacts(TPEImage(CutStream));
  EXPECT_EQ(Facts.SignerSubject, std::nullopt);
  EXPECT_EQ(Facts.SignerProblem.value_or("").rfind("the signature is malformed: ", 0), 0u)
      << Facts.SignerProblem.value_or("(none)");
#else
  GTEST_SKIP() << KV_TEST_SIGNED_STUB_SKIPPED;
#endif
}
