// A reader of Windows PE images made for hostile input.
#include "PEImage.h"

#include <algorithm>
#include <array>
#include <set>

#include "PEMessages.h"
#include "konvoro/Binary.h"
#include "konvoro/Format.h"
#include "konvoro/Text.h"

namespace kv::pe {

namespace {

constexpr uint32_t HighBit = 0x80000000u;

std::string Dec(uint64_t Value) {
  return std::to_string(Value);
}

}  // namespace

std::string Hex(uint64_t Value) {
  std::string Digits;
  do {
    Digits.insert(Digits.begin(), "0123456789ABCDEF"[Value & 0xF]);
    Value >>= 4;
  } while (Value != 0);
  return "0x" + Digits;
}

bool StartsAsExecutable(TStream& Stream) {
  char Magic[2] = {};
  if (Stream.Seek(0, TSeekOrigin::soBeginning) != 0) return false;
  return Stream.Read(Magic, 2) == 2 && Magic[0] == 'M' && Magic[1] == 'Z';
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
  if (GetU32LE(Coff.data()) != 0x00004550)
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
    // A section spans its virtual size in memory; some linkers leave that 0.
    const int64_t Span = S.VirtualSize != 0 ? S.VirtualSize : S.SizeOfRawData;
    const int64_t Into = int64_t(Rva) - S.VirtualAddress;
    if (Into < 0 || Into >= Span) continue;
    // What lies beyond the section's data in the file is zeros in memory:
    // no resource is kept there.
    if (!RangeInside(Into, Size, S.SizeOfRawData))
      throw EPEFormatError(Format(messages::SRvaPastSectionData, What, Hex(Rva), Dec(Size)));
    return int64_t(S.PointerToRawData) + Into;
  }
  throw EPEFormatError(Format(messages::SRvaInNoSection, What, Hex(Rva), Dec(Size)));
}

bool TPEImage::NameMatches(uint32_t NameOffset, std::string_view Name) const {
  if (!RangeInside(NameOffset, 2, FResourceLength))
    throw EPEFormatError(
        Format(messages::SResourcePastSection, "a resource name", Hex(NameOffset)));
  uint8_t Length[2];
  ReadAt(FResourceBase + NameOffset, Length, 2, "resource name");
  const uint16_t Chars = GetU16LE(Length);
  if (!RangeInside(int64_t(NameOffset) + 2, int64_t(Chars) * 2, FResourceLength))
    throw EPEFormatError(
        Format(messages::SResourcePastSection, "a resource name", Hex(NameOffset)));
  // Only a name as long as the one sought is read, so the read is bounded
  // by the caller's name, not by the file.
  if (size_t(Chars) != Name.size()) return false;
  std::array<uint8_t, 2 * 64> Units{};
  for (size_t Done = 0; Done < Chars;) {
    const size_t Now = std::min<size_t>(Chars - Done, Units.size() / 2);
    ReadAt(FResourceBase + NameOffset + 2 + int64_t(Done * 2), Units.data(), Now * 2,
           "resource name");
    for (size_t I = 0; I < Now; ++I) {
      const uint16_t Unit = GetU16LE(&Units[I * 2]);
      if (Unit > 0x7F || UpCase(char(Unit)) != UpCase(Name[Done + I])) return false;
    }
    Done += Now;
  }
  return true;
}

void TPEImage::VisitEntries(uint32_t DirOffset, TResourceKey Key,
                            const std::function<bool(const TEntry&)>& Visit) const {
  namespace L = resource_layout;
  if (!RangeInside(DirOffset, L::DirectorySize, FResourceLength))
    throw EPEFormatError(
        Format(messages::SResourcePastSection, "the resource directory", Hex(DirOffset)));
  std::array<uint8_t, L::DirectorySize> Header{};
  ReadAt(FResourceBase + DirOffset, Header.data(), Header.size(), "resource directory");
  const uint32_t Named = GetU16LE(&Header[L::NamedEntries]);
  const uint32_t Count = Named + GetU16LE(&Header[L::IdEntries]);
  if (!RangeInside(int64_t(DirOffset) + L::DirectorySize, int64_t(Count) * L::EntrySize,
                   FResourceLength))
    throw EPEFormatError(Format(messages::SResourceEntryCount, Hex(DirOffset), Dec(Count)));

  // Entries are read a few dozen at a time.
  std::array<uint8_t, 32 * L::EntrySize> Chunk{};
  for (uint32_t First = 0; First < Count; First += 32) {
    const uint32_t Now = std::min<uint32_t>(Count - First, 32);
    ReadAt(FResourceBase + DirOffset + L::DirectorySize + int64_t(First) * L::EntrySize,
           Chunk.data(), Now * L::EntrySize, "resource directory");
    for (uint32_t I = 0; I < Now; ++I) {
      const TEntry Entry{GetU32LE(&Chunk[I * L::EntrySize + L::EntryName]),
                         GetU32LE(&Chunk[I * L::EntrySize + L::EntryOffset])};
      const bool IsNamed = (Entry.Name & HighBit) != 0;
      bool Matches = false;
      switch (Key.Kind) {
        case TResourceKey::TKind::First:
          Matches = true;
          break;
        case TResourceKey::TKind::Id:
          Matches = !IsNamed && Entry.Name == Key.Id;
          break;
        case TResourceKey::TKind::Name:
          Matches = IsNamed && NameMatches(Entry.Name & ~HighBit, Key.Name);
          break;
      }
      if (Matches && !Visit(Entry)) return;
    }
  }
}

bool TPEImage::Walk(int Level, uint32_t DirOffset, std::array<uint32_t, ResourceLevels>& Path,
                    const std::array<TResourceKey, ResourceLevels>& Keys, size_t Limit,
                    std::vector<TResourceData>& Found) const {
  namespace L = resource_layout;
  Path[size_t(Level)] = DirOffset;
  bool GoOn = true;
  VisitEntries(DirOffset, Keys[size_t(Level)], [&](const TEntry& Entry) {
    const bool IsDirectory = (Entry.Offset & HighBit) != 0;
    const uint32_t Target = Entry.Offset & ~HighBit;
    if (Level + 1 < ResourceLevels) {
      if (!IsDirectory)
        throw EPEFormatError(Format(messages::SResourceDataTooHigh, Dec(uint64_t(Level + 1))));
      // A loop must lead back to a directory on the way down; the three
      // levels bound the walk even without this check.
      if (std::find(Path.begin(), Path.begin() + Level + 1, Target) != Path.begin() + Level + 1)
        throw EPEFormatError(Format(messages::SResourceLoop, Hex(Target)));
      GoOn = Walk(Level + 1, Target, Path, Keys, Limit, Found);
      return GoOn;
    }
    if (IsDirectory) throw EPEFormatError(messages::SResourceTooDeep);
    if (!RangeInside(Target, L::DataEntrySize, FResourceLength))
      throw EPEFormatError(
          Format(messages::SResourcePastSection, "a resource data entry", Hex(Target)));
    std::array<uint8_t, L::DataEntrySize> Data{};
    ReadAt(FResourceBase + Target, Data.data(), Data.size(), "resource data entry");
    const uint32_t Rva = GetU32LE(&Data[L::DataRva]);
    const uint32_t Size = GetU32LE(&Data[L::DataSize]);
    const bool NamedLanguage = (Entry.Name & HighBit) != 0;
    Found.push_back({TFileRange{RvaToFileOffset(Rva, Size, "resource data"), Size},
                     NamedLanguage ? std::nullopt : std::optional<uint32_t>(Entry.Name)});
    GoOn = Found.size() < Limit;
    return GoOn;
  });
  return GoOn;
}

std::vector<TResourceData> TPEImage::FindResources(TResourceKey Type, TResourceKey Name,
                                                   size_t Limit) const {
  std::vector<TResourceData> Found;
  if (Directory(ResourceDirectory).Address == 0 || Limit == 0) return Found;
  std::array<uint32_t, ResourceLevels> Path{};
  Walk(0, 0, Path, {Type, Name, TResourceKey::AnyFirst()}, Limit, Found);
  return Found;
}

std::optional<TFileRange> TPEImage::FindResource(TResourceKey Type, TResourceKey Name) const {
  const std::vector<TResourceData> Found = FindResources(Type, Name, 1);
  if (Found.empty()) return std::nullopt;
  return Found.front().Range;
}

std::vector<TPEImage::TEntry> TPEImage::ReadEntries(uint32_t DirOffset) const {
  namespace L = resource_layout;
  if (!RangeInside(DirOffset, L::DirectorySize, FResourceLength))
    throw EPEFormatError(
        Format(messages::SResourcePastSection, "the resource directory", Hex(DirOffset)));
  std::array<uint8_t, L::DirectorySize> Header{};
  ReadAt(FResourceBase + DirOffset, Header.data(), Header.size(), "resource directory");
  const uint32_t Count =
      uint32_t(GetU16LE(&Header[L::NamedEntries])) + GetU16LE(&Header[L::IdEntries]);
  // Checked before anything is allocated for them.
  if (!RangeInside(int64_t(DirOffset) + L::DirectorySize, int64_t(Count) * L::EntrySize,
                   FResourceLength))
    throw EPEFormatError(Format(messages::SResourceEntryCount, Hex(DirOffset), Dec(Count)));
  std::vector<uint8_t> Bytes(size_t(Count) * L::EntrySize);
  if (Count != 0)
    ReadAt(FResourceBase + DirOffset + L::DirectorySize, Bytes.data(), Bytes.size(),
           "resource directory");
  std::vector<TEntry> Entries;
  for (size_t I = 0; I < Count; ++I)
    Entries.push_back({GetU32LE(&Bytes[I * L::EntrySize + L::EntryName]),
                       GetU32LE(&Bytes[I * L::EntrySize + L::EntryOffset])});
  return Entries;
}

std::u16string TPEImage::ReadName(uint32_t NameOffset) const {
  if (!RangeInside(NameOffset, 2, FResourceLength))
    throw EPEFormatError(
        Format(messages::SResourcePastSection, "a resource name", Hex(NameOffset)));
  uint8_t Length[2];
  ReadAt(FResourceBase + NameOffset, Length, 2, "resource name");
  const uint16_t Chars = GetU16LE(Length);
  if (!RangeInside(int64_t(NameOffset) + 2, int64_t(Chars) * 2, FResourceLength))
    throw EPEFormatError(
        Format(messages::SResourcePastSection, "a resource name", Hex(NameOffset)));
  std::vector<uint8_t> Units(size_t(Chars) * 2);
  if (Chars != 0)
    ReadAt(FResourceBase + NameOffset + 2, Units.data(), Units.size(), "resource name");
  std::u16string Name;
  for (size_t I = 0; I < Chars; ++I)
    Name += char16_t(GetU16LE(&Units[I * 2]));
  return Name;
}

void TPEImage::AddLeaves(int Level, uint32_t DirOffset, std::vector<TResourceId>& Path,
                         std::set<uint32_t>& Visited, std::vector<TResourceLeaf>& Leaves) const {
  namespace L = resource_layout;
  for (const TEntry& Entry : ReadEntries(DirOffset)) {
    TResourceId Id = (Entry.Name & HighBit) != 0
                         ? TResourceId::ByName(ReadName(Entry.Name & ~HighBit))
                         : TResourceId::ById(Entry.Name);
    const bool IsDirectory = (Entry.Offset & HighBit) != 0;
    const uint32_t Target = Entry.Offset & ~HighBit;
    if (Level + 1 < ResourceLevels) {
      if (!IsDirectory)
        throw EPEFormatError(Format(messages::SResourceDataTooHigh, Dec(uint64_t(Level + 1))));
      // Every directory once: this also ends any loop, and keeps the walk
      // within the entries the section holds.
      if (!Visited.insert(Target).second)
        throw EPEFormatError(Format(messages::SResourceReachedTwice, Hex(Target)));
      Path.push_back(std::move(Id));
      AddLeaves(Level + 1, Target, Path, Visited, Leaves);
      Path.pop_back();
      continue;
    }
    if (IsDirectory) throw EPEFormatError(messages::SResourceTooDeep);
    if (!RangeInside(Target, L::DataEntrySize, FResourceLength))
      throw EPEFormatError(
          Format(messages::SResourcePastSection, "a resource data entry", Hex(Target)));
    std::array<uint8_t, L::DataEntrySize> Data{};
    ReadAt(FResourceBase + Target, Data.data(), Data.size(), "resource data entry");
    const uint32_t Rva = GetU32LE(&Data[L::DataRva]);
    const uint32_t Size = GetU32LE(&Data[L::DataSize]);
    Leaves.push_back({Path[0], Path[1], std::move(Id), GetU32LE(&Data[L::DataCodePage]),
                      TFileRange{RvaToFileOffset(Rva, Size, "resource data"), Size}});
  }
}

std::vector<TResourceLeaf> TPEImage::ResourceLeaves() const {
  std::vector<TResourceLeaf> Leaves;
  if (Directory(ResourceDirectory).Address == 0) return Leaves;
  std::vector<TResourceId> Path;
  std::set<uint32_t> Visited{0};
  AddLeaves(0, 0, Path, Visited, Leaves);
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
