// A reader of Windows PE images made for hostile input.
#include "PEImage.h"

#include <algorithm>
#include <array>
#include <map>
#include <stdexcept>

#include "PEMessages.h"
#include "konvoro/Binary.h"
#include "konvoro/Format.h"
#include "konvoro/Text.h"
#include "konvoro/Unicode.h"

namespace kv::pe {

namespace {

using resource_layout::HighBit;

// Count bytes at Offset of Stream, all of them, or false.
bool ReadExactly(TStream& Stream, int64_t Offset, void* Buffer, size_t Count) {
  return Stream.Seek(Offset, TSeekOrigin::soBeginning) == Offset &&
         Stream.Read(Buffer, int32_t(Count)) == int32_t(Count);
}

}  // namespace

std::string Dec(uint64_t Value) {
  return std::to_string(Value);
}

std::string Hex(uint64_t Value) {
  std::string Digits;
  do {
    Digits.insert(Digits.begin(), "0123456789ABCDEF"[Value & 0xF]);
    Value >>= 4;
  } while (Value != 0);
  return "0x" + Digits;
}

uint64_t Span(const TSection& S) {
  return S.VirtualSize != 0 ? S.VirtualSize : S.SizeOfRawData;
}

TResourceKey TResourceKey::ByName(std::string_view Utf8) {
  std::optional<std::u16string> Name = Utf8ToUtf16(Utf8);
  if (!Name) throw std::invalid_argument("a resource name that is not UTF-8");
  return {TKind::Name, 0, std::move(*Name)};
}

bool StartsAsExecutable(TStream& Stream) {
  char Magic[2] = {};
  return ReadExactly(Stream, 0, Magic, 2) && Magic[0] == 'M' && Magic[1] == 'Z';
}

bool BeginsAsImage(TStream& Stream) {
  const int64_t Size = Stream.GetSize();
  std::array<uint8_t, dos_layout::Size> Dos{};
  if (Size < int64_t(Dos.size()) || !ReadExactly(Stream, 0, Dos.data(), Dos.size()) ||
      GetU16LE(&Dos[dos_layout::Magic]) != 0x5A4D)
    return false;
  const uint32_t NewHeader = GetU32LE(&Dos[dos_layout::NewHeader]);
  std::array<uint8_t, 4> Signature{};
  return RangeInside(NewHeader, 4, Size) &&
         ReadExactly(Stream, NewHeader, Signature.data(), Signature.size()) &&
         GetU32LE(Signature.data()) == pe_layout::Signature;
}

void TPEImage::ReadAt(int64_t Offset, void* Buffer, size_t Count, std::string_view What) const {
  if (!RangeInside(Offset, int64_t(Count), FFileSize) ||
      FStream.Seek(Offset, TSeekOrigin::soBeginning) != Offset ||
      FStream.Read(Buffer, int32_t(Count)) != int32_t(Count))
    throw EPEFormatError(Format(messages::SFileEndsWithin, What, Hex(uint64_t(Offset))));
}

TPEImage::TPEImage(TStream& Stream) : FStream(Stream), FFileSize(Stream.GetSize()) {
  std::array<uint8_t, dos_layout::Size> Dos{};
  ReadAt(0, Dos.data(), Dos.size(), "MS-DOS header");
  if (GetU16LE(&Dos[dos_layout::Magic]) != 0x5A4D) throw EPEFormatError(messages::SNotExecutable);
  const uint32_t NewHeader = GetU32LE(&Dos[dos_layout::NewHeader]);
  if (!RangeInside(NewHeader, 4, FFileSize))
    throw EPEFormatError(Format(messages::SNewHeaderPastEnd, Hex(NewHeader), Dec(FFileSize)));
  std::array<uint8_t, 4 + coff_layout::Size> Coff{};
  ReadAt(NewHeader, Coff.data(), 4, "PE signature");
  if (GetU32LE(Coff.data()) != pe_layout::Signature)
    throw EPEFormatError(Format(messages::SNoPESignature, Hex(NewHeader)));
  ReadAt(NewHeader, Coff.data(), Coff.size(), "COFF header");
  const uint8_t* C = Coff.data() + 4;
  FMachine = GetU16LE(C + coff_layout::Machine);
  const uint16_t SectionCount = GetU16LE(C + coff_layout::NumberOfSections);
  const uint16_t OptionalSize = GetU16LE(C + coff_layout::SizeOfOptionalHeader);

  // The optional header: only the part up to the sixteenth data directory is
  // read; a larger header is allowed, a smaller one must hold what it counts.
  const int64_t OptionalOffset = int64_t(NewHeader) + int64_t(Coff.size());
  std::array<uint8_t, optional_layout::MaxSize> Optional{};
  const size_t OptionalRead = std::min<size_t>(OptionalSize, Optional.size());
  if (OptionalRead < 2)
    throw EPEFormatError(Format(messages::SOptionalHeaderTooSmall, Dec(OptionalSize), "2"));
  ReadAt(OptionalOffset, Optional.data(), OptionalRead, "optional header");
  const uint16_t Magic = GetU16LE(&Optional[optional_layout::Magic]);
  size_t CountAt = 0;
  if (Magic == optional_layout::MagicPE32) {
    FFormat = TImageFormat::PE32;
    CountAt = optional_layout::DirectoryCountPE32;
  } else if (Magic == optional_layout::MagicPE32Plus) {
    FFormat = TImageFormat::PE32Plus;
    CountAt = optional_layout::DirectoryCountPE32Plus;
  } else {
    throw EPEFormatError(Format(messages::SUnknownOptionalMagic, Hex(Magic)));
  }
  if (OptionalSize < CountAt + 4)
    throw EPEFormatError(
        Format(messages::SOptionalHeaderTooSmall, Dec(OptionalSize), Dec(CountAt + 4)));
  FSubsystem = GetU16LE(&Optional[optional_layout::Subsystem]);
  FLayout.OptionalHeader = OptionalOffset;
  FLayout.SectionAlignment = GetU32LE(&Optional[optional_layout::SectionAlignment]);
  FLayout.FileAlignment = GetU32LE(&Optional[optional_layout::FileAlignment]);
  // Windows reads at most sixteen directories, whatever the count claims.
  const size_t Directories =
      std::min<uint32_t>(GetU32LE(&Optional[CountAt]), optional_layout::MaxDirectories);
  const size_t DirectoriesEnd = CountAt + 4 + Directories * optional_layout::DirectorySize;
  if (OptionalSize < DirectoriesEnd)
    throw EPEFormatError(
        Format(messages::SOptionalHeaderTooSmall, Dec(OptionalSize), Dec(DirectoriesEnd)));
  for (size_t I = 0; I < Directories; ++I) {
    const uint8_t* D = &Optional[CountAt + 4 + I * optional_layout::DirectorySize];
    FDirectories.push_back({GetU32LE(D), GetU32LE(D + 4)});
  }
  FLayout.Directories = OptionalOffset + int64_t(CountAt) + 4;
  FLayout.DirectoryCount = Directories;

  if (SectionCount > MaxSections)
    throw EPEFormatError(Format(messages::STooManySections, Dec(SectionCount)));
  const int64_t TableOffset = OptionalOffset + OptionalSize;
  FLayout.SectionTable = TableOffset;
  for (size_t I = 0; I < SectionCount; ++I) {
    std::array<uint8_t, section_layout::Size> S{};
    ReadAt(TableOffset + int64_t(I * S.size()), S.data(), S.size(), "section table");
    TSection Section;
    const auto* Name = reinterpret_cast<const char*>(&S[section_layout::Name]);
    Section.Name.assign(Name, std::find(Name, Name + 8, '\0'));
    Section.VirtualSize = GetU32LE(&S[section_layout::VirtualSize]);
    Section.VirtualAddress = GetU32LE(&S[section_layout::VirtualAddress]);
    Section.SizeOfRawData = GetU32LE(&S[section_layout::SizeOfRawData]);
    Section.PointerToRawData = GetU32LE(&S[section_layout::PointerToRawData]);
    Section.Characteristics = GetU32LE(&S[section_layout::Characteristics]);
    if (Section.SizeOfRawData != 0 &&
        !RangeInside(Section.PointerToRawData, Section.SizeOfRawData, FFileSize))
      throw EPEFormatError(Format(messages::SSectionPastEnd, Dec(I + 1), Section.Name));
    FSections.push_back(std::move(Section));
  }

  const TDataDirectory Resources = Directory(ResourceDirectory);
  if (Resources.Address != 0) {
    FResourceBase = RvaToFileOffset(Resources.Address, resource_layout::DirectorySize,
                                    "the resource directory");
    // Offsets in the tree count from its start; its nodes and names must lie
    // in the rest of its section's data.
    for (const TSection& S : FSections)
      if (FResourceBase >= S.PointerToRawData &&
          FResourceBase - S.PointerToRawData < S.SizeOfRawData)
        FResourceLength = int64_t(S.PointerToRawData) + S.SizeOfRawData - FResourceBase;
  }
}

TDataDirectory TPEImage::Directory(size_t Index) const {
  return Index < FDirectories.size() ? FDirectories[Index] : TDataDirectory{};
}

int64_t TPEImage::RvaToFileOffset(uint32_t Rva, uint32_t Size, std::string_view What) const {
  for (const TSection& S : FSections) {
    const int64_t Into = int64_t(Rva) - S.VirtualAddress;
    // Nothing lies at a section's end; an empty resource may (resource
    // compilers and the writer put the last one's data there).
    if (Into < 0 || Into > int64_t(Span(S)) || (Into == int64_t(Span(S)) && Size != 0)) continue;
    // What lies beyond the section's data in the file is zeros in memory:
    // no resource is kept there.
    if (!RangeInside(Into, Size, S.SizeOfRawData))
      throw EPEFormatError(Format(messages::SRvaPastSectionData, What, Hex(Rva), Dec(Size)));
    return int64_t(S.PointerToRawData) + Into;
  }
  throw EPEFormatError(Format(messages::SRvaInNoSection, What, Hex(Rva), Dec(Size)));
}

// The bytes that the nodes of a resource tree occupy, so that no two share
// any: each is then read once, and together they are no more than the
// section holds.
class TPEImage::TNodeClaims {
 public:
  // Claims Size bytes at Offset for a node (What: "resource directory",
  // "resource data entry"); raises EPEFormatError when a node claimed before
  // holds any of them.
  void Claim(uint32_t Offset, int64_t Size, const char* What) {
    const int64_t Start = Offset, End = Start + Size;
    auto After = FHeld.upper_bound(Start);
    const bool Overlaps = (After != FHeld.end() && After->first < End) ||
                          (After != FHeld.begin() && std::prev(After)->second > Start);
    if (Overlaps) {
      const bool Same = After != FHeld.begin() && std::prev(After)->first == Start;
      throw EPEFormatError(Format(
          Same ? messages::SResourceReachedTwice : messages::SResourceOverlaps, What, Hex(Offset)));
    }
    FHeld.emplace_hint(After, Start, End);
  }

 private:
  std::map<int64_t, int64_t> FHeld;  // start -> end
};

void TPEImage::WalkResources(const TVisit& Visit) const {
  if (Directory(ResourceDirectory).Address == 0) return;
  TNodeClaims Claims;
  std::array<uint32_t, ResourceLevels> Path{};
  WalkDirectory(0, 0, Path, Claims, Visit);
}

void TPEImage::WalkDirectory(int Level, uint32_t DirOffset,
                             std::array<uint32_t, ResourceLevels>& Path, TNodeClaims& Claims,
                             const TVisit& Visit) const {
  namespace L = resource_layout;
  if (!RangeInside(DirOffset, L::DirectorySize, FResourceLength))
    throw EPEFormatError(
        Format(messages::SResourcePastSection, "the resource directory", Hex(DirOffset)));
  std::array<uint8_t, L::DirectorySize> Header{};
  ReadAt(FResourceBase + DirOffset, Header.data(), Header.size(), "resource directory");
  const uint32_t Count =
      uint32_t(GetU16LE(&Header[L::NamedEntries])) + GetU16LE(&Header[L::IdEntries]);
  if (!RangeInside(int64_t(DirOffset) + L::DirectorySize, int64_t(Count) * L::EntrySize,
                   FResourceLength))
    throw EPEFormatError(Format(messages::SResourceEntryCount, Hex(DirOffset), Dec(Count)));
  Claims.Claim(DirOffset, L::DirectorySize + int64_t(Count) * L::EntrySize, "resource directory");
  Path[size_t(Level)] = DirOffset;

  // Entries are read a few dozen at a time.
  constexpr uint32_t ChunkEntries = 32;
  std::array<uint8_t, ChunkEntries * L::EntrySize> Chunk{};
  for (uint32_t First = 0; First < Count; First += ChunkEntries) {
    const uint32_t Now = std::min(Count - First, ChunkEntries);
    ReadAt(FResourceBase + DirOffset + L::DirectorySize + int64_t(First) * L::EntrySize,
           Chunk.data(), Now * L::EntrySize, "resource directory");
    for (uint32_t I = 0; I < Now; ++I) {
      const TEntry Entry{GetU32LE(&Chunk[I * L::EntrySize + L::EntryName]),
                         GetU32LE(&Chunk[I * L::EntrySize + L::EntryOffset])};
      const bool IsDirectory = (Entry.Offset & HighBit) != 0;
      const uint32_t Target = Entry.Offset & ~HighBit;
      if (Level + 1 < ResourceLevels) {
        if (!IsDirectory)
          throw EPEFormatError(Format(messages::SResourceDataTooHigh, Dec(uint64_t(Level + 1))));
        // A loop is told as such; the claims would refuse it too.
        if (std::find(Path.begin(), Path.begin() + Level + 1, Target) != Path.begin() + Level + 1)
          throw EPEFormatError(Format(messages::SResourceLoop, Hex(Target)));
        Visit(Level, Entry, nullptr);
        WalkDirectory(Level + 1, Target, Path, Claims, Visit);
        continue;
      }
      if (IsDirectory) throw EPEFormatError(messages::SResourceTooDeep);
      if (!RangeInside(Target, L::DataEntrySize, FResourceLength))
        throw EPEFormatError(
            Format(messages::SResourcePastSection, "a resource data entry", Hex(Target)));
      Claims.Claim(Target, L::DataEntrySize, "resource data entry");
      std::array<uint8_t, L::DataEntrySize> Data{};
      ReadAt(FResourceBase + Target, Data.data(), Data.size(), "resource data entry");
      const uint32_t Rva = GetU32LE(&Data[L::DataRva]);
      const uint32_t Size = GetU32LE(&Data[L::DataSize]);
      const TDataEntry Leaf{TFileRange{RvaToFileOffset(Rva, Size, "resource data"), Size},
                            GetU32LE(&Data[L::DataCodePage])};
      Visit(Level, Entry, &Leaf);
    }
  }
}

uint16_t TPEImage::NameLength(uint32_t NameOffset) const {
  if (!RangeInside(NameOffset, 2, FResourceLength))
    throw EPEFormatError(
        Format(messages::SResourcePastSection, "a resource name", Hex(NameOffset)));
  uint8_t Length[2];
  ReadAt(FResourceBase + NameOffset, Length, 2, "resource name");
  const uint16_t Chars = GetU16LE(Length);
  if (!RangeInside(int64_t(NameOffset) + 2, int64_t(Chars) * 2, FResourceLength))
    throw EPEFormatError(
        Format(messages::SResourcePastSection, "a resource name", Hex(NameOffset)));
  return Chars;
}

bool TPEImage::Matches(const TResourceKey& Key, uint32_t Field) const {
  const bool IsNamed = (Field & HighBit) != 0;
  switch (Key.Kind) {
    case TResourceKey::TKind::First:
      return true;
    case TResourceKey::TKind::Id:
      return !IsNamed && Field == Key.Id;
    case TResourceKey::TKind::Name:
      break;
  }
  if (!IsNamed) return false;
  const uint32_t NameOffset = Field & ~HighBit;
  // Only a name as long as the one sought is read, so the read is bounded
  // by the caller's name, not by the file.
  const uint16_t Chars = NameLength(NameOffset);
  if (Chars != Key.Name.size()) return false;
  std::array<uint8_t, 2 * 64> Units{};
  for (size_t Done = 0; Done < Chars;) {
    const size_t Now = std::min<size_t>(Chars - Done, Units.size() / 2);
    ReadAt(FResourceBase + NameOffset + 2 + int64_t(Done * 2), Units.data(), Now * 2,
           "resource name");
    for (size_t I = 0; I < Now; ++I)
      if (UpcaseForNames(GetU16LE(&Units[I * 2])) != UpcaseForNames(Key.Name[Done + I]))
        return false;
    Done += Now;
  }
  return true;
}

TResourceId TPEImage::ReadId(uint32_t Field, size_t& Budget) const {
  if ((Field & HighBit) == 0) return TResourceId::ById(Field);
  const uint32_t NameOffset = Field & ~HighBit;
  const uint16_t Chars = NameLength(NameOffset);
  if (Chars > Budget)
    throw EPEFormatError(Format(messages::SResourceNamesTooLong, Dec(MaxResourceNameUnits)));
  Budget -= Chars;
  std::vector<uint8_t> Units(size_t(Chars) * 2);
  if (Chars != 0)
    ReadAt(FResourceBase + NameOffset + 2, Units.data(), Units.size(), "resource name");
  std::u16string Name;
  for (size_t I = 0; I < Chars; ++I)
    Name += char16_t(GetU16LE(&Units[I * 2]));
  return TResourceId::ByName(std::move(Name));
}

std::vector<TResourceData> TPEImage::FindResources(const TResourceKey& Type,
                                                   const TResourceKey& Name, size_t Limit) const {
  std::vector<TResourceData> Found;
  // Whether the type, and the name below it, on the way down match.
  bool TypeMatches = false, NameMatches = false;
  WalkResources([&](int Level, const TEntry& Entry, const TDataEntry* Data) {
    if (Level == 0) {
      TypeMatches = Matches(Type, Entry.Name);
    } else if (Level == 1) {
      NameMatches = TypeMatches && Matches(Name, Entry.Name);
    } else if (NameMatches && Found.size() < Limit) {
      const bool NamedLanguage = (Entry.Name & HighBit) != 0;
      Found.push_back(
          {Data->Data, NamedLanguage ? std::nullopt : std::optional<uint32_t>(Entry.Name)});
    }
  });
  return Found;
}

std::optional<TFileRange> TPEImage::FindResource(const TResourceKey& Type,
                                                 const TResourceKey& Name) const {
  const std::vector<TResourceData> Found = FindResources(Type, Name, 1);
  if (Found.empty()) return std::nullopt;
  return Found.front().Range;
}

std::vector<TResourceLeaf> TPEImage::ResourceLeaves() const {
  std::vector<TResourceLeaf> Leaves;
  std::array<TResourceId, ResourceLevels - 1> Path;
  // Every name read and every copy handed out counts, so that names shared
  // by many entries cost what they would cost apart.
  size_t Budget = MaxResourceNameUnits;
  WalkResources([&](int Level, const TEntry& Entry, const TDataEntry* Data) {
    if (Level < ResourceLevels - 1) {
      Path[size_t(Level)] = ReadId(Entry.Name, Budget);
      return;
    }
    const size_t Copied = Path[0].Name.size() + Path[1].Name.size();
    if (Copied > Budget)
      throw EPEFormatError(Format(messages::SResourceNamesTooLong, Dec(MaxResourceNameUnits)));
    Budget -= Copied;
    Leaves.push_back({Path[0], Path[1], ReadId(Entry.Name, Budget), Data->CodePage, Data->Data});
  });
  return Leaves;
}

std::optional<TFileRange> TPEImage::CertificateTable() const {
  const TDataDirectory Table = Directory(CertificateDirectory);
  if (Table.Address == 0 && Table.Size == 0) return std::nullopt;
  if (Table.Address == 0 || !RangeInside(Table.Address, Table.Size, FFileSize))
    throw EPEFormatError(
        Format(messages::SCertificatesPastEnd, Hex(Table.Address), Dec(Table.Size)));
  return TFileRange{Table.Address, Table.Size};
}

std::vector<uint8_t> TPEImage::ReadRange(TFileRange Range, size_t MaxBytes,
                                         std::string_view What) const {
  if (Range.Size > int64_t(MaxBytes))
    throw EPEFormatError(
        Format(messages::SResourceTooLarge, What, Dec(uint64_t(Range.Size)), Dec(MaxBytes)));
  std::vector<uint8_t> Bytes(size_t(Range.Size));
  if (!Bytes.empty()) ReadAt(Range.Offset, Bytes.data(), Bytes.size(), What);
  return Bytes;
}

namespace {

struct TSubsystemName {
  uint16_t Code;
  const char* Key;
  const char* Text;
};
constexpr TSubsystemName SubsystemNames[] = {
    {1, "native", "native"},
    {2, "gui", "Windows GUI"},
    {3, "console", "Windows console"},
    {5, "os2-console", "OS/2 console"},
    {7, "posix-console", "POSIX console"},
    {9, "windows-ce-gui", "Windows CE GUI"},
    {10, "efi-application", "EFI application"},
    {11, "efi-boot-service-driver", "EFI boot service driver"},
    {12, "efi-runtime-driver", "EFI runtime driver"},
    {13, "efi-rom", "EFI ROM"},
    {14, "xbox", "Xbox"},
    {16, "windows-boot-application", "Windows boot application"},
};

}  // namespace

std::string MachineName(uint16_t Machine) {
  switch (Machine) {
    case 0x014C:
      return "i386";
    case 0x8664:
      return "x86-64";
    case 0x01C4:
      return "arm";
    case 0xAA64:
      return "arm64";
    default:
      return Hex(Machine);
  }
}

std::string SubsystemName(uint16_t Subsystem) {
  for (const TSubsystemName& N : SubsystemNames)
    if (N.Code == Subsystem) return N.Key;
  return Dec(Subsystem);
}

std::string SubsystemText(uint16_t Subsystem) {
  for (const TSubsystemName& N : SubsystemNames)
    if (N.Code == Subsystem) return N.Text;
  return "subsystem " + Dec(Subsystem);
}

}  // namespace kv::pe
