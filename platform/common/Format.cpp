// Message formatting with the class library's placeholders.
#include "konvoro/Format.h"

namespace kv {

void TFormatArg::AppendTo(std::string& Out) const {
  if (FIsText)
    Out.append(FText);
  else
    Out.append(std::to_string(FNumber));
}

std::string FormatArgs(std::string_view Pattern, std::initializer_list<TFormatArg> Args) {
  std::string Out;
  Out.reserve(Pattern.size() + 32);
  auto Next = Args.begin();
  for (size_t I = 0; I < Pattern.size(); ++I) {
    const char C = Pattern[I];
    if (C == '%' && I + 1 < Pattern.size()) {
      const char Conversion = Pattern[I + 1];
      if (Conversion == '%') {
        Out.push_back('%');
        ++I;
        continue;
      }
      if ((Conversion == 's' || Conversion == 'd') && Next != Args.end()) {
        (Next++)->AppendTo(Out);
        ++I;
        continue;
      }
    }
    Out.push_back(C);
  }
  return Out;
}

}  // namespace kv
