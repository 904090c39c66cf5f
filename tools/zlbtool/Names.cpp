// Names between this system and an archive.
#include "Names.h"

#include "Output.h"
#include "konvoro/Environment.h"
#include "konvoro/Format.h"

namespace zlbtool {

namespace {

// ASCII alone: one byte a character, bytes above 0x7F no text.
class TAsciiRules final : public kv::TCharRules {
 public:
  size_t CharLength(std::string_view Text) const override { return Text.empty() ? 0 : 1; }
  bool IsValid(std::string_view Text) const override { return IsAscii(Text); }
};

const kv::TCodePage* ParsedCodePage(const TParsedArgs& Parsed) {
  const std::optional<std::string> Text = Parsed.Find({CodePageOption});
  if (!Text) return nullptr;
  uint32_t Number = 0;
  bool Digits = !Text->empty() && Text->size() <= 6;
  for (const char C : *Text)
    if (C < '0' || C > '9')
      Digits = false;
    else
      Number = Number * 10 + uint32_t(C - '0');
  const kv::TCodePage* CodePage = Digits ? kv::TCodePage::Find(Number) : nullptr;
  if (CodePage == nullptr || !CodePage->IsAnsi()) {
    std::string Known;
    for (const uint32_t N : kv::SupportedAnsiCodePages())
      Known += (Known.empty() ? "" : ", ") + std::to_string(N);
    throw EUsageError("code page '" + *Text + "' is not one a Windows system has as its ANSI " +
                      "code page here: " + Known);
  }
  return CodePage;
}

const kv::TCodePage* SystemCodePage() {
  const uint32_t Number = kv::SystemAnsiCodePage();
  if (Number == 0) return nullptr;
  const kv::TCodePage* CodePage = kv::TCodePage::Find(Number);
  if (CodePage == nullptr)
    throw kv::Exception("the system's ANSI code page " + std::to_string(Number) +
                        " is not supported: give " + CodePageOption);
  return CodePage;
}

}  // namespace

bool IsAscii(std::string_view Text) {
  for (const char C : Text)
    if (static_cast<unsigned char>(C) >= 0x80) return false;
  return true;
}

const kv::TCharRules& TNameCodec::Rules() const {
  static const TAsciiRules Ascii;
  if (FCodePage != nullptr) return *FCodePage;
  return Ascii;
}

std::optional<std::string> TNameCodec::ToArchive(std::string_view Host) const {
  if (FCodePage != nullptr) return FCodePage->FromUtf8(Host);
  if (!IsAscii(Host)) return std::nullopt;
  return std::string(Host);
}

std::optional<std::string> TNameCodec::ToHost(std::string_view Bytes) const {
  if (FCodePage != nullptr) return FCodePage->ToUtf8(Bytes);
  if (!IsAscii(Bytes)) return std::nullopt;
  return std::string(Bytes);
}

std::string TNameCodec::Shown(std::string_view Bytes) const {
  if (const std::optional<std::string> Host = ToHost(Bytes)) return *Host;
  std::string Out;
  for (const char C : Bytes) {
    const auto B = static_cast<unsigned char>(C);
    if (B >= 0x80 || B < 0x20)
      Out += Printf("\\x%02X", B);
    else
      Out += C;
  }
  return Out;
}

std::string TNameCodec::NoFormText(std::string_view Host) const {
  if (FCodePage != nullptr)
    return "'" + std::string(Host) + "' has no form in code page " +
           std::to_string(FCodePage->Number());
  return "'" + std::string(Host) + "' is not ASCII: name the target system's ANSI code page with " +
         CodePageOption + " (1252 for Western Europe, 1250 Central Europe, 1251 Cyrillic, 932 " +
         "Japanese, ...)";
}

const kv::TCodePage* WritingCodePage(const TParsedArgs& Parsed) {
  if (const kv::TCodePage* CodePage = ParsedCodePage(Parsed)) return CodePage;
  return SystemCodePage();
}

const kv::TCodePage* ReadingCodePage(const TParsedArgs& Parsed,
                                     const kv::TZLBArchiveTrailer& Trailer) {
  if (const kv::TCodePage* CodePage = ParsedCodePage(Parsed)) return CodePage;
  if (const std::optional<uint32_t> Recorded = kv::RecordedCodePage(Trailer)) {
    const kv::TCodePage* CodePage = kv::TCodePage::Find(*Recorded);
    if (CodePage == nullptr || !CodePage->IsAnsi())
      throw kv::Exception("the archive records code page " + std::to_string(*Recorded) +
                          ", which is not supported: give " + CodePageOption);
    return CodePage;
  }
  return SystemCodePage();
}

std::string JoinedName(const kv::TZLBFileEntry& Entry, const kv::TCharRules& Rules) {
  std::string Path = Entry.FilePath.ToString();
  std::string_view Last;
  kv::ForEachChar(Rules, Path, [&](std::string_view Char) { Last = Char; });
  if (!Path.empty() && Last != "\\") Path += '\\';
  return Path + Entry.FileName.ToString();
}

}  // namespace zlbtool
