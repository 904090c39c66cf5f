// A reader of Windows PE images (programs and DLLs, PE32 and PE32+) made
// for files nobody vouches for: headers, sections, the resource tree and the
// certificate table, read in small fixed pieces through a stream. Every
// offset, size and count is checked against the file before it is used, in
// 64-bit arithmetic, and nothing is allocated in proportion to a number read
// from the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "konvoro/Exceptions.h"
#include "konvoro/Streams.h"

namespace kv::pe {

// What is wrong with an image, in a short text without the file's name.
class EPEFormatError : public Exception {
  using Exception::Exception;
};

// Field offsets of the records as stored, little-endian throughout.
namespace pe_layout {
inline constexpr uint32_t Signature = 0x00004550;  // "PE\0\0"
}  // namespace pe_layout

namespace dos_layout {
inline constexpr size_t Magic = 0;       // "MZ"
inline constexpr size_t NewHeader = 60;  // e_lfanew: file offset of "PE\0\0"
inline constexpr size_t Size = 64;
static_assert(NewHeader + 4 == Size);
}  // namespace dos_layout

namespace coff_layout {  // follows the 4-byte signature "PE\0\0"
inline constexpr size_t Machine = 0;
inline constexpr size_t NumberOfSections = 2;
inline constexpr size_t SizeOfOptionalHeader = 16;
inline constexpr size_t Characteristics = 18;
inline constexpr size_t Size = 20;
static_assert(Characteristics + 2 == Size);
}  // namespace coff_layout

namespace optional_layout {
inline constexpr size_t Magic = 0;
inline constexpr uint16_t MagicPE32 = 0x10B;
inline constexpr uint16_t MagicPE32Plus = 0x20B;
// These fields lie at the same offsets in both forms.
inline constexpr size_t SizeOfInitializedData = 8;
inline constexpr size_t SectionAlignment = 32;
inline constexpr size_t FileAlignment = 36;
inline constexpr size_t SizeOfImage = 56;
inline constexpr size_t CheckSum = 64;
inline constexpr size_t Subsystem = 68;
// NumberOfRvaAndSizes and the data directories, which follow it.
inline constexpr size_t DirectoryCountPE32 = 92;
inline constexpr size_t DirectoryCountPE32Plus = 108;
inline constexpr size_t DirectorySize = 8;  // RVA (or file offset) and size
inline constexpr size_t MaxDirectories = 16;
inline constexpr size_t MaxSize = DirectoryCountPE32Plus + 4 + MaxDirectories * DirectorySize;
static_assert(MaxSize == 240);
}  // namespace optional_layout

namespace section_layout {
inline constexpr size_t Name = 0;
inline constexpr size_t VirtualSize = 8;
inline constexpr size_t VirtualAddress = 12;
inline constexpr size_t SizeOfRawData = 16;
inline constexpr size_t PointerToRawData = 20;
inline constexpr size_t Characteristics = 36;
inline constexpr uint32_t InitializedData = 0x40;  // IMAGE_SCN_CNT_INITIALIZED_DATA
inline constexpr size_t Size = 40;
static_assert(Characteristics + 4 == Size);
}  // namespace section_layout

namespace resource_layout {
// A directory: its header, then its entries, named ones first.
inline constexpr size_t NamedEntries = 12;
inline constexpr size_t IdEntries = 14;
inline constexpr size_t DirectorySize = 16;
static_assert(IdEntries + 2 == DirectorySize);
// An entry: a name (high bit: offset of a counted UTF-16 string) or ID,
// then an offset (high bit: a subdirectory, else a data entry).
inline constexpr uint32_t HighBit = 0x80000000u;
inline constexpr size_t EntryName = 0;
inline constexpr size_t EntryOffset = 4;
inline constexpr size_t EntrySize = 8;
static_assert(EntryOffset + 4 == EntrySize);
// A data entry: the data's RVA (not an offset in the tree), size, code page.
inline constexpr size_t DataRva = 0;
inline constexpr size_t DataSize = 4;
inline constexpr size_t DataCodePage = 8;
inline constexpr size_t DataEntrySize = 16;
static_assert(DataCodePage + 8 == DataEntrySize);
}  // namespace resource_layout

// Indexes of the data directories read here.
inline constexpr size_t ResourceDirectory = 2;
// Its address is a file offset, not an RVA: the table is not loaded.
inline constexpr size_t CertificateDirectory = 4;
inline constexpr size_t BaseRelocationDirectory = 5;

// Resource types.
inline constexpr uint16_t RT_VERSION = 16;
inline constexpr uint16_t RT_MANIFEST = 24;

// Windows loads no image of more sections than this.
inline constexpr size_t MaxSections = 96;
// Resource trees have three levels: type, name, language.
inline constexpr int ResourceLevels = 3;
// The code units of resource names that one listing of an image's resources
// reads and hands out, all together; real images hold a few hundred.
inline constexpr size_t MaxResourceNameUnits = size_t(1) << 20;

enum class TImageFormat : uint8_t { PE32, PE32Plus };

struct TSection {
  std::string Name;  // up to 8 bytes, as stored without trailing NULs
  uint32_t VirtualSize = 0;
  uint32_t VirtualAddress = 0;
  uint32_t SizeOfRawData = 0;
  uint32_t PointerToRawData = 0;
  uint32_t Characteristics = 0;
};

// Where the headers lie in the file, and the alignments they declare: what
// a writer needs to lay out a changed image.
struct THeaderLayout {
  int64_t OptionalHeader = 0;  // file offset of the optional header
  int64_t Directories = 0;     // file offset of the first data directory
  size_t DirectoryCount = 0;   // directories present, at most sixteen
  int64_t SectionTable = 0;    // file offset of the first section header
  uint32_t SectionAlignment = 0;
  uint32_t FileAlignment = 0;
};

struct TDataDirectory {
  uint32_t Address = 0;
  uint32_t Size = 0;
};

// Bytes of the file: where they lie and how many.
struct TFileRange {
  int64_t Offset = 0;
  int64_t Size = 0;
};

// One resource's data, and the language it is filed under: an ID, or none
// when the language entry is a name.
struct TResourceData {
  TFileRange Range;
  std::optional<uint32_t> Language;
};

// A resource type or name to look for: an ID, a name or any there is.
// Names compare as Windows' loader compares them: UTF-16 code unit by code
// unit, each taken through UpcaseForNames, so "zlbdata" finds "ZLBDATA"
// and "ZLBDAT\u0141" does not.
struct TResourceKey {
  enum class TKind : uint8_t { Id, Name, First };
  TKind Kind = TKind::First;
  uint16_t Id = 0;
  std::u16string Name;

  static TResourceKey ById(uint16_t Value) { return {TKind::Id, Value, {}}; }
  static TResourceKey ByName(std::u16string_view Value) {
    return {TKind::Name, 0, std::u16string(Value)};
  }
  // Utf8, which must be well-formed UTF-8 (std::invalid_argument otherwise:
  // the names sought are the program's own).
  static TResourceKey ByName(std::string_view Utf8);
  static TResourceKey AnyFirst() { return {}; }
};

// A type, name or language as the resource tree holds it: a number, or a
// name of UTF-16 code units.
struct TResourceId {
  bool Named = false;
  uint32_t Id = 0;
  std::u16string Name;

  static TResourceId ById(uint32_t Value) { return {false, Value, {}}; }
  static TResourceId ByName(std::u16string Value) { return {true, 0, std::move(Value)}; }
  bool operator==(const TResourceId&) const = default;
};

// One resource of an image: where the tree files it and where its data lie.
struct TResourceLeaf {
  TResourceId Type;
  TResourceId Name;
  TResourceId Language;
  uint32_t CodePage = 0;
  TFileRange Data;
};

// The start of a file "claims" an executable image when it is "MZ": every
// Windows program and DLL, and MS-DOS programs, begin so.
bool StartsAsExecutable(TStream& Stream);
// True when Stream begins as a Windows image: "MZ", and the PE signature
// where e_lfanew points, inside the file. Such a file is an image, whole or
// malformed, and nothing else.
bool BeginsAsImage(TStream& Stream);

// Numbers in decimal; "0x" and the value in upper-case hexadecimal digits.
std::string Dec(uint64_t Value);
std::string Hex(uint64_t Value);
// N rounded up to a multiple of To (To > 0).
constexpr uint64_t AlignUp(uint64_t N, uint64_t To) {
  return (N + To - 1) / To * To;
}
// The bytes a section spans in memory; some linkers leave VirtualSize 0.
uint64_t Span(const TSection& Section);

// The headers of an image, read when constructed; resources and the
// certificate table are looked up on request. Stream must outlive the image
// and is read from anywhere (its position is not kept).
class TPEImage {
 public:
  // Reads and checks the MS-DOS header, the PE signature, the COFF and
  // optional headers and the section table, and that every section's data
  // lies inside the file. Raises EPEFormatError naming what is wrong.
  explicit TPEImage(TStream& Stream);

  TImageFormat ImageFormat() const { return FFormat; }
  uint16_t Machine() const { return FMachine; }
  uint16_t Subsystem() const { return FSubsystem; }
  const std::vector<TSection>& Sections() const { return FSections; }
  // An absent directory (beyond NumberOfRvaAndSizes) reads as zero.
  TDataDirectory Directory(size_t Index) const;
  int64_t FileSize() const { return FFileSize; }
  const THeaderLayout& Layout() const { return FLayout; }

  // Where Size bytes at Rva lie in the file: inside one section's data.
  // Raises EPEFormatError ("WHAT at RVA ... lies in no section", or past its
  // data in the file).
  int64_t RvaToFileOffset(uint32_t Rva, uint32_t Size, std::string_view What) const;

  // Every resource of Type and Name, in every language and under every
  // entry that matches either key (a crafted tree may hold a type twice, or
  // a name in two letter cases), in the tree's order; the first Limit of
  // them. Windows' FindResource takes one of them by the thread's, the
  // user's and the system's language, so where there are several, which one
  // a program gets depends on the machine. The whole tree is walked, so
  // that every lookup refuses the same images: raises EPEFormatError for a
  // tree that is malformed anywhere (see WalkResources).
  std::vector<TResourceData> FindResources(const TResourceKey& Type, const TResourceKey& Name,
                                           size_t Limit) const;
  // The data of the first resource of Type and Name in the tree's order (the
  // first of FindResources); nullopt when the image has none. Raises as
  // FindResources.
  std::optional<TFileRange> FindResource(const TResourceKey& Type, const TResourceKey& Name) const;

  // Every resource of the image, in the tree's order; empty when it has no
  // resource directory. Raises EPEFormatError as FindResources does, and
  // when the names it would read and hand out come to more than
  // MaxResourceNameUnits code units.
  std::vector<TResourceLeaf> ResourceLeaves() const;

  // The certificate table (Authenticode signatures); nullopt when there is
  // none. Raises EPEFormatError when it reaches past the end of the file.
  std::optional<TFileRange> CertificateTable() const;

  // Reads Range, which must lie inside the file and be at most MaxBytes
  // long; raises EPEFormatError (naming What) otherwise.
  std::vector<uint8_t> ReadRange(TFileRange Range, size_t MaxBytes, std::string_view What) const;

 private:
  // An entry of a resource directory as stored: its name or ID, and the
  // offset of what it leads to, each with its high bit.
  struct TEntry {
    uint32_t Name;
    uint32_t Offset;
  };
  // What a leaf's data entry says.
  struct TDataEntry {
    TFileRange Data;
    uint32_t CodePage;
  };
  // Called with each entry in the tree's order (depth first), on Level 0
  // (types), 1 (names) or 2 (languages), before what it leads to; Data is
  // set on level 2 alone.
  using TVisit = std::function<void(int Level, const TEntry& Entry, const TDataEntry* Data)>;
  class TNodeClaims;

  void ReadAt(int64_t Offset, void* Buffer, size_t Count, std::string_view What) const;
  // The one walk of the resource tree. Every node (a directory table with
  // its entries, a data entry) must lie in the resource section and occupy
  // bytes that no other node occupies, so each is visited once, loops and
  // shared directories or data entries are refused, and the entries read
  // are no more than the section holds. Raises EPEFormatError for that, and
  // for more than three levels, data where a directory belongs, entry
  // counts that cannot fit and data that lies in no section.
  void WalkResources(const TVisit& Visit) const;
  void WalkDirectory(int Level, uint32_t DirOffset, std::array<uint32_t, ResourceLevels>& Path,
                     TNodeClaims& Claims, const TVisit& Visit) const;
  // Whether the entry name or ID Field matches Key. A name is read only as
  // far as its length, and compared only when that is Key's.
  bool Matches(const TResourceKey& Key, uint32_t Field) const;
  // The name or ID Field; a name's code units are taken from Budget, and a
  // name longer than what remains raises EPEFormatError.
  TResourceId ReadId(uint32_t Field, size_t& Budget) const;
  // The length of the name at NameOffset, checked with its code units
  // against the resource section.
  uint16_t NameLength(uint32_t NameOffset) const;

  TStream& FStream;
  int64_t FFileSize = 0;
  TImageFormat FFormat = TImageFormat::PE32;
  uint16_t FMachine = 0;
  uint16_t FSubsystem = 0;
  std::vector<TDataDirectory> FDirectories;
  std::vector<TSection> FSections;
  THeaderLayout FLayout;
  // The resource tree: its file offset and the bytes to its section's end,
  // which every offset inside it is checked against.
  int64_t FResourceBase = 0;
  int64_t FResourceLength = 0;
};

// Names for the JSON keys and for people: "i386", "x86-64", ... or the number
// in hexadecimal ("0x1234").
std::string MachineName(uint16_t Machine);
// "gui", "console", ... or the number; Text: "Windows GUI", ...
std::string SubsystemName(uint16_t Subsystem);
std::string SubsystemText(uint16_t Subsystem);

}  // namespace kv::pe
