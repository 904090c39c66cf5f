// Windows PE images made in memory for the tests.
#include "ImageBuilder.h"

#include "konvoro/Binary.h"
#include "konvoro/Unicode.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace kvtest {

namespace {

constexpr uint32_t SectionRva = ResourceSectionRva;
constexpr size_t FileAlignment = 0x200;

size_t AlignUp(size_t N, size_t To) {
  return (N + To - 1) / To * To;
}

void Pad(TBytes& B, size_t To) {
  B.resize(AlignUp(B.size(), To), 0);
}

// A resource name, given in UTF-8, as its UTF-16 code units.
std::u16string NameUnits(const std::string& Utf8) {
  const std::optional<std::u16string> Units = kv::Utf8ToUtf16(Utf8);
  if (!Units) throw std::invalid_argument("a resource name that is not UTF-8: " + Utf8);
  return *Units;
}

TBytes ToBytesOf(const std::string& Text) {
  return TBytes(Text.begin(), Text.end());
}

TBytes Utf16(const std::string& Text, bool Terminated) {
  TBytes Out;
  for (const char C : Text) {
    Out.push_back(uint8_t(C));
    Out.push_back(0);
  }
  if (Terminated) Out.insert(Out.end(), {0, 0});
  return Out;
}

TBytes VersionBlock(const std::string& Key, const TBytes& Value, uint16_t ValueLength, bool Text,
                    const std::vector<TBytes>& Children) {
  TBytes B(6, 0);
  const TBytes K = Utf16(Key, true);
  B.insert(B.end(), K.begin(), K.end());
  Pad(B, 4);
  B.insert(B.end(), Value.begin(), Value.end());
  for (const TBytes& Child : Children) {
    Pad(B, 4);
    B.insert(B.end(), Child.begin(), Child.end());
  }
  PutU16(B, 0, uint16_t(B.size()));
  PutU16(B, 2, ValueLength);
  PutU16(B, 4, Text ? 1 : 0);
  return B;
}

}  // namespace

// Checked against the buffer's end first.
void PutU16(TBytes& Bytes, size_t At, uint16_t Value) {
  kv::PutU16LE(&Bytes.at(At + 1) - 1, Value);
}

void PutU32(TBytes& Bytes, size_t At, uint32_t Value) {
  kv::PutU32LE(&Bytes.at(At + 3) - 3, Value);
}

TBytes VersionResource(const std::string& FixedVersion,
                       const std::vector<std::pair<std::string, std::string>>& Strings) {
  uint32_t Parts[4] = {};
  char Dot;
  std::istringstream In(FixedVersion);
  In >> Parts[0] >> Dot >> Parts[1] >> Dot >> Parts[2] >> Dot >> Parts[3];
  TBytes Fixed(52, 0);
  PutU32(Fixed, 0, 0xFEEF04BD);
  PutU32(Fixed, 4, 0x00010000);
  for (const size_t At : {size_t(8), size_t(16)}) {
    PutU32(Fixed, At, Parts[0] << 16 | Parts[1]);
    PutU32(Fixed, At + 4, Parts[2] << 16 | Parts[3]);
  }
  std::vector<TBytes> StringBlocks;
  for (const auto& [Key, Value] : Strings)
    StringBlocks.push_back(
        VersionBlock(Key, Utf16(Value, true), uint16_t(Value.size() + 1), true, {}));
  const TBytes Table = VersionBlock("040904B0", {}, 0, true, StringBlocks);
  const TBytes FileInfo = VersionBlock("StringFileInfo", {}, 0, true, {Table});
  return VersionBlock("VS_VERSION_INFO", Fixed, uint16_t(Fixed.size()), false, {FileInfo});
}

TBuiltImage BuildImage(const TImageRecipe& Recipe) {
  const size_t Count = Recipe.Resources.size();
  const auto SameName = [&](size_t A, size_t B) {
    const TImageResource &RA = Recipe.Resources[A], &RB = Recipe.Resources[B];
    return RA.Type == RB.Type && RA.Name == RB.Name && (!RA.Name.empty() || RA.NameId == RB.NameId);
  };
  // The types in ascending order, each with its names, named ones first,
  // and each name with its resources, one per language.
  std::vector<uint16_t> Types;
  for (const TImageResource& R : Recipe.Resources)
    if (std::find(Types.begin(), Types.end(), R.Type) == Types.end()) Types.push_back(R.Type);
  std::sort(Types.begin(), Types.end());
  std::vector<std::vector<std::vector<size_t>>> Names(Types.size());
  for (size_t T = 0; T < Types.size(); ++T) {
    for (const bool Named : {true, false})
      for (size_t I = 0; I < Count; ++I) {
        if (Recipe.Resources[I].Type != Types[T] || Recipe.Resources[I].Name.empty() == Named)
          continue;
        const auto Group = std::find_if(Names[T].begin(), Names[T].end(),
                                        [&](const auto& G) { return SameName(G.front(), I); });
        if (Group == Names[T].end())
          Names[T].push_back({I});
        else
          Group->push_back(I);
      }
  }

  // The tree's layout, offsets from its root: directories, data entries,
  // names, then the data.
  TBuiltImage Out;
  Out.TypeDirectory.resize(Count);
  Out.LanguageDirectory.resize(Count);
  Out.NameEntry.resize(Count);
  Out.DataEntry.resize(Count);
  std::vector<size_t> TypeDirAt(Types.size()), NameAt(Count), DataAt(Count);
  size_t At = 16 + 8 * Types.size();
  for (size_t T = 0; T < Types.size(); ++T) {
    TypeDirAt[T] = At;
    At += 16 + 8 * Names[T].size();
  }
  for (size_t T = 0; T < Types.size(); ++T)
    for (const std::vector<size_t>& Group : Names[T]) {
      for (const size_t I : Group)
        Out.LanguageDirectory[I] = At;
      At += 16 + 8 * Group.size();
    }
  for (size_t I = 0; I < Count; ++I) {
    Out.DataEntry[I] = At;
    At += 16;
  }
  for (size_t T = 0; T < Types.size(); ++T)
    for (const std::vector<size_t>& Group : Names[T]) {
      const std::string& Name = Recipe.Resources[Group.front()].Name;
      if (Name.empty()) continue;
      NameAt[Group.front()] = At;
      At += 2 + 2 * NameUnits(Name).size();
    }
  for (size_t I = 0; I < Count; ++I) {
    At = AlignUp(At, 8);
    DataAt[I] = At;
    At += Recipe.Resources[I].Data.size();
  }
  TBytes Tree(At, 0);
  if (!Recipe.RawTree.empty()) {
    Tree = Recipe.RawTree;
    Types.clear();
    Out.TypeDirectory.clear();
    Out.LanguageDirectory.clear();
    Out.NameEntry.clear();
    Out.DataEntry.clear();
  }
  if (Recipe.RawTree.empty()) PutU16(Tree, 14, uint16_t(Types.size()));
  for (size_t T = 0; T < Types.size(); ++T) {
    PutU32(Tree, 16 + 8 * T, Types[T]);
    PutU32(Tree, 16 + 8 * T + 4, uint32_t(TypeDirAt[T]) | 0x80000000u);
    size_t Named = 0;
    for (size_t N = 0; N < Names[T].size(); ++N) {
      const std::vector<size_t>& Group = Names[T][N];
      const TImageResource& First = Recipe.Resources[Group.front()];
      const size_t Entry = TypeDirAt[T] + 16 + 8 * N;
      const size_t Languages = Out.LanguageDirectory[Group.front()];
      if (!First.Name.empty()) {
        ++Named;
        const size_t NameOffset = NameAt[Group.front()];
        PutU32(Tree, Entry, uint32_t(NameOffset) | 0x80000000u);
        const std::u16string Name = NameUnits(First.Name);
        PutU16(Tree, NameOffset, uint16_t(Name.size()));
        for (size_t U = 0; U < Name.size(); ++U)
          PutU16(Tree, NameOffset + 2 + 2 * U, uint16_t(Name[U]));
      } else {
        PutU32(Tree, Entry, First.NameId);
      }
      PutU32(Tree, Entry + 4, uint32_t(Languages) | 0x80000000u);
      PutU16(Tree, Languages + 14, uint16_t(Group.size()));
      for (size_t L = 0; L < Group.size(); ++L) {
        const size_t I = Group[L];
        const TImageResource& R = Recipe.Resources[I];
        Out.TypeDirectory[I] = TypeDirAt[T];
        Out.NameEntry[I] = Entry;
        PutU32(Tree, Languages + 16 + 8 * L, R.Language);
        PutU32(Tree, Languages + 20 + 8 * L, uint32_t(Out.DataEntry[I]));
        PutU32(Tree, Out.DataEntry[I], SectionRva + uint32_t(DataAt[I]));
        PutU32(Tree, Out.DataEntry[I] + 4, uint32_t(R.Data.size()));
        std::copy(R.Data.begin(), R.Data.end(), Tree.begin() + ptrdiff_t(DataAt[I]));
      }
    }
    PutU16(Tree, TypeDirAt[T] + 12, uint16_t(Named));
    PutU16(Tree, TypeDirAt[T] + 14, uint16_t(Names[T].size() - Named));
  }

  // The headers: MS-DOS header, "PE\0\0", COFF, optional header, the
  // sections.
  TBytes& B = Out.Bytes;
  B.assign(FileAlignment, 0);
  B[0] = 'M';
  B[1] = 'Z';
  PutU32(B, 60, 0x40);
  std::copy_n("PE\0\0", 4, B.begin() + 0x40);
  Out.Coff = 0x44;
  const size_t OptionalSize = Recipe.PE32Plus ? 240 : 224;
  PutU16(B, Out.Coff, Recipe.Machine);
  const bool Relocated = !Recipe.Relocations.empty();
  PutU16(B, Out.Coff + 2, Relocated ? 2 : 1);
  PutU16(B, Out.Coff + 16, uint16_t(OptionalSize));
  PutU16(B, Out.Coff + 18, 0x0102);
  Out.Optional = Out.Coff + 20;
  PutU16(B, Out.Optional, Recipe.PE32Plus ? 0x20B : 0x10B);
  PutU32(B, Out.Optional + 32, 0x1000);
  PutU32(B, Out.Optional + 36, uint32_t(FileAlignment));
  const size_t RelocationRva = AlignUp(SectionRva + Tree.size(), 0x1000);
  PutU32(B, Out.Optional + 56,
         uint32_t(AlignUp(RelocationRva + Recipe.Relocations.size(), 0x1000)));
  PutU32(B, Out.Optional + 60, uint32_t(FileAlignment));
  PutU16(B, Out.Optional + 68, Recipe.Subsystem);
  const size_t CountAt = Out.Optional + (Recipe.PE32Plus ? 108 : 92);
  PutU32(B, CountAt, 16);
  Out.Directories = CountAt + 4;
  PutU32(B, Out.Directories + 2 * 8, SectionRva);
  PutU32(B, Out.Directories + 2 * 8 + 4, uint32_t(Tree.size()));
  Out.SectionTable = Out.Optional + OptionalSize;
  std::copy_n(".rsrc", 5, B.begin() + ptrdiff_t(Out.SectionTable));
  PutU32(B, Out.SectionTable + 8, uint32_t(Tree.size()));
  PutU32(B, Out.SectionTable + 12, SectionRva);
  PutU32(B, Out.SectionTable + 16, uint32_t(AlignUp(Tree.size(), FileAlignment)));
  PutU32(B, Out.SectionTable + 20, uint32_t(FileAlignment));
  PutU32(B, Out.SectionTable + 36, 0x40000040);

  Out.Resources = B.size();
  B.insert(B.end(), Tree.begin(), Tree.end());
  Pad(B, FileAlignment);
  if (Relocated) {
    const size_t Header = Out.SectionTable + 40;
    std::copy_n(".reloc", 6, B.begin() + ptrdiff_t(Header));
    PutU32(B, Header + 8, uint32_t(Recipe.Relocations.size()));
    PutU32(B, Header + 12, uint32_t(RelocationRva));
    PutU32(B, Header + 16, uint32_t(AlignUp(Recipe.Relocations.size(), FileAlignment)));
    PutU32(B, Header + 20, uint32_t(B.size()));
    PutU32(B, Header + 36, 0x42000040);
    PutU32(B, Out.Directories + 5 * 8, uint32_t(RelocationRva));
    PutU32(B, Out.Directories + 5 * 8 + 4, uint32_t(Recipe.Relocations.size()));
    Out.Relocations = B.size();
    B.insert(B.end(), Recipe.Relocations.begin(), Recipe.Relocations.end());
    Pad(B, FileAlignment);
  }
  for (size_t I = 0; I < Out.DataEntry.size(); ++I) {
    Out.TypeDirectory[I] += Out.Resources;
    Out.LanguageDirectory[I] += Out.Resources;
    Out.NameEntry[I] += Out.Resources;
    Out.DataEntry[I] += Out.Resources;
  }
  if (!Recipe.Certificate.empty()) {
    const size_t Table = B.size();
    Out.Certificate = Table;
    TBytes Header(8, 0);
    PutU32(Header, 0, uint32_t(8 + Recipe.Certificate.size()));
    PutU16(Header, 4, 0x0200);
    PutU16(Header, 6, Recipe.CertificateType);
    B.insert(B.end(), Header.begin(), Header.end());
    B.insert(B.end(), Recipe.Certificate.begin(), Recipe.Certificate.end());
    Pad(B, 8);
    PutU32(B, Out.Directories + 4 * 8, uint32_t(Table));
    PutU32(B, Out.Directories + 4 * 8 + 4, uint32_t(B.size() - Table));
  }
  return Out;
}

const std::string UpdaterManifest =
    "<?xml version=\"1.0\"?>\n<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\">"
    "<trustInfo><security><requestedPrivileges>\n"
    "<!-- <requestedExecutionLevel level=\"asInvoker\"/> -->\n"
    "<requestedExecutionLevel uiAccess='false' level = 'requireAdministrator'/>\n"
    "</requestedPrivileges></security></trustInfo></assembly>\n";

TImageRecipe UpdaterRecipe(const TBytes& Payload) {
  TImageRecipe Recipe;
  Recipe.Resources = {{16, "", 1,
                       VersionResource("2.0.0.0", {{"CompanyName", "Konvoro"},
                                                   {"FileVersion", "2.0.0.0"},
                                                   {"ProductVersion", "2.0.0.0"}})},
                      {24, "", 1, TBytes(UpdaterManifest.begin(), UpdaterManifest.end())},
                      {10, "TFORM1", 1, {'f', 'o', 'r', 'm'}},
                      {10, "ZlbData", 1, Payload}};
  return Recipe;
}

TBytes Der(uint8_t Tag, const std::vector<TBytes>& Parts) {
  TBytes Contents;
  for (const TBytes& Part : Parts)
    Contents.insert(Contents.end(), Part.begin(), Part.end());
  TBytes Out = {Tag};
  if (Contents.size() < 0x80) {
    Out.push_back(uint8_t(Contents.size()));
  } else {
    TBytes Length;
    for (size_t N = Contents.size(); N != 0; N >>= 8)
      Length.insert(Length.begin(), uint8_t(N));
    Out.push_back(uint8_t(0x80 | Length.size()));
    Out.insert(Out.end(), Length.begin(), Length.end());
  }
  Out.insert(Out.end(), Contents.begin(), Contents.end());
  return Out;
}

TBytes Oid(const std::string& Dotted) {
  std::vector<uint64_t> Arcs;
  std::istringstream In(Dotted);
  for (std::string Arc; std::getline(In, Arc, '.');)
    Arcs.push_back(std::stoull(Arc));
  TBytes Contents;
  for (size_t I = 1; I < Arcs.size(); ++I) {
    uint64_t Arc = I == 1 ? Arcs[0] * 40 + Arcs[1] : Arcs[I];
    TBytes Groups = {uint8_t(Arc & 0x7F)};
    while ((Arc >>= 7) != 0)
      Groups.insert(Groups.begin(), uint8_t(0x80 | (Arc & 0x7F)));
    Contents.insert(Contents.end(), Groups.begin(), Groups.end());
  }
  TBytes Out = {0x06, uint8_t(Contents.size())};
  Out.insert(Out.end(), Contents.begin(), Contents.end());
  return Out;
}

TBytes Utf8String(const std::string& Text) {
  return Der(0x0C, {TBytes(Text.begin(), Text.end())});
}

TBytes Name(const TNameRecipe& Recipe) {
  std::vector<TBytes> Relative;
  for (const auto& Attributes : Recipe) {
    std::vector<TBytes> Set;
    for (const auto& [Type, Value] : Attributes)
      Set.push_back(Der(0x30, {Oid(Type), Value}));
    Relative.push_back(Der(0x31, Set));
  }
  return Der(0x30, Relative);
}

TBytes Signature(const TSignatureRecipe& Recipe) {
  const TBytes Issuer = Name({{{"2.5.4.3", Utf8String("Konvoro test CA")}}});
  const TBytes Algorithm = Der(0x30, {Oid("1.2.840.113549.1.1.11"), Der(0x05, {})});
  const auto Certificate = [&](uint8_t Serial, const TBytes& Subject) {
    const TBytes Validity = Der(
        0x30, {Der(0x17, {ToBytesOf("260101000000Z")}), Der(0x17, {ToBytesOf("360101000000Z")})});
    const TBytes Body =
        Der(0x30, {Der(0xA0, {Der(0x02, {{0x02}})}), Der(0x02, {{Serial}}), Algorithm, Issuer,
                   Validity, Subject, Der(0x30, {Algorithm, Der(0x03, {{0x00, 0x01}})})});
    return Der(0x30, {Body, Algorithm, Der(0x03, {{0x00, 0x5A}})});
  };
  std::vector<TBytes> Parts = {Der(0x02, {{0x01}}),
                               Der(0x31, {Der(0x30, {Oid("2.16.840.1.101.3.4.2.1")})}),
                               Der(0x30, {Oid("1.3.6.1.4.1.311.2.1.4")})};
  if (Recipe.Certificates)
    Parts.push_back(Der(0xA0, {Certificate(0x05, Name({{{"2.5.4.3", Utf8String("Other")}}})),
                               Certificate(0x07, Recipe.Subject)}));
  std::vector<TBytes> Signers;
  for (size_t I = 0; I < Recipe.Signers; ++I)
    Signers.push_back(Der(
        0x30, {Der(0x02, {{0x01}}), Der(0x30, {Issuer, Der(0x02, {Recipe.SignerSerial})}),
               Der(0x30, {Oid("2.16.840.1.101.3.4.2.1")}), Algorithm, Der(0x04, {{0x5A, 0x5A}})}));
  Parts.push_back(Der(0x31, Signers));
  return Der(0x30, {Oid(Recipe.ContentType), Der(0xA0, {Der(0x30, Parts)})});
}

}  // namespace kvtest
