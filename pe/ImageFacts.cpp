// The version resource and the manifest's requested execution level.
#include "ImageFacts.h"

#include "Authenticode.h"
#include "ImageWriterMessages.h"
#include "PEImage.h"
#include "PEMessages.h"
#include "konvoro/Binary.h"
#include "konvoro/Format.h"

namespace kv::pe {

namespace {

// Version blocks, their values and children start on 4-byte boundaries.
constexpr size_t Align4(size_t N) {
  return size_t(AlignUp(N, 4));
}

[[noreturn]] void Malformed(const std::string& What) {
  throw EPEFormatError(Format(messages::SBadVersionResource, What));
}

// One block of the version resource: wLength, wValueLength, wType, a
// NUL-terminated UTF-16 key, then (aligned to 4) the value and the children.
struct TBlock {
  size_t Start = 0;
  size_t End = 0;  // Start + wLength
  std::vector<uint16_t> Key;
  size_t ValueStart = 0;
  size_t ValueEnd = 0;  // as far as the value reaches inside the block
  size_t ChildrenStart = 0;
};

// The block at Start, which must end by Limit.
TBlock ReadBlock(std::span<const uint8_t> Bytes, size_t Start, size_t Limit) {
  if (Start + 6 > Limit) Malformed("a block header at " + Hex(Start) + " is cut off");
  TBlock B;
  B.Start = Start;
  const size_t Length = GetU16LE(&Bytes[Start]);
  const size_t ValueLength = GetU16LE(&Bytes[Start + 2]);
  const bool Text = GetU16LE(&Bytes[Start + 4]) == 1;
  if (Length < 6 || Start + Length > Limit)
    Malformed("the block at " + Hex(Start) + " has a length that does not fit (" +
              std::to_string(Length) + " bytes)");
  B.End = Start + Length;
  size_t At = Start + 6;
  for (;; At += 2) {
    if (At + 2 > B.End) Malformed("the key of the block at " + Hex(Start) + " does not end");
    const uint16_t Unit = GetU16LE(&Bytes[At]);
    if (Unit == 0) break;
    B.Key.push_back(Unit);
  }
  B.ValueStart = std::min(Align4(At + 2), B.End);
  // Text values count characters; some compilers count bytes instead, so
  // the value is cut at the block's end rather than refused.
  const size_t ValueBytes = Text ? 2 * ValueLength : ValueLength;
  B.ValueEnd = std::min(B.ValueStart + ValueBytes, B.End);
  B.ChildrenStart = std::min(Align4(B.ValueEnd), B.End);
  return B;
}

bool KeyIs(const TBlock& B, std::string_view Name) {
  if (B.Key.size() != Name.size()) return false;
  for (size_t I = 0; I < Name.size(); ++I)
    if (B.Key[I] != uint8_t(Name[I])) return false;
  return true;
}

// Calls Visit for each child block of Parent, in order.
template <class F>
void ForEachChild(std::span<const uint8_t> Bytes, const TBlock& Parent, F&& Visit) {
  for (size_t At = Parent.ChildrenStart; At < Parent.End;) {
    // Padding may end a parent whose last child is shorter than aligned.
    if (Parent.End - At < 6) break;
    const TBlock Child = ReadBlock(Bytes, At, Parent.End);
    Visit(Child);
    At = Align4(Child.End);
  }
}

std::string TextValue(std::span<const uint8_t> Bytes, const TBlock& B) {
  std::vector<uint16_t> Units;
  for (size_t At = B.ValueStart; At + 2 <= B.ValueEnd; At += 2) {
    const uint16_t Unit = GetU16LE(&Bytes[At]);
    if (Unit == 0) break;
    Units.push_back(Unit);
  }
  return Utf16ToUtf8(Units);
}

TVersionNumber VersionAt(const uint8_t* P) {
  const uint32_t MS = GetU32LE(P), LS = GetU32LE(P + 4);
  return {uint16_t(MS >> 16), uint16_t(MS), uint16_t(LS >> 16), uint16_t(LS)};
}

bool IsBlank(char C) {
  return C == ' ' || C == '\t' || C == '\r' || C == '\n';
}

}  // namespace

std::optional<std::string> TVersionInfo::String(std::string_view Key) const {
  for (const auto& [Name, Value] : Strings)
    if (Name == Key) return Value;
  return std::nullopt;
}

std::string VersionText(const TVersionNumber& V) {
  return std::to_string(V[0]) + "." + std::to_string(V[1]) + "." + std::to_string(V[2]) + "." +
         std::to_string(V[3]);
}

std::optional<TVersionNumber> ParseVersion(std::string_view Text) {
  TVersionNumber Version{};
  for (size_t Part = 0; Part < Version.size(); ++Part) {
    if (Part != 0) {
      if (Text.empty() || Text[0] != '.') return std::nullopt;
      Text.remove_prefix(1);
    }
    size_t Digits = 0;
    uint32_t Value = 0;
    while (Digits < Text.size() && Text[Digits] >= '0' && Text[Digits] <= '9' && Digits < 6)
      Value = Value * 10 + uint32_t(Text[Digits++] - '0');
    if (Digits == 0 || Value > 0xFFFF || (Digits > 1 && Text[0] == '0')) return std::nullopt;
    Version[Part] = uint16_t(Value);
    Text.remove_prefix(Digits);
  }
  if (!Text.empty()) return std::nullopt;
  return Version;
}

TVersionInfo DecodeVersionInfo(std::span<const uint8_t> Bytes) {
  TVersionInfo Info;
  const TBlock Root = ReadBlock(Bytes, 0, Bytes.size());
  if (!KeyIs(Root, "VS_VERSION_INFO")) Malformed("the root block is not VS_VERSION_INFO");
  namespace L = fixed_info_layout;
  if (Root.ValueEnd - Root.ValueStart >= L::Size &&
      GetU32LE(&Bytes[Root.ValueStart + L::Signature]) == L::SignatureValue) {
    Info.FixedFileVersion = VersionAt(&Bytes[Root.ValueStart + L::FileVersionMS]);
    Info.FixedProductVersion = VersionAt(&Bytes[Root.ValueStart + L::ProductVersionMS]);
  }
  // Three levels: StringFileInfo, its string tables, their strings.
  ForEachChild(Bytes, Root, [&](const TBlock& FileInfo) {
    if (!KeyIs(FileInfo, "StringFileInfo")) return;
    ForEachChild(Bytes, FileInfo, [&](const TBlock& Table) {
      ForEachChild(Bytes, Table, [&](const TBlock& String) {
        Info.Strings.emplace_back(Utf16ToUtf8(String.Key), TextValue(Bytes, String));
      });
    });
  });
  return Info;
}

namespace {

// A block as stored: header, key, value and children, each child (and the
// value) starting 4-aligned from the block's start, which is itself aligned.
std::vector<uint8_t> EncodeBlock(const std::vector<uint16_t>& Key, uint16_t ValueLength,
                                 uint16_t Type, std::span<const uint8_t> Value,
                                 const std::vector<std::vector<uint8_t>>& Children) {
  std::vector<uint8_t> B(6, 0);
  for (const uint16_t Unit : Key)
    AppendU16LE(B, Unit);
  AppendU16LE(B, 0);
  B.resize(Align4(B.size()), 0);
  B.insert(B.end(), Value.begin(), Value.end());
  for (const std::vector<uint8_t>& Child : Children) {
    B.resize(Align4(B.size()), 0);
    B.insert(B.end(), Child.begin(), Child.end());
  }
  if (B.size() > MaxVersionResourceBytes)
    throw EPEFormatError(Format(messages::SVersionTooLarge, std::to_string(B.size())));
  PutU16LE(B, 0, uint16_t(B.size()));
  PutU16LE(B, 2, ValueLength);
  PutU16LE(B, 4, Type);
  return B;
}

// The block B as it stands, or as Change makes it: Change returns nullopt
// to keep a block, else its new bytes.
template <class F>
std::vector<std::vector<uint8_t>> Children(std::span<const uint8_t> Bytes, const TBlock& B,
                                           F&& Change) {
  std::vector<std::vector<uint8_t>> Out;
  ForEachChild(Bytes, B, [&](const TBlock& Child) {
    std::optional<std::vector<uint8_t>> Changed = Change(Child);
    Out.push_back(Changed ? std::move(*Changed)
                          : std::vector<uint8_t>(Bytes.begin() + ptrdiff_t(Child.Start),
                                                 Bytes.begin() + ptrdiff_t(Child.End)));
  });
  return Out;
}

std::span<const uint8_t> ValueOf(std::span<const uint8_t> Bytes, const TBlock& B) {
  return Bytes.subspan(B.ValueStart, B.ValueEnd - B.ValueStart);
}

}  // namespace

std::vector<uint8_t> WithVersion(std::span<const uint8_t> Bytes, const TVersionNumber& Version) {
  namespace L = fixed_info_layout;
  const TBlock Root = ReadBlock(Bytes, 0, Bytes.size());
  if (!KeyIs(Root, "VS_VERSION_INFO")) Malformed("the root block is not VS_VERSION_INFO");
  std::vector<uint8_t> Fixed(Bytes.begin() + ptrdiff_t(Root.ValueStart),
                             Bytes.begin() + ptrdiff_t(Root.ValueEnd));
  if (Fixed.size() < L::Size || GetU32LE(&Fixed[L::Signature]) != L::SignatureValue)
    Malformed("it has no fixed file information");
  const uint32_t MS = uint32_t(Version[0]) << 16 | Version[1];
  const uint32_t LS = uint32_t(Version[2]) << 16 | Version[3];
  PutU32LE(Fixed, L::FileVersionMS, MS);
  PutU32LE(Fixed, L::FileVersionLS, LS);
  PutU32LE(Fixed, L::ProductVersionMS, MS);
  PutU32LE(Fixed, L::ProductVersionLS, LS);

  // The strings as resource compilers write them: the text and its NUL,
  // the value's length counting both, in characters.
  std::vector<uint8_t> Text;
  const std::string Written = VersionText(Version);
  for (const char C : Written)
    AppendU16LE(Text, uint16_t(C));
  AppendU16LE(Text, 0);
  auto NewString = [&](const TBlock& String) -> std::optional<std::vector<uint8_t>> {
    if (!KeyIs(String, "FileVersion") && !KeyIs(String, "ProductVersion")) return std::nullopt;
    return EncodeBlock(String.Key, uint16_t(Written.size() + 1), 1, Text, {});
  };
  auto NewTable = [&](const TBlock& Table) -> std::optional<std::vector<uint8_t>> {
    return EncodeBlock(Table.Key, GetU16LE(&Bytes[Table.Start + 2]),
                       GetU16LE(&Bytes[Table.Start + 4]), ValueOf(Bytes, Table),
                       Children(Bytes, Table, NewString));
  };
  auto NewFileInfo = [&](const TBlock& FileInfo) -> std::optional<std::vector<uint8_t>> {
    if (!KeyIs(FileInfo, "StringFileInfo")) return std::nullopt;
    return EncodeBlock(FileInfo.Key, GetU16LE(&Bytes[FileInfo.Start + 2]),
                       GetU16LE(&Bytes[FileInfo.Start + 4]), ValueOf(Bytes, FileInfo),
                       Children(Bytes, FileInfo, NewTable));
  };
  return EncodeBlock(Root.Key, GetU16LE(&Bytes[2]), GetU16LE(&Bytes[4]), Fixed,
                     Children(Bytes, Root, NewFileInfo));
}

std::optional<std::string> RequestedExecutionLevel(std::string_view Xml) {
  auto LocalName = [](std::string_view Name) {
    const size_t Colon = Name.rfind(':');
    return Colon == std::string_view::npos ? Name : Name.substr(Colon + 1);
  };
  size_t At = 0;
  while ((At = Xml.find('<', At)) != std::string_view::npos) {
    // Markup that holds no elements is skipped whole.
    bool Skipped = false;
    for (const auto& [Open, Close] :
         {std::pair{"<!--", "-->"}, std::pair{"<![CDATA[", "]]>"}, std::pair{"<?", "?>"}}) {
      if (Xml.substr(At).starts_with(Open)) {
        At = Xml.find(Close, At);
        if (At == std::string_view::npos) return std::nullopt;
        Skipped = true;
        break;
      }
    }
    if (Skipped) continue;
    ++At;
    size_t NameEnd = At;
    while (NameEnd < Xml.size() && !IsBlank(Xml[NameEnd]) && Xml[NameEnd] != '>' &&
           Xml[NameEnd] != '/')
      ++NameEnd;
    const bool Wanted = LocalName(Xml.substr(At, NameEnd - At)) == "requestedExecutionLevel";
    // The attributes, up to the tag's end; quoted values may hold ">".
    At = NameEnd;
    while (At < Xml.size() && Xml[At] != '>') {
      if (IsBlank(Xml[At]) || Xml[At] == '/') {
        ++At;
        continue;
      }
      size_t AttrEnd = At;
      while (AttrEnd < Xml.size() && !IsBlank(Xml[AttrEnd]) && Xml[AttrEnd] != '=' &&
             Xml[AttrEnd] != '>')
        ++AttrEnd;
      const std::string_view Attr = Xml.substr(At, AttrEnd - At);
      At = AttrEnd;
      while (At < Xml.size() && IsBlank(Xml[At]))
        ++At;
      if (At >= Xml.size() || Xml[At] != '=') continue;
      ++At;
      while (At < Xml.size() && IsBlank(Xml[At]))
        ++At;
      if (At >= Xml.size() || (Xml[At] != '"' && Xml[At] != '\'')) continue;
      const size_t ValueEnd = Xml.find(Xml[At], At + 1);
      if (ValueEnd == std::string_view::npos) return std::nullopt;
      if (Wanted && LocalName(Attr) == "level")
        return std::string(Xml.substr(At + 1, ValueEnd - At - 1));
      At = ValueEnd + 1;
    }
  }
  return std::nullopt;
}

std::string Utf16ToUtf8(std::span<const uint16_t> Units) {
  std::string Out;
  for (size_t I = 0; I < Units.size(); ++I) {
    uint32_t C = Units[I];
    if (C >= 0xD800 && C <= 0xDBFF && I + 1 < Units.size() && Units[I + 1] >= 0xDC00 &&
        Units[I + 1] <= 0xDFFF) {
      C = 0x10000 + ((C - 0xD800) << 10) + (Units[I + 1] - 0xDC00u);
      ++I;
    } else if (C >= 0xD800 && C <= 0xDFFF) {
      C = 0xFFFD;
    }
    if (C < 0x80) {
      Out += char(C);
    } else if (C < 0x800) {
      Out += char(0xC0 | C >> 6);
      Out += char(0x80 | (C & 0x3F));
    } else if (C < 0x10000) {
      Out += char(0xE0 | C >> 12);
      Out += char(0x80 | (C >> 6 & 0x3F));
      Out += char(0x80 | (C & 0x3F));
    } else {
      Out += char(0xF0 | C >> 18);
      Out += char(0x80 | (C >> 12 & 0x3F));
      Out += char(0x80 | (C >> 6 & 0x3F));
      Out += char(0x80 | (C & 0x3F));
    }
  }
  return Out;
}

TImageFacts ReadImageFacts(const TPEImage& Image) {
  TImageFacts Facts;
  Facts.Format = Image.ImageFormat() == TImageFormat::PE32 ? "PE32" : "PE32+";
  Facts.Machine = MachineName(Image.Machine());
  Facts.Subsystem = Image.Subsystem();
  if (const auto Version = Image.FindResource(TResourceKey::ById(RT_VERSION), {})) {
    // The root block counts at most 64 KiB; anything beyond is not part of it.
    TFileRange Head = *Version;
    Head.Size = std::min<int64_t>(Head.Size, MaxVersionResourceBytes);
    const TVersionInfo Info =
        DecodeVersionInfo(Image.ReadRange(Head, MaxVersionResourceBytes, "version resource"));
    Facts.FileVersion = Info.String("FileVersion");
    Facts.ProductVersion = Info.String("ProductVersion");
    if (Info.FixedFileVersion) Facts.FixedFileVersion = VersionText(*Info.FixedFileVersion);
    if (Info.FixedProductVersion)
      Facts.FixedProductVersion = VersionText(*Info.FixedProductVersion);
  }
  if (const auto Manifest = Image.FindResource(TResourceKey::ById(RT_MANIFEST), {})) {
    const std::vector<uint8_t> Bytes = Image.ReadRange(*Manifest, MaxManifestBytes, "manifest");
    Facts.ExecutionLevel = RequestedExecutionLevel(
        std::string_view(reinterpret_cast<const char*>(Bytes.data()), Bytes.size()));
  }
  if (const auto Table = Image.CertificateTable()) {
    Facts.SignatureBytes = Table->Size;
    try {
      Facts.SignerSubject = SignerSubject(Image);
    } catch (const EPEFormatError& E) {
      Facts.SignerProblem = E.Message();
    }
  }
  return Facts;
}

}  // namespace kv::pe
