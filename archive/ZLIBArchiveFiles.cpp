// TZLBArchive: temporary archive names and directory file lists.
#include "konvoro/zlb/ZLIBArchive.h"

namespace kv {

std::string TZLBArchive::GetTempArchiveFileName() {
  return GetTempFileName(GetTempPath(), "ZLB", 0);
}

void TZLBArchive::GetFileList(std::string Dir, TStrings& List) {
  // An empty Dir would enumerate the root of the current drive; list nothing.
  if (Dir.empty()) return;
  ListLevel(std::move(Dir), List);
}

// One directory level: its subdirectories' lists (with RecursePaths) are
// appended to List while this level's own items are still being gathered,
// so they come first.
void TZLBArchive::ListLevel(std::string Dir, TStrings& List) {
  if (EndsWithPathDelimiter(Dir)) Dir.pop_back();
  TStringList Level;
  TFileSearch Search;
  TSearchRec Found;
  if (Search.FindFirst(Dir + "\\*.*", faAnyFile, Found)) {
    do {
      const std::string Item = Dir + "\\" + Found.Name;
      if ((Found.Attr & faDirectory) != 0) {
        if (Found.Name == "." || Found.Name == "..") continue;
        if (FRecursePaths) ListLevel(Item, List);
        if (FSavePaths) Level.Add(Item);
      } else {
        Level.Add(Item);
      }
    } while (Search.FindNext(Found));
  }
  Search.FindClose();
  List.AddStrings(Level);
}

}  // namespace kv
