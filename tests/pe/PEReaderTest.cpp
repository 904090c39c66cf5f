// The PE reader on hostile images, through the payload locator, and the
// manifest scan behind zlbtool info.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ImageBuilder.h"
#include "ImageFacts.h"
#include "PEImage.h"
#include "TestSupport.h"
#include "UpdaterPayload.h"
#include "konvoro/Binary.h"

using namespace kv;
using namespace kv::pe;
using kvtest::TBytes;

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
  const uint32_t Sub = 0x80000000u;
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
