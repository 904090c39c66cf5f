// The application object, forms and the message loop, over user32.
#include "Forms.h"

#include <algorithm>

#include "ClassMessages.h"
#include "CodePages.h"
#include "Dialogs.h"
#include "Environment.h"
#include "Exceptions.h"
#include "FormReader.h"
#include "Resources.h"
#include "WinApi.h"

namespace kv {

TApplication* Application = nullptr;

namespace {

constexpr const char* ApplicationClassName = "TApplication";

HWND AsWindow(intptr_t Handle) {
  return reinterpret_cast<HWND>(Handle);
}

COLORREF ColorToRGB(TColor Color) {
  return Color < 0 ? ::GetSysColor(Color & 0xFF) : COLORREF(Color);
}

// Exceptions must not cross the system's frames: every window procedure
// hands them to the application object here.
void ReportException(const std::exception& E) {
  if (Application) Application->HandleException(E);
}

LRESULT CALLBACK FormWindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
  if (Message == WM_NCCREATE) {
    const auto* Create = reinterpret_cast<const CREATESTRUCTA*>(LParam);
    ::SetWindowLongPtrA(Window, GWLP_USERDATA, LONG_PTR(Create->lpCreateParams));
  }
  auto* Form = reinterpret_cast<TForm*>(::GetWindowLongPtrA(Window, GWLP_USERDATA));
  if (Form == nullptr) return ::DefWindowProcA(Window, Message, WParam, LParam);
  try {
    return LRESULT(Form->WindowProc(reinterpret_cast<intptr_t>(Window), Message, WParam, LParam));
  } catch (const std::exception& E) {
    ReportException(E);
  } catch (...) {
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
  if (FHandle != 0) {
    HWND Window = AsWindow(FHandle);
    ::SetWindowLongPtrA(Window, GWLP_USERDATA, 0);
    ::DestroyWindow(Window);
  }
}

void TForm::ReadState() {
  std::string ResourceName = FClassName;
  std::transform(ResourceName.begin(), ResourceName.end(), ResourceName.begin(),
                 [](char C) { return (C >= 'a' && C <= 'z') ? char(C - 32) : C; });
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
    if (Application) Application->HandleException(E);
  } catch (...) {
    if (Application) Application->HandleUnknownException();
  }
}

void TForm::SetCaption(std::string Value) {
  FCaption = std::move(Value);
  if (FHandle != 0) ::SetWindowTextA(AsWindow(FHandle), FCaption.c_str());
}

intptr_t TForm::Handle() {
  if (FHandle == 0) CreateHandle();
  return FHandle;
}

void TForm::CreateHandle() {
  RegisterWindowClass(FClassName, FormWindowProc);
  HWND Window = ::CreateWindowExA(0, FClassName.c_str(), FCaption.c_str(),
                                  WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, FLeft, FTop, FWidth,
                                  FHeight, nullptr, nullptr, ::GetModuleHandleA(nullptr), this);
  if (Window == nullptr) throw Exception(messages::SWindowCreateError);
  FHandle = reinterpret_cast<intptr_t>(Window);
}

void TForm::Show(int ShowCommand) {
  ::ShowWindow(AsWindow(Handle()), ShowCommand);
}

void TForm::Close() {
  // Closing the main form ends the application.
  if (Application && Application->GetMainForm() == this)
    Application->Terminate();
  else if (FHandle != 0)
    ::ShowWindow(AsWindow(FHandle), SW_HIDE);
}

intptr_t TForm::WindowProc(intptr_t Handle, uint32_t Message, uintptr_t WParam, intptr_t LParam) {
  // Messages arrive while CreateWindowEx still runs, before it returns the
  // handle.
  if (FHandle == 0 && Message != WM_DESTROY && Message != WM_NCDESTROY) FHandle = Handle;
  HWND Window = AsWindow(Handle);
  switch (Message) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_ERASEBKGND: {
      RECT Area;
      ::GetClientRect(Window, &Area);
      HBRUSH Brush = ::CreateSolidBrush(ColorToRGB(FColor));
      ::FillRect(reinterpret_cast<HDC>(WParam), &Area, Brush);
      ::DeleteObject(Brush);
      return 1;
    }
    case WM_DESTROY:
      FHandle = 0;
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
  std::string Title = ExtractFileName(OemToAnsi(ExePath));
  Title = Title.substr(0, Title.find('.'));
  if (Title.size() > 1) ::CharLowerBuffA(Title.data() + 1, static_cast<DWORD>(Title.size() - 1));
  return Title;
}

TApplication::TApplication() : TComponent(nullptr) {
  Application = this;
  FTitle = ApplicationTitleFromPath(GetModuleFileName());
  RegisterWindowClass(ApplicationClassName, ::DefWindowProcA);
  // Hidden, of no size, at the centre of the screen: boxes it owns centre
  // there too.
  HWND Window =
      ::CreateWindowExA(0, ApplicationClassName, FTitle.c_str(),
                        WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                        ::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 0,
                        0, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  FHandle = reinterpret_cast<intptr_t>(Window);
}

TApplication::~TApplication() {
  Destroying();
  FMainForm = nullptr;
  DestroyComponents();  // the forms' windows go before the application window
  if (FHandle != 0) ::DestroyWindow(AsWindow(FHandle));
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
  ::MessageBoxA(AsWindow(FHandle), Text.c_str(), FTitle.c_str(), MB_OK | MB_ICONSTOP);
}

void TApplication::HandleUnknownException() {
  ShowException(Exception(messages::SUnknownException));
}

}  // namespace kv
