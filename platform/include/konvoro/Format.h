// Message formatting with the class library's placeholders.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// One argument of Format: a byte string for %s or an integer for %d.
class TFormatArg {
 public:
  TFormatArg(std::string_view Text) : FText(Text), FIsText(true) {}
  TFormatArg(const std::string& Text) : FText(Text), FIsText(true) {}
  TFormatArg(const char* Text) : FText(Text), FIsText(true) {}
  TFormatArg(int64_t Number) : FNumber(Number) {}
  TFormatArg(int32_t Number) : FNumber(Number) {}
  TFormatArg(uint32_t Number) : FNumber(Number) {}

  void AppendTo(std::string& Out) const;

 private:
  std::string_view FText;
  int64_t FNumber = 0;
  bool FIsText = false;
};

// Replaces each %s or %d in Pattern with the next argument, in order, and
// "%%" with "%". Strings are inserted byte for byte (embedded NULs included);
// a placeholder without an argument is left as it stands.
std::string FormatArgs(std::string_view Pattern, std::initializer_list<TFormatArg> Args);

template <class... Ts>
std::string Format(std::string_view Pattern, const Ts&... Args) {
  return FormatArgs(Pattern, {TFormatArg(Args)...});
}

}  // namespace kv
