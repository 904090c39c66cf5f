// String lists: TStrings, the abstract list of byte strings, and
// TStringList, the plain unsorted list.
#pragma once

#include <string>
#include <vector>

#include "konvoro/Streams.h"

namespace kv {

class TStrings {
 public:
  TStrings() = default;
  TStrings(const TStrings&) = delete;
  TStrings& operator=(const TStrings&) = delete;
  virtual ~TStrings() = default;

  virtual int Count() const = 0;
  virtual const std::string& Get(int Index) const = 0;
  // Appends S at the end. Returns its index.
  virtual int Add(const std::string& S) = 0;
  virtual void Clear() = 0;
  // Appends every string of Strings, in order.
  virtual void AddStrings(const TStrings& Strings);

  const std::string& operator[](int Index) const { return Get(Index); }
  // Every line followed by CR LF, the last one included.
  std::string Text() const;
  // Writes Text() to Stream in one piece, the bytes as they stand, without a
  // byte-order mark. Raises EWriteError("Stream write error") on a short
  // write.
  void SaveToStream(TStream& Stream) const;
  // Creates (or empties) FileName and saves the list into it. Raises
  // EFCreateError or EWriteError.
  void SaveToFile(const std::string& FileName) const;
};

class TStringList : public TStrings {
 public:
  int Count() const override { return static_cast<int>(FItems.size()); }
  // Raises EStringListError("List index out of bounds (%d)") for a bad index.
  const std::string& Get(int Index) const override;
  int Add(const std::string& S) override;
  void Clear() override { FItems.clear(); }

  const std::vector<std::string>& Items() const { return FItems; }

 private:
  std::vector<std::string> FItems;
};

}  // namespace kv
