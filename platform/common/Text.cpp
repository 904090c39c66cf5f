// Small text rules used across the layers.
#include "konvoro/Text.h"

#include <algorithm>

namespace kv {

namespace {

bool IsBlank(char C) {
  return C == ' ' || C == '\t' || C == '\r' || C == '\n';
}

class TSystemAnsiRules final : public TCharRules {
 public:
  size_t CharLength(std::string_view Text) const override { return AnsiCharLength(Text); }
  bool IsValid(std::string_view Text) const override { return IsValidAnsiText(Text); }
};

}  // namespace

const TCharRules& SystemAnsiRules() {
  static const TSystemAnsiRules Rules;
  return Rules;
}

std::string UpperCase(std::string_view S) {
  std::string Out(S);
  std::transform(Out.begin(), Out.end(), Out.begin(), UpCase);
  return Out;
}

std::string LowerCase(std::string_view S) {
  std::string Out(S);
  std::transform(Out.begin(), Out.end(), Out.begin(), LowCase);
  return Out;
}

bool SameText(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(),
                                            [](char X, char Y) { return UpCase(X) == UpCase(Y); });
}

int CompareText(std::string_view A, std::string_view B) {
  const size_t Common = std::min(A.size(), B.size());
  for (size_t I = 0; I < Common; ++I) {
    const auto X = static_cast<unsigned char>(UpCase(A[I]));
    const auto Y = static_cast<unsigned char>(UpCase(B[I]));
    if (X != Y) return X < Y ? -1 : 1;
  }
  return A.size() == B.size() ? 0 : (A.size() < B.size() ? -1 : 1);
}

std::string_view LastAnsiChar(std::string_view Text) {
  std::string_view Last;
  ForEachAnsiChar(Text, [&](std::string_view Char) { Last = Char; });
  return Last;
}

std::string_view Trim(std::string_view S) {
  while (!S.empty() && IsBlank(S.front()))
    S.remove_prefix(1);
  while (!S.empty() && IsBlank(S.back()))
    S.remove_suffix(1);
  return S;
}

std::string_view TrimMessageEnd(std::string_view Message) {
  while (!Message.empty() && (Message.back() == '.' || IsBlank(Message.back())))
    Message.remove_suffix(1);
  return Message;
}

std::string AppendFullStop(const std::string& Message) {
  if (!Message.empty() && static_cast<unsigned char>(Message.back()) > '.') return Message + '.';
  return Message;
}

}  // namespace kv
