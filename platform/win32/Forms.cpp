// The application object, forms and the message loop, over user32.
#include "Forms.h"

#include "CodePages.h"
#include "Resources.h"
#include "konvoro/ClassMessages.h"
#include "konvoro/Environment.h"
#include "konvoro/Exceptions.h"
#include "konvoro/FormReader.h"
#include "konvoro/Text.h"

namespace kv {

TApplication* Application = nullptr;

namespace {

constexpr const char* ApplicationClassName = "TApplication";

COLORREF ColorToRGB(TColor Color) {
  return Color < 0 ? ::GetSysColor(Color & 0xFF) : COLORREF(Color);
}

// Exceptions must not cross the system's frames: every window procedure
// hands them to the application object here.
void ReportException(const std::exception& E) {
  if (Application) Application->ShowException(E);
}

LRESULT CALLBACK FormWindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
  if (Message == WM_NCCREATE) {
    const auto* Create = reinterpret_cast<const CREATESTRUCTA*>(LParam);
    ::SetWindowLongPtrA(Window, GWLP_USERDATA, LONG_PTR(Create->lpCreateParams));
  }
  auto* Form = reinterpret_cast<TForm*>(::GetWindowLongPtrA(Window, GWLP_USERDATA));
  if (Form == nullptr) return ::DefWindowProcA(Window, Message, WParam, LParam);
  try {
    return Form->WindowProc(Window, Message, WParam, LParam);
  } catch (const std::exception& E) {
    ReportException(E);
  } catch (...) {
    // Nothing may leave a window procedure: the system's code it returns
    // into cannot unwind. What is no std::exception is still reported.
    if (Application) Application->HandleUnknownException();
  }
  return 0;
}

void RegisterWindowClass(const std::string& Name, WNDPROC Procedure) {
  WNDCLASSA Class{};
  if (::GetClassInfoA(::GetModuleHandleA(nullptr), Name.c_str(), &Class)) return;
  Class.lpfnWndProc = Procedure;
  Class.hInstance = ::GetModuleHandleA(nullptr);
  Class.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  Class.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
  Class.lpszClassName = Name.c_str();
  ::RegisterClassA(&Class);
}

int StartupShowCommand() {
  STARTUPINFOA Info{};
  Info.cb = sizeof Info;
  ::GetStartupInfoA(&Info);
  return (Info.dwFlags & STARTF_USESHOWWINDOW) ? Info.wShowWindow : SW_SHOWNORMAL;
}

constexpr TIdentMapEntry ColorNames[] = {{clBtnFace, "clBtnFace"},
                                         {clWindowText, "clWindowText"},
                                         {clWindow, "clWindow"},
                                         {clBlack, "clBlack"},
                                         {clWhite, "clWhite"}};
constexpr TIdentMapEntry CharsetNames[] = {
    {0, "ANSI_CHARSET"}, {1, "DEFAULT_CHARSET"}, {2, "SYMBOL_CHARSET"}, {255, "OEM_CHARSET"}};
constexpr TIdentMapEntry FontStyleNames[] = {
    {0, "fsBold"}, {1, "fsItalic"}, {2, "fsUnderline"}, {3, "fsStrikeOut"}};
constexpr TIdentMapEntry NoIdents[] = {{0, ""}};

}  // namespace

// ---------------------------------------------------------------------------

std::span<const TPropInfo> TFont::PublishedProperties() const {
  using namespace published;
  static constexpr TPropInfo Properties[] = {
      IntegerProperty<&TFont::GetCharset, &TFont::SetCharset, CharsetNames>(
          "Charset", "TFontCharset", "DEFAULT_CHARSET"),
      IntegerProperty<&TFont::GetColor, &TFont::SetColor, ColorNames>("Color", "TColor",
                                                                      "clWindowText"),
      IntegerProperty<&TFont::GetHeight, &TFont::SetHeight, NoIdents>("Height", "Integer", "-11"),
      StringProperty<&TFont::GetName, &TFont::SetName>("Name", "MS Sans Serif"),
      SetProperty<&TFont::GetStyle, &TFont::SetStyle, FontStyleNames>("Style", "TFontStyles", "[]"),
  };
  return Properties;
}

// ---------------------------------------------------------------------------

TForm::TForm(TComponent* AOwner, std::string ClassName)
    : TComponent(AOwner), FClassName(std::move(ClassName)) {}

TForm::~TForm() {
  Destroying();
  // Cut off from the window first: its last messages find no form.
  if (FHandle) ::SetWindowLongPtrA(FHandle.Get(), GWLP_USERDATA, 0);
  FHandle.Reset();
}

void TForm::ReadState() {
  const std::string ResourceName = UpperCase(FClassName);
  TResourceStream Resource(ResourceName, RT_RCDATA_TYPE);
  const std::string Text(reinterpret_cast<const char*>(Resource.Memory()),
                         size_t(Resource.GetSize()));
  ReadFormText(Text, *this, FClassName, ResourceName);
}

void TForm::AfterConstruction() {
  // With the stored properties all set, the form announces its creation.
  if (!FOnCreate) return;
  try {
    FOnCreate(this);
  } catch (const std::exception& E) {
    if (Application) Application->ShowException(E);
  } catch (...) {
    // Whatever OnCreate raises is shown and creation goes on, whatever its
    // type.
    if (Application) Application->HandleUnknownException();
  }
}

void TForm::SetCaption(std::string Value) {
  FCaption = std::move(Value);
  if (FHandle) ::SetWindowTextA(FHandle.Get(), FCaption.c_str());
}

void TForm::SetColor(TColor Value) {
  FColor = Value;
  FBrush.Reset();
}

HWND TForm::Handle() {
  if (!FHandle) CreateHandle();
  return FHandle.Get();
}

void TForm::CreateHandle() {
  RegisterWindowClass(FClassName, FormWindowProc);
  HWND Window = ::CreateWindowExA(0, FClassName.c_str(), FCaption.c_str(),
                                  WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, FLeft, FTop, FWidth,
                                  FHeight, nullptr, nullptr, ::GetModuleHandleA(nullptr), this);
  if (Window == nullptr) throw Exception(messages::SWindowCreateError);
  // The window procedure took it over already, with its first message.
  if (FHandle.Get() != Window) FHandle.Reset(Window);
}

void TForm::Show(int ShowCommand) {
  ::ShowWindow(Handle(), ShowCommand);
}

void TForm::Close() {
  // Closing the main form ends the application.
  if (Application && Application->GetMainForm() == this)
    Application->Terminate();
  else if (FHandle)
    ::ShowWindow(FHandle.Get(), SW_HIDE);
}

LRESULT TForm::WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
  // Messages arrive while CreateWindowEx still runs, before it returns the
  // handle.
  if (!FHandle && Message != WM_DESTROY && Message != WM_NCDESTROY) FHandle.Reset(Window);
  switch (Message) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_ERASEBKGND: {
      if (!FBrush) FBrush.Reset(::CreateSolidBrush(ColorToRGB(FColor)));
      RECT Area;
      ::GetClientRect(Window, &Area);
      ::FillRect(reinterpret_cast<HDC>(WParam), &Area, FBrush.Get());
      return 1;
    }
    case WM_SYSCOLORCHANGE:
      // A system colour the brush was made in may have changed.
      FBrush.Reset();
      return ::DefWindowProcA(Window, Message, WParam, LParam);
    case WM_DESTROY:
      // Destroyed by the system: nothing left to destroy.
      FHandle.Release();
      return 0;
    default:
      return ::DefWindowProcA(Window, Message, WParam, LParam);
  }
}

std::span<const TPropInfo> TForm::PublishedProperties() const {
  using namespace published;
  using F = TForm;
  static constexpr TPropInfo Properties[] = {
      StringProperty<&F::GetName, &F::SetName>("Name", ""),
      IntegerProperty<&F::GetLeft, &F::SetLeft, NoIdents>("Left", "Integer", "0"),
      IntegerProperty<&F::GetTop, &F::SetTop, NoIdents>("Top", "Integer", "0"),
      IntegerProperty<&F::GetWidth, &F::SetWidth, NoIdents>("Width", "Integer", "320"),
      IntegerProperty<&F::GetHeight, &F::SetHeight, NoIdents>("Height", "Integer", "240"),
      StringProperty<&F::GetCaption, &F::SetCaption>("Caption", ""),
      IntegerProperty<&F::GetColor, &F::SetColor, ColorNames>("Color", "TColor", "clBtnFace"),
      ClassProperty<&F::Font>("Font", "TFont"),
      BooleanProperty<&F::GetOldCreateOrder, &F::SetOldCreateOrder>("OldCreateOrder", "False"),
      EventProperty<&F::GetOnCreate, &F::SetOnCreate>("OnCreate", "TNotifyEvent",
                                                      "Sender: TObject"),
      IntegerProperty<&F::GetPixelsPerInch, &F::SetPixelsPerInch, NoIdents>("PixelsPerInch",
                                                                            "Integer", "96"),
      IntegerProperty<&F::GetTextHeight, &F::SetTextHeight, NoIdents>("TextHeight", "Integer",
                                                                      "13"),
  };
  return Properties;
}

// ---------------------------------------------------------------------------

std::string ApplicationTitleFromPath(const std::string& ExePath) {
  // Walked by character: in a double-byte code page the second byte of a
  // character may be an ASCII letter's, which is no letter there.
  std::string Title;
  bool Cut = false;
  ForEachAnsiChar(ExtractFileName(OemToAnsi(ExePath)), [&](std::string_view Char) {
    Cut = Cut || Char == ".";
    if (!Cut) Title += Char;
  });
  const size_t First = AnsiCharLength(Title);
  if (Title.size() > First)
    ::CharLowerBuffA(Title.data() + First, static_cast<DWORD>(Title.size() - First));
  return Title;
}

TApplication::TApplication() : TComponent(nullptr) {
  Application = this;
  FTitle = ApplicationTitleFromPath(GetModuleFileName());
  RegisterWindowClass(ApplicationClassName, ::DefWindowProcA);
  // Hidden, of no size, at the centre of the screen: boxes it owns centre
  // there too.
  FHandle.Reset(
      ::CreateWindowExA(0, ApplicationClassName, FTitle.c_str(),
                        WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                        ::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 0,
                        0, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr));
}

TApplication::~TApplication() {
  Destroying();
  FMainForm = nullptr;
  DestroyComponents();  // the forms' windows go before the application window
  FHandle.Reset();
  if (Application == this) Application = nullptr;
}

void TApplication::Initialize() {
  if (InitProc) InitProc();
}

void TApplication::RegisterForm(std::unique_ptr<TForm> Form) {
  if (FMainForm == nullptr) {
    Form->Handle();
    FMainForm = Form.get();
  }
  InsertComponent(std::move(Form));
}

void TApplication::Run() {
  if (FMainForm) {
    const int Show = StartupShowCommand();
    FMainForm->Show(Show == SW_SHOWMAXIMIZED || Show == SW_SHOWMINNOACTIVE ? Show : SW_SHOWNORMAL);
  }
  while (!FTerminated) {
    if (!ProcessMessage() && !FTerminated) ::WaitMessage();
  }
}

bool TApplication::ProcessMessage() {
  MSG Message;
  if (!::PeekMessageA(&Message, nullptr, 0, 0, PM_REMOVE)) return false;
  if (Message.message == WM_QUIT) {
    FTerminated = true;
  } else {
    ::TranslateMessage(&Message);
    ::DispatchMessageA(&Message);
  }
  return true;
}

void TApplication::Terminate() {
  ::PostQuitMessage(0);
}

void TApplication::ShowException(const std::exception& E) {
  const auto* Ours = dynamic_cast<const Exception*>(&E);
  const std::string Text = AppendFullStop(Ours ? Ours->Message() : std::string(E.what()));
  ::MessageBoxA(FHandle.Get(), Text.c_str(), FTitle.c_str(), MB_OK | MB_ICONSTOP);
}

void TApplication::HandleUnknownException() {
  ShowException(Exception(messages::SUnknownException));
}

}  // namespace kv
