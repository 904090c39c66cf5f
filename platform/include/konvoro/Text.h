// Small text rules used across the layers: letter case as the class library
// treats it (ASCII only: "A" to "Z" against "a" to "z", every other byte as
// it stands), characters in the ANSI code page, blanks, and how messages
// end.
#pragma once

#include <string>
#include <string_view>

namespace kv {

constexpr char UpCase(char C) {
  return (C >= 'a' && C <= 'z') ? char(C - ('a' - 'A')) : C;
}
constexpr char LowCase(char C) {
  return (C >= 'A' && C <= 'Z') ? char(C + ('a' - 'A')) : C;
}
std::string UpperCase(std::string_view S);
std::string LowerCase(std::string_view S);
// True when A and B are equal but for the letter case of ASCII letters.
bool SameText(std::string_view A, std::string_view B);
// Compares A and B upper-cased, byte by byte as unsigned values (as Windows
// orders an environment block). Returns <0, 0 or >0.
int CompareText(std::string_view A, std::string_view B);

// Names and paths are byte strings in the system's ANSI code page. In a
// double-byte code page (932, 936, 949, 950) a character may take two
// bytes, and its second byte may be "\\" or "|": such text is walked by
// character, never by byte. Each port supplies the code page's rules; POSIX
// has none, so there every byte is a character.

// The number of bytes of the character that Text starts with: 2 for a lead
// byte followed by its trail byte, else 1 (a lead byte at the very end
// counts as one byte: IsValidAnsiText refuses it); 0 for empty Text.
size_t AnsiCharLength(std::string_view Text);
// True when Text is a byte sequence that the ANSI code page defines: no lead
// byte without its trail byte, no sequence the code page lacks.
bool IsValidAnsiText(std::string_view Text);

// The character rules of byte text in one code page: where each character
// ends, and whether the bytes are text of that code page at all. The
// system's ANSI code page has them (SystemAnsiRules, as the port knows it);
// so has each Windows code page that CodePage.h knows, the same on every
// platform, for text meant for another system.
class TCharRules {
 public:
  virtual ~TCharRules() = default;
  // As AnsiCharLength, in this code page: 2 for a lead byte followed by its
  // trail byte, else 1; 0 for empty Text. Only the double-byte code pages
  // (932, 936, 949, 950) have lead bytes; in UTF-8 every byte of a longer
  // character is 0x80 or above, so each counts as one here and none is ever
  // taken for a separator.
  virtual size_t CharLength(std::string_view Text) const = 0;
  // As IsValidAnsiText, in this code page.
  virtual bool IsValid(std::string_view Text) const = 0;
};
// The rules of the system's ANSI code page: AnsiCharLength and
// IsValidAnsiText.
const TCharRules& SystemAnsiRules();

// The characters of Text in order under Rules, each as the bytes it takes.
template <class F>
void ForEachChar(const TCharRules& Rules, std::string_view Text, F&& Visit) {
  while (!Text.empty()) {
    const size_t Length = Rules.CharLength(Text);
    Visit(Text.substr(0, Length));
    Text.remove_prefix(Length);
  }
}
// The characters of Text in the ANSI code page, each as the bytes it takes.
template <class F>
void ForEachAnsiChar(std::string_view Text, F&& Visit) {
  ForEachChar(SystemAnsiRules(), Text, static_cast<F&&>(Visit));
}
// The last character of Text, "" for empty Text.
std::string_view LastAnsiChar(std::string_view Text);

// S without blanks, tabs and line breaks at either end.
std::string_view Trim(std::string_view S);

// A system's description of an error without the line breaks, blanks and
// full stops it ends with: the messages that quote it add their own.
std::string_view TrimMessageEnd(std::string_view Message);
// Message with a full stop appended when its last character sorts after "."
// (a message ending in ".", or in a blank or "!", gets none).
std::string AppendFullStop(const std::string& Message);

}  // namespace kv
