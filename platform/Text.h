// Small text rules used across the layers: letter case as the class library
// treats it (ASCII only: "A" to "Z" against "a" to "z", every other byte as
// it stands), blanks, and how messages end.
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

// S without blanks, tabs and line breaks at either end.
std::string_view Trim(std::string_view S);

// A system's description of an error without the line breaks, blanks and
// full stops it ends with: the messages that quote it add their own.
std::string_view TrimMessageEnd(std::string_view Message);
// Message with a full stop appended when its last character sorts after "."
// (a message ending in ".", or in a blank or "!", gets none).
std::string AppendFullStop(const std::string& Message);

}  // namespace kv
