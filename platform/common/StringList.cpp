// String lists.
#include "konvoro/StringList.h"

#include "konvoro/ClassMessages.h"
#include "konvoro/Exceptions.h"
#include "konvoro/Format.h"

namespace kv {

void TStrings::AddStrings(const TStrings& Strings) {
  for (int I = 0; I < Strings.Count(); ++I)
    Add(Strings.Get(I));
}

std::string TStrings::Text() const {
  std::string Out;
  for (int I = 0; I < Count(); ++I) {
    Out += Get(I);
    Out += "\r\n";
  }
  return Out;
}

void TStrings::SaveToStream(TStream& Stream) const {
  const std::string Bytes = Text();
  Stream.WriteBuffer(Bytes.data(), static_cast<int32_t>(Bytes.size()));
}

void TStrings::SaveToFile(const std::string& FileName) const {
  TFileStream Stream(FileName, fmCreate);
  SaveToStream(Stream);
}

const std::string& TStringList::Get(int Index) const {
  if (Index < 0 || Index >= Count())
    throw EStringListError(Format(messages::SListIndexError, Index));
  return FItems[static_cast<size_t>(Index)];
}

int TStringList::Add(const std::string& S) {
  FItems.push_back(S);
  return Count() - 1;
}

}  // namespace kv
