// Writing a PE image again with its resource section rebuilt.
#include "ImageWriter.h"

#include <algorithm>
#include <array>
#include <span>

#include "ImageWriterMessages.h"
#include "konvoro/Binary.h"
#include "konvoro/ClassMessages.h"
#include "konvoro/Format.h"

namespace kv::pe {

namespace {

using resource_layout::HighBit;
// Resource compilers align the names' end and every datum to 8 bytes; the
// tree's records are multiples of 8 anyway.
constexpr uint64_t ResourceAlignment = 8;
// Bytes copied from one stream to the other at a time.
constexpr int64_t CopyChunk = 1 << 20;

bool IsPowerOfTwo(uint32_t N) {
  return N != 0 && (N & (N - 1)) == 0;
}

// The order Windows looks entries up in: names first, by their code units,
// then numbers.
bool Before(const TResourceId& A, const TResourceId& B) {
  if (A.Named != B.Named) return A.Named;
  return A.Named ? A.Name < B.Name : A.Id < B.Id;
}

std::string IdText(const TResourceId& Id) {
  if (!Id.Named) return Dec(Id.Id);
  std::string Text;
  for (const char16_t Unit : Id.Name)
    Text += Unit >= 0x20 && Unit < 0x7F ? char(Unit) : '?';
  return Text;
}

// Writes to a stream from its start and sums what it writes as the image
// checksum does: 16-bit little-endian words added with the carries folded
// back in, then the length.
class TImageOut {
 public:
  explicit TImageOut(TStream& Out) : FOut(Out) {}

  void Write(std::span<const uint8_t> Bytes) {
    unsigned Shift = FPosition % 2 == 0 ? 0 : 8;
    for (const uint8_t Byte : Bytes) {
      FSum += uint64_t(Byte) << Shift;
      Shift ^= 8;
    }
    for (size_t Done = 0; Done < Bytes.size();) {
      const size_t Now = std::min<size_t>(Bytes.size() - Done, size_t(CopyChunk));
      FOut.WriteBuffer(Bytes.data() + Done, int32_t(Now));
      Done += Now;
    }
    FPosition += int64_t(Bytes.size());
  }

  void Zeros(uint64_t Count) {
    static constexpr std::array<uint8_t, 512> None{};
    for (uint64_t Done = 0; Done < Count;) {
      const size_t Now = size_t(std::min<uint64_t>(Count - Done, None.size()));
      Write(std::span(None).first(Now));
      Done += Now;
    }
  }

  int64_t Position() const { return FPosition; }

  uint32_t Checksum() const {
    uint64_t Sum = FSum;
    while (Sum >> 16 != 0)
      Sum = (Sum & 0xFFFF) + (Sum >> 16);
    return uint32_t(Sum + uint64_t(FPosition));
  }

 private:
  TStream& FOut;
  int64_t FPosition = 0;
  uint64_t FSum = 0;
};

// Range of Image's file copied to Out.
void CopyRange(const TPEImage& Image, TFileRange Range, TImageOut& Out) {
  for (int64_t Done = 0; Done < Range.Size;) {
    const int64_t Now = std::min(Range.Size - Done, CopyChunk);
    Out.Write(Image.ReadRange({Range.Offset + Done, Now}, size_t(Now), "image"));
    Done += Now;
  }
}

uint64_t DataSize(const TResource& R) {
  return R.Stream != nullptr ? uint64_t(R.Stream->GetSize()) : R.Bytes.size();
}

// The tree of a resource section, as LLVM's WindowsResource builds it: the
// root's entries are the types, a type's are its names, a name's are its
// languages, which are the leaves. Each directory's entries are sorted as
// Windows looks them up and counted here, once.
struct TTreeNode {
  const TResourceId* Id = nullptr;  // its entry's in its parent; none for the root
  std::vector<TTreeNode> Children;  // a directory's entries, in order
  uint16_t Named = 0;               // of them, those with names
  uint16_t Numbered = 0;            // and those with numbers
  uint32_t Directory = 0;           // a directory's offset in the section
  size_t Leaf = 0;                  // a language's number in the tree's order
};

// The section laid out as resource compilers lay it out: the directory
// tables in the order a depth-first walk meets them, then the names in the
// order it meets their entries, the data entries and the data in the order
// of the leaves.
struct TLayout {
  TTreeNode Root;
  std::vector<size_t> Order;  // the resources' indexes, one per leaf, in the tree's order
  uint64_t DirectoriesEnd = 0;
  uint64_t NamesEnd = 0;
  uint64_t DataEntriesEnd = 0;
  std::vector<uint64_t> DataAt;  // per leaf
  uint64_t Size = 0;
};

// The directory tables from Node down, from At on; the names' bytes added
// to NameBytes.
void PlaceDirectories(TTreeNode& Node, int Level, uint64_t& At, uint64_t& NameBytes) {
  namespace RL = resource_layout;
  Node.Directory = uint32_t(At);
  At += RL::DirectorySize + RL::EntrySize * Node.Children.size();
  for (TTreeNode& Child : Node.Children) {
    if (Child.Id->Named) NameBytes += 2 + 2 * uint64_t(Child.Id->Name.size());
    if (Level + 1 < ResourceLevels) PlaceDirectories(Child, Level + 1, At, NameBytes);
  }
}

TLayout Lay(const std::vector<TResource>& Resources) {
  TLayout L;
  for (size_t I = 0; I < Resources.size(); ++I)
    L.Order.push_back(I);
  auto Less = [&](size_t A, size_t B) {
    const TResource& X = Resources[A];
    const TResource& Y = Resources[B];
    if (Before(X.Type, Y.Type) || Before(Y.Type, X.Type)) return Before(X.Type, Y.Type);
    if (Before(X.Name, Y.Name) || Before(Y.Name, X.Name)) return Before(X.Name, Y.Name);
    return Before(X.Language, Y.Language);
  };
  std::stable_sort(L.Order.begin(), L.Order.end(), Less);
  for (size_t K = 0; K < L.Order.size(); ++K) {
    const TResource& R = Resources[L.Order[K]];
    if (K != 0 && !Less(L.Order[K - 1], L.Order[K]))
      throw EPEFormatError(Format(messages::SDuplicateResource, ResourcePath(R)));
    // The high bit marks a name's offset where a number would stand.
    const std::array<const TResourceId*, ResourceLevels> Ids = {&R.Type, &R.Name, &R.Language};
    for (const TResourceId* Id : Ids)
      if (!Id->Named && (Id->Id & HighBit) != 0)
        throw EPEFormatError(Format(messages::SResourceIdTooLarge, ResourcePath(R)));
    // Sorted, a resource opens a new entry where it differs from the one
    // before; a directory counts its named and its numbered entries in 16
    // bits each.
    TTreeNode* Node = &L.Root;
    for (size_t Level = 0; Level < Ids.size(); ++Level) {
      const TResourceId& Id = *Ids[Level];
      if (Node->Children.empty() || *Node->Children.back().Id != Id) {
        uint16_t& Count = Id.Named ? Node->Named : Node->Numbered;
        if (Count == 0xFFFF) {
          std::string Path;  // the directory's: "", "TYPE" or "TYPE/NAME"
          for (size_t Above = 0; Above < Level; ++Above)
            Path += (Above == 0 ? "" : "/") + IdText(*Ids[Above]);
          throw EPEFormatError(Format(messages::STooManyEntries, Path));
        }
        ++Count;
        Node->Children.emplace_back().Id = &Id;
      }
      Node = &Node->Children.back();
    }
    Node->Leaf = K;
  }

  namespace RL = resource_layout;
  uint64_t At = 0, NameBytes = 0;
  PlaceDirectories(L.Root, 0, At, NameBytes);
  L.DirectoriesEnd = At;
  L.NamesEnd = AlignUp(L.DirectoriesEnd + NameBytes, ResourceAlignment);
  L.DataEntriesEnd = L.NamesEnd + RL::DataEntrySize * L.Order.size();
  At = L.DataEntriesEnd;
  for (const size_t I : L.Order) {
    L.DataAt.push_back(At);
    At = AlignUp(At + DataSize(Resources[I]), ResourceAlignment);
  }
  L.Size = At;
  return L;
}

// The tree, names and data entries of a laid-out section: everything but
// the data. Rva is the section's.
class TTreeEncoder {
 public:
  TTreeEncoder(const std::vector<TResource>& Resources, const TLayout& L, uint32_t Rva)
      : FResources(Resources),
        FLayout(L),
        FRva(Rva),
        FTree(size_t(L.DataEntriesEnd), 0),
        FNameAt(L.DirectoriesEnd) {}

  std::vector<uint8_t> Encode() && {
    Directory(FLayout.Root, 0);
    return std::move(FTree);
  }

 private:
  // Node's table, and below it every table, name and data entry it leads
  // to, in the order resource compilers write them.
  void Directory(const TTreeNode& Node, int Level) {
    namespace RL = resource_layout;
    PutU16LE(FTree, Node.Directory + RL::NamedEntries, Node.Named);
    PutU16LE(FTree, Node.Directory + RL::IdEntries, Node.Numbered);
    for (size_t I = 0; I < Node.Children.size(); ++I) {
      const TTreeNode& Child = Node.Children[I];
      const size_t Entry = Node.Directory + RL::DirectorySize + RL::EntrySize * I;
      PutU32LE(FTree, Entry + RL::EntryName, NameField(*Child.Id));
      if (Level + 1 < ResourceLevels) {
        PutU32LE(FTree, Entry + RL::EntryOffset, Child.Directory | HighBit);
        Directory(Child, Level + 1);
        continue;
      }
      const uint64_t DataEntry = FLayout.NamesEnd + RL::DataEntrySize * Child.Leaf;
      PutU32LE(FTree, Entry + RL::EntryOffset, uint32_t(DataEntry));
      const TResource& R = FResources[FLayout.Order[Child.Leaf]];
      PutU32LE(FTree, size_t(DataEntry + RL::DataRva), FRva + uint32_t(FLayout.DataAt[Child.Leaf]));
      PutU32LE(FTree, size_t(DataEntry + RL::DataSize), uint32_t(DataSize(R)));
      PutU32LE(FTree, size_t(DataEntry + RL::DataCodePage), R.CodePage);
    }
  }

  // An entry's first field: the ID, or the offset of its name, stored here.
  uint32_t NameField(const TResourceId& Id) {
    if (!Id.Named) return Id.Id;
    const auto At = uint32_t(FNameAt);
    PutU16LE(FTree, At, uint16_t(Id.Name.size()));
    for (size_t I = 0; I < Id.Name.size(); ++I)
      PutU16LE(FTree, At + 2 + 2 * I, uint16_t(Id.Name[I]));
    FNameAt += 2 + 2 * uint64_t(Id.Name.size());
    return At | HighBit;
  }

  const std::vector<TResource>& FResources;
  const TLayout& FLayout;
  uint32_t FRva;
  std::vector<uint8_t> FTree;
  uint64_t FNameAt;
};

void WriteData(const TResource& R, TImageOut& Out) {
  if (R.Stream == nullptr) {
    Out.Write(R.Bytes);
    return;
  }
  const int64_t Size = R.Stream->GetSize();
  R.Stream->Seek(0, TSeekOrigin::soBeginning);
  std::vector<uint8_t> Buffer(size_t(std::min(Size, CopyChunk)));
  for (int64_t Done = 0; Done < Size;) {
    const auto Now = int32_t(std::min(Size - Done, CopyChunk));
    R.Stream->ReadBuffer(Buffer.data(), Now);
    Out.Write(std::span(Buffer).first(size_t(Now)));
    Done += Now;
  }
}

}  // namespace

std::string ResourcePath(const TResource& Resource) {
  return IdText(Resource.Type) + "/" + IdText(Resource.Name) + "/" + IdText(Resource.Language);
}

std::vector<TResource> ReadResources(const TPEImage& Image, size_t MaxBytes) {
  std::vector<TResourceLeaf> Leaves = Image.ResourceLeaves();
  // Summed before anything is read: leaves may share their data.
  uint64_t Total = 0;
  for (const TResourceLeaf& Leaf : Leaves)
    Total += uint64_t(Leaf.Data.Size);
  if (Total > MaxBytes)
    throw EPEFormatError(Format(messages::SResourceDataTotal, Dec(Total), Dec(MaxBytes)));
  std::vector<TResource> Resources;
  for (TResourceLeaf& Leaf : Leaves)
    Resources.push_back({std::move(Leaf.Type), std::move(Leaf.Name), std::move(Leaf.Language),
                         Leaf.CodePage, Image.ReadRange(Leaf.Data, MaxBytes, "resource data"),
                         nullptr});
  return Resources;
}

TImageRewriter::TImageRewriter(const TPEImage& Image) : FImage(Image) {
  const THeaderLayout& H = Image.Layout();
  const std::vector<TSection>& Sections = Image.Sections();
  if (!IsPowerOfTwo(H.FileAlignment) || H.FileAlignment < 512 ||
      !IsPowerOfTwo(H.SectionAlignment) || H.SectionAlignment < H.FileAlignment)
    throw EPEFormatError(
        Format(messages::SUnusualAlignment, Hex(H.FileAlignment), Hex(H.SectionAlignment)));

  const TDataDirectory Resources = Image.Directory(ResourceDirectory);
  if (Resources.Address == 0 || H.DirectoryCount <= ResourceDirectory)
    throw EPEFormatError(messages::SNoResourceSection);
  const auto Found = std::find_if(Sections.begin(), Sections.end(), [&](const TSection& S) {
    return S.VirtualAddress == Resources.Address;
  });
  if (Found == Sections.end())
    throw EPEFormatError(Format(messages::SResourcesNotASection, Hex(Resources.Address)));
  FResourceSection = size_t(Found - Sections.begin());
  const TSection& R = *Found;
  const std::string Number = Dec(FResourceSection + 1);
  if (R.SizeOfRawData == 0 || R.PointerToRawData % H.FileAlignment != 0)
    throw EPEFormatError(Format(messages::SResourceSectionUnaligned, Number, R.Name));
  FTableEnd = H.SectionTable + int64_t(section_layout::Size * Sections.size());
  if (FTableEnd > R.PointerToRawData)
    throw EPEFormatError(
        Format(messages::SHeadersInResources, Hex(uint64_t(FTableEnd)), Hex(R.PointerToRawData)));

  // What lies before the resource section stays where it is; it must end
  // before it, in memory and in the file.
  for (size_t I = 0; I < FResourceSection; ++I) {
    const TSection& S = Sections[I];
    if (S.VirtualAddress + Span(S) > R.VirtualAddress ||
        (S.SizeOfRawData != 0 &&
         uint64_t(S.PointerToRawData) + S.SizeOfRawData > R.PointerToRawData))
      throw EPEFormatError(Format(messages::SSectionAfterResources, Dec(I + 1), S.Name));
  }
  // What follows moves: the base relocations alone, which nothing but their
  // directory entry refers to.
  const TDataDirectory Relocations = Image.Directory(BaseRelocationDirectory);
  for (size_t I = FResourceSection + 1; I < Sections.size(); ++I) {
    const TSection& S = Sections[I];
    if (I != FResourceSection + 1 || Relocations.Address != S.VirtualAddress ||
        Relocations.Size > Span(S) || S.SizeOfRawData == 0 || S.VirtualAddress < R.VirtualAddress)
      throw EPEFormatError(Format(messages::SSectionNotRelocations, Dec(I + 1), S.Name));
    if (S.PointerToRawData != uint64_t(R.PointerToRawData) + R.SizeOfRawData)
      throw EPEFormatError(Format(messages::SRelocationsNotAdjacent, Dec(I + 1), S.Name));
    FRelocationSection = I;
  }
  for (size_t D = 0; D < H.DirectoryCount; ++D) {
    const TDataDirectory Dir = Image.Directory(D);
    if (D == ResourceDirectory || D == CertificateDirectory || Dir.Address == 0) continue;
    if (D == BaseRelocationDirectory && FRelocationSection) continue;
    if (uint64_t(Dir.Address) + Dir.Size > R.VirtualAddress)
      throw EPEFormatError(
          Format(messages::SDirectoryInResources, Dec(D), Hex(Dir.Address), Dec(Dir.Size)));
  }

  // After the last section's data: nothing, or the certificate table (8-byte
  // aligned, so a few bytes of padding may come first).
  const TSection& Last = Sections[FRelocationSection.value_or(FResourceSection)];
  const int64_t DataEnd = int64_t(Last.PointerToRawData) + Last.SizeOfRawData;
  int64_t Known = DataEnd;
  if (const std::optional<TFileRange> Table = Image.CertificateTable())
    if (Table->Offset >= DataEnd && Table->Offset - DataEnd < 8 &&
        Table->Offset + Table->Size == Image.FileSize())
      Known = Image.FileSize();
  if (Known != Image.FileSize())
    throw EPEFormatError(
        Format(messages::STrailingBytes, Dec(uint64_t(Image.FileSize() - DataEnd))));
}

void TImageRewriter::Write(const std::vector<TResource>& Resources, TStream& Out) const {
  const THeaderLayout& H = FImage.Layout();
  std::vector<TSection> Sections = FImage.Sections();
  TSection& R = Sections[FResourceSection];
  const TLayout L = Lay(Resources);
  // Every size and address written must fit in 32 bits.
  const uint64_t RawSize = AlignUp(L.Size, H.FileAlignment);
  uint64_t FileEnd = uint64_t(R.PointerToRawData) + RawSize;
  uint64_t MemoryEnd = uint64_t(R.VirtualAddress) + AlignUp(L.Size, H.SectionAlignment);
  if (FRelocationSection) {
    FileEnd += Sections[*FRelocationSection].SizeOfRawData;
    MemoryEnd += AlignUp(Span(Sections[*FRelocationSection]), H.SectionAlignment);
  }
  if (FileEnd > UINT32_MAX || MemoryEnd > UINT32_MAX)
    throw EPEFormatError(Format(messages::SResourcesTooLarge, Dec(L.Size)));

  R.VirtualSize = uint32_t(L.Size);
  R.SizeOfRawData = uint32_t(RawSize);
  std::optional<TFileRange> MovedData;
  TDataDirectory Relocations = FImage.Directory(BaseRelocationDirectory);
  if (FRelocationSection) {
    TSection& F = Sections[*FRelocationSection];
    MovedData = TFileRange{F.PointerToRawData, F.SizeOfRawData};
    const auto NewAddress =
        uint32_t(AlignUp(uint64_t(R.VirtualAddress) + L.Size, H.SectionAlignment));
    Relocations.Address = Relocations.Address - F.VirtualAddress + NewAddress;
    F.VirtualAddress = NewAddress;
    F.PointerToRawData = R.PointerToRawData + R.SizeOfRawData;
  }

  // The headers, changed where the new layout says.
  std::vector<uint8_t> Head = FImage.ReadRange({0, FTableEnd}, size_t(FTableEnd), "headers");
  namespace OL = optional_layout;
  namespace SL = section_layout;
  const auto Optional = size_t(H.OptionalHeader);
  uint64_t ImageEnd = 0, InitializedData = 0;
  for (size_t I = 0; I < Sections.size(); ++I) {
    const TSection& S = Sections[I];
    ImageEnd = std::max(ImageEnd, uint64_t(S.VirtualAddress) + Span(S));
    if ((S.Characteristics & SL::InitializedData) != 0) InitializedData += S.SizeOfRawData;
    const size_t At = size_t(H.SectionTable) + SL::Size * I;
    PutU32LE(Head, At + SL::VirtualSize, S.VirtualSize);
    PutU32LE(Head, At + SL::VirtualAddress, S.VirtualAddress);
    PutU32LE(Head, At + SL::SizeOfRawData, S.SizeOfRawData);
    PutU32LE(Head, At + SL::PointerToRawData, S.PointerToRawData);
  }
  PutU32LE(Head, Optional + OL::SizeOfInitializedData, uint32_t(InitializedData));
  PutU32LE(Head, Optional + OL::SizeOfImage, uint32_t(AlignUp(ImageEnd, H.SectionAlignment)));
  PutU32LE(Head, Optional + OL::CheckSum, 0);
  auto PutDirectory = [&](size_t Index, TDataDirectory Dir) {
    if (Index >= H.DirectoryCount) return;
    const size_t At = size_t(H.Directories) + OL::DirectorySize * Index;
    PutU32LE(Head, At, Dir.Address);
    PutU32LE(Head, At + 4, Dir.Size);
  };
  PutDirectory(ResourceDirectory, {R.VirtualAddress, uint32_t(L.Size)});
  PutDirectory(CertificateDirectory, {});
  if (FRelocationSection) PutDirectory(BaseRelocationDirectory, Relocations);

  TImageOut Image(Out);
  Image.Write(Head);
  CopyRange(FImage, {FTableEnd, int64_t(R.PointerToRawData) - FTableEnd}, Image);
  Image.Write(TTreeEncoder(Resources, L, R.VirtualAddress).Encode());
  for (size_t K = 0; K < L.Order.size(); ++K) {
    Image.Zeros(L.DataAt[K] - uint64_t(Image.Position() - R.PointerToRawData));
    WriteData(Resources[L.Order[K]], Image);
  }
  Image.Zeros(R.SizeOfRawData - uint64_t(Image.Position() - R.PointerToRawData));
  if (MovedData) CopyRange(FImage, *MovedData, Image);

  std::array<uint8_t, 4> Sum{};
  PutU32LE(Sum, 0, Image.Checksum());
  if (Out.Seek(H.OptionalHeader + int64_t(OL::CheckSum), TSeekOrigin::soBeginning) < 0)
    throw EWriteError(kv::messages::SWriteError);
  Out.WriteBuffer(Sum.data(), int32_t(Sum.size()));
  Out.Seek(0, TSeekOrigin::soEnd);
}

}  // namespace kv::pe
