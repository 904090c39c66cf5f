// The object model of the class library: TObject, TPersistent with its
// published-property table, and TComponent with owner and state.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
};

// An event that hands over its sender.
using TNotifyEvent = std::function<void(TObject* Sender)>;

class TPersistent;

enum class TTypeKind : uint8_t { tkInteger, tkEnumeration, tkSet, tkString, tkClass, tkMethod };

// One row of a class's published-property table: the property's name, type
// and default, and how to read and set it by name. Values travel as text:
// "True"/"False", an enumeration or set identifier ("fcDefault",
// "[fsBold]"), a decimal or an identifier for integers, the bytes of a
// string; an event reads as "" when unassigned.
struct TPropInfo {
  std::string_view Name;
  std::string_view TypeName;
  TTypeKind Kind;
  std::string_view Default;
  // For an event type: its parameters as the type information records them.
  std::string_view Parameters;
  std::string (*Get)(const TPersistent& Instance);
  // Raises EPropertyError("Invalid property value") for a value the type
  // cannot hold. MethodOwner resolves an event's method name.
  void (*Set)(TPersistent& Instance, std::string_view Value, TPersistent* MethodOwner);
  // For a class-typed property: the object it holds.
  TPersistent* (*ObjectOf)(TPersistent& Instance);
};

class TPersistent : public TObject {
 public:
  // The class's published properties, in published order.
  virtual std::span<const TPropInfo> PublishedProperties() const { return {}; }
  // The published method Name of this object bound to it, as the event type
  // it fits (a std::function inside the std::any), or an empty std::any.
  virtual std::any MethodAddress(std::string_view Name);
};

// The published property Name of Instance (letter case ignored), or nullptr.
const TPropInfo* FindPropInfo(const TPersistent& Instance, std::string_view Name);
// Reads a published property by name. Raises EPropertyError("Property %s does
// not exist") for an unknown name.
std::string GetPropValue(const TPersistent& Instance, std::string_view Name);
// Sets a published property by name; an event's value is the name of a
// published method of MethodOwner ("" unassigns it). Raises EPropertyError.
void SetPropValue(TPersistent& Instance, std::string_view Name, std::string_view Value,
                  TPersistent* MethodOwner = nullptr);

// The owner-managed base of components. A component made with an owner is
// listed among the owner's Components. Ownership in the C++ sense stays with
// whoever made the component, until it is handed to an owner with
// InsertComponent. Destroying an owner destroys the components handed to
// it, each once, the last inserted first, and detaches the others. A
// component destroyed before its owner takes itself off the owner's list.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;

  // Hands Component to this component, which frees it when it is destroyed;
  // Component moves into this one's list if another owner (or none) had it.
  // Returns it, for use while this component lives.
  template <class T>
  T& InsertComponent(std::unique_ptr<T> Component) {
    T& Inserted = *Component;
    Hold(std::move(Component));
    return Inserted;
  }

  TComponent* GetOwner() const { return FOwner; }
  const std::string& GetName() const { return FName; }
  void SetName(std::string Name) { FName = std::move(Name); }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int Index) const {
    return FComponents.at(static_cast<size_t>(Index)).Component;
  }
  // True once destruction has begun (the csDestroying state).
  bool IsDestroying() const { return FDestroying; }

  std::span<const TPropInfo> PublishedProperties() const override;

 protected:
  // Marks the component as being destroyed. Derived destructors call it
  // first, so that work they do while tearing down can tell.
  void Destroying() { FDestroying = true; }
  // Destroys the held components, the last inserted first, and detaches the
  // others. The base destructor does it; a derived destructor calls it
  // earlier when its components must go before its own members.
  void DestroyComponents();

 private:
  struct TListed {
    TComponent* Component;
    std::unique_ptr<TComponent> Held;  // set once handed over with InsertComponent
  };

  void Hold(std::unique_ptr<TComponent> Component);
  // Takes Component off this component's list; frees nothing.
  void Remove(TComponent& Component);

  TComponent* FOwner;
  std::vector<TListed> FComponents;
  std::string FName;
  bool FDestroying = false;
};

// ---------------------------------------------------------------------------
// Building blocks for published-property tables.

// A value of an enumeration or set element and its identifier.
struct TIdentMapEntry {
  int32_t Value;
  std::string_view Name;
};

namespace published {

template <class>
struct TObjectGetterTraits;
template <class C, class R>
struct TObjectGetterTraits<R& (C::*)()> {
  using Class = C;
};

template <class>
struct TGetterTraits;
template <class C, class R>
struct TGetterTraits<R (C::*)() const> {
  using Class = C;
  using Value = std::remove_cvref_t<R>;
};

// Text conversions shared by the property kinds; each raises EPropertyError.
std::string BoolToText(bool Value);
bool TextToBool(std::string_view Text);
std::string IntToText(int32_t Value, std::span<const TIdentMapEntry> Idents);
int32_t TextToInt(std::string_view Text, std::span<const TIdentMapEntry> Idents);
std::string SetToText(uint32_t Bits, std::span<const TIdentMapEntry> Elements);
uint32_t TextToSet(std::string_view Text, std::span<const TIdentMapEntry> Elements);
[[noreturn]] void InvalidValue();
bool IsIdentValue(int32_t Value, std::span<const TIdentMapEntry> Idents);
// What an assigned event reads as.
inline constexpr const char* AssignedText = "(assigned)";

template <auto Getter>
using ClassOf = typename TGetterTraits<decltype(Getter)>::Class;
template <auto Getter>
using ValueOf = typename TGetterTraits<decltype(Getter)>::Value;

template <auto Getter>
const ClassOf<Getter>& As(const TPersistent& I) {
  return static_cast<const ClassOf<Getter>&>(I);
}
template <auto Getter>
ClassOf<Getter>& As(TPersistent& I) {
  return static_cast<ClassOf<Getter>&>(I);
}

template <auto Getter, auto Setter>
constexpr TPropInfo BooleanProperty(std::string_view Name, std::string_view Default) {
  return {Name,
          "Boolean",
          TTypeKind::tkEnumeration,
          Default,
          {},
          [](const TPersistent& I) { return BoolToText((As<Getter>(I).*Getter)()); },
          [](TPersistent& I, std::string_view V, TPersistent*) {
            (As<Getter>(I).*Setter)(TextToBool(V));
          },
          nullptr};
}

// An integer, written as a decimal or as one of Idents' identifiers.
template <auto Getter, auto Setter, const auto& Idents>
constexpr TPropInfo IntegerProperty(std::string_view Name, std::string_view TypeName,
                                    std::string_view Default) {
  return {Name,
          TypeName,
          TTypeKind::tkInteger,
          Default,
          {},
          [](const TPersistent& I) {
            return IntToText(static_cast<int32_t>((As<Getter>(I).*Getter)()), Idents);
          },
          [](TPersistent& I, std::string_view V, TPersistent*) {
            (As<Getter>(I).*Setter)(static_cast<ValueOf<Getter>>(TextToInt(V, Idents)));
          },
          nullptr};
}

// An enumeration, written only as one of Idents' identifiers.
template <auto Getter, auto Setter, const auto& Idents>
constexpr TPropInfo EnumProperty(std::string_view Name, std::string_view TypeName,
                                 std::string_view Default) {
  return {Name,
          TypeName,
          TTypeKind::tkEnumeration,
          Default,
          {},
          [](const TPersistent& I) {
            return IntToText(static_cast<int32_t>((As<Getter>(I).*Getter)()), Idents);
          },
          [](TPersistent& I, std::string_view V, TPersistent*) {
            const int32_t Value = TextToInt(V, Idents);
            if (!IsIdentValue(Value, Idents)) InvalidValue();
            (As<Getter>(I).*Setter)(static_cast<ValueOf<Getter>>(Value));
          },
          nullptr};
}

// A set of enumeration elements held as bits (element n is bit n).
template <auto Getter, auto Setter, const auto& Elements>
constexpr TPropInfo SetProperty(std::string_view Name, std::string_view TypeName,
                                std::string_view Default) {
  return {Name,
          TypeName,
          TTypeKind::tkSet,
          Default,
          {},
          [](const TPersistent& I) {
            return SetToText(static_cast<uint32_t>((As<Getter>(I).*Getter)()), Elements);
          },
          [](TPersistent& I, std::string_view V, TPersistent*) {
            (As<Getter>(I).*Setter)(static_cast<ValueOf<Getter>>(TextToSet(V, Elements)));
          },
          nullptr};
}

template <auto Getter, auto Setter>
constexpr TPropInfo StringProperty(std::string_view Name, std::string_view Default) {
  return {Name,
          "string",
          TTypeKind::tkString,
          Default,
          {},
          [](const TPersistent& I) { return std::string((As<Getter>(I).*Getter)()); },
          [](TPersistent& I, std::string_view V, TPersistent*) {
            (As<Getter>(I).*Setter)(std::string(V));
          },
          nullptr};
}

// An object-valued property whose own published properties are set through
// it ("Font.Height"). Getter is a non-const member returning a reference.
template <auto Getter>
constexpr TPropInfo ClassProperty(std::string_view Name, std::string_view TypeName) {
  return {
      Name,
      TypeName,
      TTypeKind::tkClass,
      {},
      {},
      [](const TPersistent&) { return std::string(); },
      [](TPersistent&, std::string_view, TPersistent*) { InvalidValue(); },
      [](TPersistent& I) -> TPersistent* {
        return &(static_cast<typename TObjectGetterTraits<decltype(Getter)>::Class&>(I).*Getter)();
      }};
}

// An event: a std::function, empty when unassigned.
template <auto Getter, auto Setter>
constexpr TPropInfo EventProperty(std::string_view Name, std::string_view TypeName,
                                  std::string_view Parameters) {
  return {Name,
          TypeName,
          TTypeKind::tkMethod,
          {},
          Parameters,
          [](const TPersistent& I) {
            return std::string((As<Getter>(I).*Getter)() ? AssignedText : "");
          },
          [](TPersistent& I, std::string_view V, TPersistent* MethodOwner) {
            using TEvent = ValueOf<Getter>;
            if (V.empty()) {
              (As<Getter>(I).*Setter)(TEvent());
              return;
            }
            if (MethodOwner == nullptr) InvalidValue();
            const std::any Method = MethodOwner->MethodAddress(V);
            const auto* Event = std::any_cast<TEvent>(&Method);
            if (Event == nullptr) InvalidValue();
            (As<Getter>(I).*Setter)(*Event);
          },
          nullptr};
}

}  // namespace published

}  // namespace kv
