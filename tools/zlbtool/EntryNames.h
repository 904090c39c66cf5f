// How zlbtool shows an entry: its stored path joined to its name.
#pragma once

#include <string>

#include "konvoro/zlb/ZLBFormat.h"

namespace zlbtool {

// FilePath followed by FileName, with one backslash between them when the
// path does not already end with one.
inline std::string DisplayName(const kv::TZLBFileEntry& Entry) {
  std::string Path = Entry.FilePath.ToString();
  if (!Path.empty() && Path.back() != '\\') Path += '\\';
  return Path + Entry.FileName.ToString();
}

}  // namespace zlbtool
