// The application object, forms and the message loop (Windows only).
//
// Start-up order: construct the TApplication, Initialize, CreateForm the
// main form (its OnCreate fires after construction, before the window is
// shown), Run. Terminate posts the quit message; the loop ends when it takes
// it. An exception that leaves an event handler or a window procedure is
// shown by the application object and the program goes on.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <string>

#include "WinHandles.h"
#include "konvoro/Component.h"

namespace kv {

class TForm;

// Colours: an RGB value, or a system colour (high byte 0x80 plus the index).
using TColor = int32_t;
inline constexpr TColor clBtnFace = int32_t(0x8000000F);
inline constexpr TColor clWindowText = int32_t(0x80000008);
inline constexpr TColor clWindow = int32_t(0x80000005);
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;

// A font description, stored with the form.
class TFont : public TPersistent {
 public:
  uint8_t GetCharset() const { return FCharset; }
  void SetCharset(uint8_t Value) { FCharset = Value; }
  TColor GetColor() const { return FColor; }
  void SetColor(TColor Value) { FColor = Value; }
  int32_t GetHeight() const { return FHeight; }
  void SetHeight(int32_t Value) { FHeight = Value; }
  const std::string& GetName() const { return FName; }
  void SetName(std::string Value) { FName = std::move(Value); }
  // Bits: fsBold, fsItalic, fsUnderline, fsStrikeOut.
  uint8_t GetStyle() const { return FStyle; }
  void SetStyle(uint8_t Value) { FStyle = Value; }

  std::span<const TPropInfo> PublishedProperties() const override;

 private:
  uint8_t FCharset = 1;  // DEFAULT_CHARSET
  TColor FColor = clWindowText;
  int32_t FHeight = -11;
  std::string FName = "MS Sans Serif";
  uint8_t FStyle = 0;
};

// A top-level window. Its stored properties come from the RCDATA resource
// named after its class (upper case), read by ReadState once the object is
// fully constructed (so that event values find the derived class's
// methods); the window itself is made when it is first needed, hidden until
// shown.
class TForm : public TComponent {
 public:
  TForm(TComponent* AOwner, std::string ClassName);
  ~TForm() override;

  // Reads and applies the form resource. Raises EResNotFound when it is
  // missing and EReadFormError when it is damaged.
  void ReadState();
  // Fires OnCreate (the stored properties are all set by then). An exception
  // from the handler is shown by the application object and swallowed.
  virtual void AfterConstruction();

  // The window handle, creating the window on first use.
  HWND Handle();
  // Shows the window with the given show command (SW_SHOWNORMAL = 1,
  // SW_SHOWMAXIMIZED = 3, SW_SHOWMINNOACTIVE = 7).
  void Show(int ShowCommand = 1);
  void Close();

  int32_t GetLeft() const { return FLeft; }
  void SetLeft(int32_t Value) { FLeft = Value; }
  int32_t GetTop() const { return FTop; }
  void SetTop(int32_t Value) { FTop = Value; }
  int32_t GetWidth() const { return FWidth; }
  void SetWidth(int32_t Value) { FWidth = Value; }
  int32_t GetHeight() const { return FHeight; }
  void SetHeight(int32_t Value) { FHeight = Value; }
  const std::string& GetCaption() const { return FCaption; }
  void SetCaption(std::string Value);
  TColor GetColor() const { return FColor; }
  void SetColor(TColor Value);
  TFont& Font() { return FFont; }
  bool GetOldCreateOrder() const { return FOldCreateOrder; }
  void SetOldCreateOrder(bool Value) { FOldCreateOrder = Value; }
  int32_t GetPixelsPerInch() const { return FPixelsPerInch; }
  void SetPixelsPerInch(int32_t Value) { FPixelsPerInch = Value; }
  int32_t GetTextHeight() const { return FTextHeight; }
  void SetTextHeight(int32_t Value) { FTextHeight = Value; }
  const TNotifyEvent& GetOnCreate() const { return FOnCreate; }
  void SetOnCreate(TNotifyEvent Value) { FOnCreate = std::move(Value); }

  std::span<const TPropInfo> PublishedProperties() const override;

  // The window procedure's work for this form's window Window; public for
  // the procedure.
  LRESULT WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);

 private:
  void CreateHandle();

  std::string FClassName;
  TUniqueWindow FHandle;
  // The background, in FColor; made when first painted.
  TUniqueBrush FBrush;
  int32_t FLeft = 0, FTop = 0, FWidth = 320, FHeight = 240;
  std::string FCaption;
  TColor FColor = clBtnFace;
  TFont FFont;
  bool FOldCreateOrder = false;
  int32_t FPixelsPerInch = 96;
  int32_t FTextHeight = 13;
  TNotifyEvent FOnCreate;
};

// The one application object, with its hidden application window.
class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  // Runs the initialisation hook, if one was installed.
  void Initialize();
  // Creates a form of class T into Reference: Reference is set once the
  // constructor has run, OnCreate fires, and the first form created becomes
  // the main form. A failing constructor resets Reference and propagates.
  // The application object owns its forms and frees them when it goes.
  template <class T>
  void CreateForm(T*& Reference);
  // Shows the main form (maximised or minimised as the process was started)
  // and runs the message loop until the quit message arrives.
  void Run();
  // Posts the quit message with exit code 0; the loop ends when it takes it.
  void Terminate();
  bool Terminated() const { return FTerminated; }

  // Shows an exception in a message box owned by the application window:
  // its message with a full stop appended by AppendFullStop (Text.h), the
  // application title, an OK button and the stop icon.
  void ShowException(const std::exception& E);
  void HandleUnknownException();

  const std::string& GetTitle() const { return FTitle; }
  HWND Handle() const { return FHandle.Get(); }
  TForm* GetMainForm() const { return FMainForm; }

  // The hook Initialize runs; none by default.
  void (*InitProc)() = nullptr;

 private:
  void RegisterForm(std::unique_ptr<TForm> Form);
  bool ProcessMessage();

  std::string FTitle;
  TUniqueWindow FHandle;
  bool FTerminated = false;
  TForm* FMainForm = nullptr;
};

// The application object, set while one exists.
extern TApplication* Application;

// The default application title for an executable path: the file name (the
// path converted from the OEM to the ANSI code page first), cut before its
// first full stop, every character after the first lower-cased.
std::string ApplicationTitleFromPath(const std::string& ExePath);

template <class T>
void TApplication::CreateForm(T*& Reference) {
  std::unique_ptr<T> Form;
  try {
    Form = std::make_unique<T>(this);
    Form->ReadState();
  } catch (...) {
    // Any failure of construction: the reference must not dangle; the
    // failure itself passes on unchanged.
    Reference = nullptr;
    throw;
  }
  Reference = Form.get();
  Form->AfterConstruction();
  RegisterForm(std::move(Form));
}

}  // namespace kv
