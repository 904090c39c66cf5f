// Reading a form's stored properties: values of every kind applied by name,
// events bound to published methods, and damaged descriptions refused.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "konvoro/Component.h"
#include "konvoro/Exceptions.h"
#include "konvoro/FormReader.h"
#include "konvoro/Text.h"

using namespace kv;
using kvtest::MessageOf;

namespace {

constexpr TIdentMapEntry NoIdents[] = {{0, ""}};
constexpr TIdentMapEntry ColourNames[] = {{int32_t(0x8000000F), "clBtnFace"}};
constexpr TIdentMapEntry StyleNames[] = {{0, "fsBold"}, {1, "fsItalic"}};

class TLabelFont : public TPersistent {
 public:
  int32_t GetHeight() const { return FHeight; }
  void SetHeight(int32_t V) { FHeight = V; }
  uint8_t GetStyle() const { return FStyle; }
  void SetStyle(uint8_t V) { FStyle = V; }
  std::span<const TPropInfo> PublishedProperties() const override {
    using namespace published;
    static constexpr TPropInfo P[] = {
        IntegerProperty<&TLabelFont::GetHeight, &TLabelFont::SetHeight, NoIdents>("Height",
                                                                                  "Integer", "0"),
        SetProperty<&TLabelFont::GetStyle, &TLabelFont::SetStyle, StyleNames>("Style",
                                                                              "TFontStyles", "[]"),
    };
    return P;
  }

 private:
  int32_t FHeight = 0;
  uint8_t FStyle = 0;
};

class TSampleForm : public TComponent {
 public:
  TSampleForm() : TComponent(nullptr) {}
  int32_t GetLeft() const { return FLeft; }
  void SetLeft(int32_t V) { FLeft = V; }
  int32_t GetColor() const { return FColor; }
  void SetColor(int32_t V) { FColor = V; }
  const std::string& GetCaption() const { return FCaption; }
  void SetCaption(std::string V) { FCaption = std::move(V); }
  bool GetOld() const { return FOld; }
  void SetOld(bool V) { FOld = V; }
  TLabelFont& Font() { return FFont; }
  const TNotifyEvent& GetOnCreate() const { return FOnCreate; }
  void SetOnCreate(TNotifyEvent V) { FOnCreate = std::move(V); }

  std::span<const TPropInfo> PublishedProperties() const override {
    using namespace published;
    using F = TSampleForm;
    static constexpr TPropInfo P[] = {
        StringProperty<&F::GetName, &F::SetName>("Name", ""),
        IntegerProperty<&F::GetLeft, &F::SetLeft, NoIdents>("Left", "Integer", "0"),
        IntegerProperty<&F::GetColor, &F::SetColor, ColourNames>("Color", "TColor", "0"),
        StringProperty<&F::GetCaption, &F::SetCaption>("Caption", ""),
        BooleanProperty<&F::GetOld, &F::SetOld>("OldCreateOrder", "False"),
        ClassProperty<&F::Font>("Font", "TFont"),
        EventProperty<&F::GetOnCreate, &F::SetOnCreate>("OnCreate", "TNotifyEvent",
                                                        "Sender: TObject"),
    };
    return P;
  }
  std::any MethodAddress(std::string_view Name) override {
    if (Name == "FormCreate") return TNotifyEvent([this](TObject*) { ++Created; });
    return {};
  }
  int Created = 0;

 private:
  int32_t FLeft = 0, FColor = 0;
  std::string FCaption;
  bool FOld = true;
  TLabelFont FFont;
  TNotifyEvent FOnCreate;
};

}  // namespace

TEST(FormReader, AppliesEveryKindOfValueByName) {
  TSampleForm Form;
  ReadFormText(
      "object Form1: TSampleForm\r\n"
      "  Left = 338\r\n"
      "  Caption = 'It''s a'#32'form'\r\n"
      "  Color = clBtnFace\r\n"
      "  Font.Height = -11\r\n"
      "  Font.Style = [fsItalic]\r\n"
      "  OldCreateOrder = False\r\n"
      "  OnCreate = FormCreate\r\n"
      "end\r\n",
      Form, "TSampleForm", "TSAMPLEFORM");
  EXPECT_EQ(Form.GetName(), "Form1");
  EXPECT_EQ(Form.GetLeft(), 338);
  EXPECT_EQ(Form.GetCaption(), "It's a form");
  EXPECT_EQ(Form.GetColor(), int32_t(0x8000000F));
  EXPECT_EQ(Form.Font().GetHeight(), -11);
  EXPECT_EQ(Form.Font().GetStyle(), 2);
  EXPECT_FALSE(Form.GetOld());
  ASSERT_TRUE(Form.GetOnCreate());
  Form.GetOnCreate()(&Form);
  EXPECT_EQ(Form.Created, 1) << "the event is bound to the form's own method";
}

TEST(FormReader, DamagedDescriptionsAreRefusedWithTheLineAndCause) {
  struct TCase {
    const char* Text;
    const char* Message;
  };
  const TCase Cases[] = {
      {.Text = "object Form1: TOther\nend\n",
       .Message = "line 1: the object is a TOther, not a TSampleForm"},
      {.Text = "object Form1: TSampleForm\n  Lfet = 1\nend\n",
       .Message = "line 2: Lfet: Property Lfet does not exist"},
      {.Text = "object Form1: TSampleForm\n  Left = 1x\nend\n",
       .Message = "line 2: Left: Invalid property value"},
      {.Text = "object Form1: TSampleForm\n  Caption = 'open\nend\n",
       .Message = "line 2: Caption: unterminated string"},
      {.Text = "object Form1: TSampleForm\n  OnCreate = Missing\nend\n",
       .Message = "line 2: OnCreate: Invalid property value"},
      {.Text = "object Form1: TSampleForm\n  Font.Style = [fsBold,fsHuge]\nend\n",
       .Message = "line 2: Font.Style: Invalid property value"},
      {.Text = "object Form1: TSampleForm\n  Left 5\nend\n",
       .Message = "line 2: expected \"Property = Value\""},
      {.Text = "object Form1: TSampleForm\n  Left = 5\n", .Message = "missing \"end\""},
      {.Text = "", .Message = "no object in the form resource"},
      {.Text = "\x89PNG binary junk", .Message = "line 1: expected \"object Name: ClassName\""},
  };
  for (const TCase& C : Cases) {
    TSampleForm Form;
    const std::string Message =
        MessageOf([&] { ReadFormText(C.Text, Form, "TSampleForm", "TSAMPLEFORM"); });
    EXPECT_EQ(Message.rfind("Error reading form resource TSAMPLEFORM, ", 0), 0u) << Message;
    EXPECT_NE(Message.find(C.Message), std::string::npos) << Message;
  }
}

TEST(Dialogs, FullStopIsAppendedOnlyAfterCharactersThatSortAfterIt) {
  EXPECT_EQ(AppendFullStop("Resource ZLBData not found"), "Resource ZLBData not found.");
  EXPECT_EQ(AppendFullStop("Done."), "Done.");
  EXPECT_EQ(AppendFullStop("Stop!"), "Stop!");
  EXPECT_EQ(AppendFullStop("trailing blank "), "trailing blank ");
  EXPECT_EQ(AppendFullStop("path\\"), "path\\.");
  EXPECT_EQ(AppendFullStop("ends in \xE9"), "ends in \xE9.") << "bytes compare unsigned";
  EXPECT_EQ(AppendFullStop(""), "");
}
