// The one check of what an updater will install.
#include "Check.h"

#include <algorithm>
#include <map>

#include "PayloadResource.h"
#include "konvoro/Text.h"
#include "konvoro/Unicode.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace zlbtool {

namespace {

const char* FaultText(kv::TNameFault Fault) {
  switch (Fault) {
    case kv::TNameFault::None:
      break;
    case kv::TNameFault::NotText:
      return "no file can have this name";
    case kv::TNameFault::ForbiddenCharacter:
      return "a character Windows does not allow in a file name (\\ / : * ? \" < > | or a "
             "control character)";
    case kv::TNameFault::TrailingDotOrBlank:
      return "ends in a full stop or blank, which Windows drops, naming another file";
    case kv::TNameFault::DeviceName:
      return "a reserved device name (CON, PRN, AUX, NUL, COM1, LPT1, ...)";
  }
  return "";
}

// The form of a short (8.3) name: a stem of at most 8 characters ending in
// "~" and digits, at most one full stop, an extension of at most 3. On a
// volume that keeps short names it may name another file than the one
// meant (the one whose long name it abbreviates).
bool HasShortNameForm(std::string_view Name) {
  const size_t Dot = Name.find('.');
  if (Dot != std::string_view::npos && Name.find('.', Dot + 1) != std::string_view::npos)
    return false;
  const std::string_view Stem = Name.substr(0, Dot);
  const std::string_view Extension =
      Dot == std::string_view::npos ? std::string_view() : Name.substr(Dot + 1);
  if (Stem.empty() || Stem.size() > 8 || Extension.size() > 3) return false;
  const size_t Tilde = Stem.rfind('~');
  if (Tilde == std::string_view::npos || Tilde + 1 == Stem.size()) return false;
  return std::all_of(Stem.begin() + Tilde + 1, Stem.end(),
                     [](char C) { return C >= '0' && C <= '9'; });
}

}  // namespace

std::string Describe(const TProblem& Problem) {
  return Problem.Subject + ": " + Problem.Cause;
}

std::vector<TProblem> CheckNames(const std::vector<TCheckedName>& Names, const TNameCodec& Codec,
                                 TCheckScope Scope) {
  std::vector<TProblem> Problems;
  // Names that are one file on Windows, by the key they compare by.
  std::map<std::string, const TCheckedName*> Seen;
  for (const TCheckedName& Entry : Names) {
    const auto Add = [&](TProblemKind Kind, std::string Cause) {
      Problems.push_back({Kind, Entry.Subject, std::move(Cause), Entry.Index});
    };
    const std::optional<std::string> Host = Codec.ToHost(Entry.Name);
    const std::optional<std::string> HostPath = Codec.ToHost(Entry.Path);
    if (!Host || !HostPath) {
      Add(TProblemKind::NoForm,
          Codec.CodePage()
              ? "its bytes are no text of code page " + std::to_string(Codec.CodePage()->Number())
              : std::string("its name is not ASCII, and no code page is known: "
                            "give ") +
                    CodePageOption);
      continue;
    }
    if (Entry.Name.size() > kv::TShortString::MaxLength)
      Add(TProblemKind::TooLong, "a name longer than 255 bytes");
    if (Entry.Path.size() > kv::TShortString::MaxLength)
      Add(TProblemKind::TooLong, "a folder path longer than 255 bytes");
    if (const kv::TNameFault Fault = kv::EntryNameFault(Entry.Name, Codec.Rules());
        Fault != kv::TNameFault::None)
      Add(TProblemKind::NameFault, FaultText(Fault));
    else if (HasShortNameForm(Entry.Name))
      Add(TProblemKind::ShortNameForm,
          "the form of a short (8.3) name, which on Windows may name another file");
    if (!kv::IsSafeEntryPath(Entry.Path, Codec.Rules()))
      Add(TProblemKind::PathLeaves, "its stored folder does not stay below the destination");
    if (Scope.ScriptNames && Codec.CodePage() != nullptr &&
        !kv::SameText(Entry.Name, kv::PayloadWaitProgramName))
      for (const uint32_t Oem : Codec.CodePage()->OemPartners()) {
        const kv::TCodePage* Page = kv::TCodePage::Find(Oem);
        if (Page != nullptr && !Page->FromUtf8(*Host))
          Add(TProblemKind::NoScriptForm,
              "no form in code page " + std::to_string(Oem) +
                  ", in which the update script that copies it is read");
      }
    std::string Joined = *Host;
    if (!Scope.OneFolder && !HostPath->empty()) {
      Joined = *HostPath;
      if (Joined.back() != '\\' && Joined.back() != '/') Joined += '\\';
      Joined += *Host;
      std::replace(Joined.begin(), Joined.end(), '/', '\\');
    }
    const std::optional<std::string> Key = kv::NameCompareKey(Joined);
    if (!Key) continue;
    const auto [Other, New] = Seen.emplace(*Key, &Entry);
    if (!New)
      Add(TProblemKind::SameFile, "one file on Windows with " + Other->second->Subject +
                                      (Scope.OneFolder ? " (every file lands in one folder)" : ""));
  }
  return Problems;
}

}  // namespace zlbtool
