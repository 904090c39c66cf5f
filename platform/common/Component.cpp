// The object model of the class library: published properties by name,
// components and their owners.
#include "konvoro/Component.h"

#include <algorithm>
#include <charconv>

#include "konvoro/ClassMessages.h"
#include "konvoro/Exceptions.h"
#include "konvoro/Format.h"
#include "konvoro/Text.h"

namespace kv {

std::any TPersistent::MethodAddress(std::string_view) {
  return {};
}

const TPropInfo* FindPropInfo(const TPersistent& Instance, std::string_view Name) {
  for (const TPropInfo& Info : Instance.PublishedProperties())
    if (SameText(Info.Name, Name)) return &Info;
  return nullptr;
}

std::string GetPropValue(const TPersistent& Instance, std::string_view Name) {
  const TPropInfo* Info = FindPropInfo(Instance, Name);
  if (Info == nullptr) throw EPropertyError(Format(messages::SUnknownProperty, Name));
  return Info->Get(Instance);
}

void SetPropValue(TPersistent& Instance, std::string_view Name, std::string_view Value,
                  TPersistent* MethodOwner) {
  const TPropInfo* Info = FindPropInfo(Instance, Name);
  if (Info == nullptr) throw EPropertyError(Format(messages::SUnknownProperty, Name));
  Info->Set(Instance, Value, MethodOwner);
}

// ---------------------------------------------------------------------------

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) FOwner->FComponents.push_back({this, nullptr});
}

TComponent::~TComponent() {
  FDestroying = true;
  DestroyComponents();
  if (FOwner) FOwner->Remove(*this);
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TListed Last = std::move(FComponents.back());
    FComponents.pop_back();
    // Off the list and detached before it goes, so that its destructor
    // leaves this component alone; Last.Held frees it at the end of the
    // round.
    Last.Component->FOwner = nullptr;
  }
}

void TComponent::Hold(std::unique_ptr<TComponent> Component) {
  if (Component->FOwner != this) {
    if (Component->FOwner) Component->FOwner->Remove(*Component);
    Component->FOwner = this;
    FComponents.push_back({Component.get(), nullptr});
  }
  const auto Listed = std::find_if(FComponents.begin(), FComponents.end(), [&](const TListed& L) {
    return L.Component == Component.get();
  });
  Listed->Held = std::move(Component);
}

void TComponent::Remove(TComponent& Component) {
  std::erase_if(FComponents, [&](const TListed& Listed) { return Listed.Component == &Component; });
}

std::span<const TPropInfo> TComponent::PublishedProperties() const {
  static constexpr TPropInfo Properties[] = {
      published::StringProperty<&TComponent::GetName, &TComponent::SetName>("Name", ""),
  };
  return Properties;
}

// ---------------------------------------------------------------------------

namespace published {

void InvalidValue() {
  throw EPropertyError(messages::SInvalidPropertyValue);
}

std::string BoolToText(bool Value) {
  return Value ? "True" : "False";
}

bool TextToBool(std::string_view Text) {
  Text = Trim(Text);
  if (SameText(Text, "True")) return true;
  if (SameText(Text, "False")) return false;
  InvalidValue();
}

bool IsIdentValue(int32_t Value, std::span<const TIdentMapEntry> Idents) {
  return std::any_of(Idents.begin(), Idents.end(),
                     [Value](const TIdentMapEntry& E) { return E.Value == Value; });
}

std::string IntToText(int32_t Value, std::span<const TIdentMapEntry> Idents) {
  for (const TIdentMapEntry& E : Idents)
    if (E.Value == Value) return std::string(E.Name);
  return std::to_string(Value);
}

int32_t TextToInt(std::string_view Text, std::span<const TIdentMapEntry> Idents) {
  Text = Trim(Text);
  for (const TIdentMapEntry& E : Idents)
    if (SameText(E.Name, Text)) return E.Value;
  int32_t Value = 0;
  const char* First = Text.data();
  const char* Last = Text.data() + Text.size();
  const auto [End, Error] = std::from_chars(First, Last, Value);
  if (Text.empty() || Error != std::errc() || End != Last) InvalidValue();
  return Value;
}

std::string SetToText(uint32_t Bits, std::span<const TIdentMapEntry> Elements) {
  std::string Out = "[";
  for (const TIdentMapEntry& E : Elements) {
    if ((Bits & (1u << E.Value)) == 0) continue;
    if (Out.size() > 1) Out += ',';
    Out += E.Name;
  }
  return Out + "]";
}

uint32_t TextToSet(std::string_view Text, std::span<const TIdentMapEntry> Elements) {
  Text = Trim(Text);
  if (Text.size() < 2 || Text.front() != '[' || Text.back() != ']') InvalidValue();
  Text = Text.substr(1, Text.size() - 2);
  uint32_t Bits = 0;
  while (!Trim(Text).empty()) {
    const size_t Comma = Text.find(',');
    const std::string_view Item = Trim(Text.substr(0, Comma));
    const auto Found =
        std::find_if(Elements.begin(), Elements.end(),
                     [Item](const TIdentMapEntry& E) { return SameText(E.Name, Item); });
    if (Found == Elements.end()) InvalidValue();
    Bits |= 1u << Found->Value;
    if (Comma == std::string_view::npos) break;
    Text.remove_prefix(Comma + 1);
  }
  return Bits;
}

}  // namespace published

}  // namespace kv
