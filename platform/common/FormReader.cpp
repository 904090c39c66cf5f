// Reads a form's stored properties from their text description.
#include "konvoro/FormReader.h"

#include <string>
#include <vector>

#include "konvoro/ClassMessages.h"
#include "konvoro/Exceptions.h"
#include "konvoro/Format.h"
#include "konvoro/Text.h"

namespace kv {

namespace {

// A quoted string: 'text' with '' for a quote, and #nn character codes
// between the pieces ('a'#13#10'b'). Raises Exception when malformed.
std::string UnquoteString(std::string_view Value) {
  std::string Out;
  size_t I = 0;
  while (I < Value.size()) {
    if (Value[I] == '\'') {
      ++I;
      for (;;) {
        if (I >= Value.size()) throw Exception("unterminated string");
        if (Value[I] == '\'') {
          if (I + 1 < Value.size() && Value[I + 1] == '\'') {
            Out.push_back('\'');
            I += 2;
            continue;
          }
          ++I;
          break;
        }
        Out.push_back(Value[I++]);
      }
    } else if (Value[I] == '#') {
      size_t End = ++I;
      unsigned Code = 0;
      while (End < Value.size() && Value[End] >= '0' && Value[End] <= '9' && Code < 256)
        Code = Code * 10 + unsigned(Value[End++] - '0');
      if (End == I || Code > 255) throw Exception("bad character code");
      Out.push_back(char(Code));
      I = End;
    } else {
      throw Exception("bad string value");
    }
  }
  return Out;
}

// Sets Path ("Font.Height") on Root, walking through class-typed properties.
void SetPath(TComponent& Root, std::string_view Path, std::string_view Value) {
  TPersistent* Target = &Root;
  for (size_t Dot; (Dot = Path.find('.')) != std::string_view::npos;) {
    const std::string_view Head = Path.substr(0, Dot);
    const TPropInfo* Info = FindPropInfo(*Target, Head);
    if (Info == nullptr) throw EPropertyError(Format(messages::SUnknownProperty, Head));
    if (Info->Kind != TTypeKind::tkClass) throw EPropertyError(messages::SInvalidPropertyValue);
    Target = Info->ObjectOf(*Target);
    Path.remove_prefix(Dot + 1);
  }
  const TPropInfo* Info = FindPropInfo(*Target, Path);
  if (Info == nullptr) throw EPropertyError(Format(messages::SUnknownProperty, Path));
  const std::string Text =
      (Info->Kind == TTypeKind::tkString) ? UnquoteString(Value) : std::string(Value);
  Info->Set(*Target, Text, &Root);
}

}  // namespace

void ReadFormText(std::string_view Text, TComponent& Root, std::string_view ClassName,
                  std::string_view ResourceName) {
  std::vector<std::string_view> Lines;
  for (size_t Start = 0; Start <= Text.size();) {
    size_t End = Text.find('\n', Start);
    if (End == std::string_view::npos) End = Text.size();
    Lines.push_back(Text.substr(Start, End - Start));
    Start = End + 1;
  }
  size_t LineNo = 0;
  auto Fail = [&](std::string_view Why) {
    throw EReadFormError(Format(messages::SReadFormError, ResourceName, int32_t(LineNo), Why));
  };

  bool InObject = false, Ended = false;
  for (const std::string_view Raw : Lines) {
    ++LineNo;
    const std::string_view Line = Trim(Raw);
    if (Line.empty()) continue;
    if (Ended) Fail("text after the end of the object");
    if (!InObject) {
      // object Name: ClassName
      if (Line.substr(0, 7) != "object ") Fail("expected \"object Name: ClassName\"");
      const std::string_view Rest = Trim(Line.substr(7));
      const size_t Colon = Rest.find(':');
      if (Colon == std::string_view::npos) Fail("expected \"object Name: ClassName\"");
      const std::string_view Name = Trim(Rest.substr(0, Colon));
      const std::string_view Class = Trim(Rest.substr(Colon + 1));
      if (!SameText(Class, ClassName))
        Fail(Format("the object is a %s, not a %s", Class, ClassName));
      Root.SetName(std::string(Name));
      InObject = true;
      continue;
    }
    if (Line == "end") {
      Ended = true;
      continue;
    }
    if (Line.substr(0, 7) == "object " || Line.substr(0, 10) == "inherited ")
      Fail("child objects are not supported");
    const size_t Equals = Line.find('=');
    if (Equals == std::string_view::npos) Fail("expected \"Property = Value\"");
    const std::string_view Property = Trim(Line.substr(0, Equals));
    const std::string_view Value = Trim(Line.substr(Equals + 1));
    try {
      SetPath(Root, Property, Value);
    } catch (const Exception& E) {
      Fail(Format("%s: %s", Property, E.Message()));
    }
  }
  if (!InObject) Fail("no object in the form resource");
  if (!Ended) Fail("missing \"end\"");
}

}  // namespace kv
