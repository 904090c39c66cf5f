// The one check of what an updater will install, wherever it is made or
// read: pack and updater run it on a release's files before anything is
// written, test, info, the updater's read-back and the build run it on an
// archive's entries. Every problem is gathered, each with the file or
// entry it concerns, so that a release is refused once, for all of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Names.h"

namespace zlbtool {

enum class TProblemKind : uint8_t {
  NoForm,         // the name has no exact form in the code page, or its bytes are none
  NameFault,      // a device name, a forbidden character, a trailing dot or blank
  TooLong,        // a name or stored path over 255 bytes
  PathLeaves,     // a stored path that leaves the destination
  NoScriptForm,   // no exact form in an OEM code page the update script is read in
  ShortNameForm,  // the form of a short (8.3) name, which may be another file's
  SameFile,       // one file on Windows with another
  TooLarge,       // over the format's size limit
  NotAFile,       // a dangling link, a link to a folder, a FIFO, socket or device
  Unreadable,     // a file or folder that cannot be read
  SubFolder,      // a file in a sub-folder of an updater's release, without --flatten
  Data,           // data that is damaged, or shared with another entry
};

struct TProblem {
  TProblemKind Kind;
  std::string Subject;  // the file as named, or the entry as shown
  std::string Cause;    // what is wrong
  int32_t Index = -1;   // the file's or entry's index, where it has one
};

// "SUBJECT: CAUSE".
std::string Describe(const TProblem& Problem);

// A name as the archive holds it, and whom to blame.
struct TCheckedName {
  int32_t Index = -1;
  std::string Subject;
  std::string Name;  // FileName's bytes, in the codec's code page
  std::string Path;  // FilePath's bytes
};

struct TCheckScope {
  // Every entry lands in one folder (the updater's update\), whatever its
  // stored path: two names collide whatever their paths. Otherwise the path
  // counts.
  bool OneFolder = true;
  // The names the update script copies must have an exact form in the OEM
  // code pages paired with the ANSI one (wait.exe gets no line).
  bool ScriptNames = true;
};

// The problems of Names under Codec: their bytes, the name rules, lengths,
// the script's code pages, short-name forms and names that are one file on
// Windows (letter case ignored as Windows ignores it, for every letter).
std::vector<TProblem> CheckNames(const std::vector<TCheckedName>& Names, const TNameCodec& Codec,
                                 TCheckScope Scope);

}  // namespace zlbtool
