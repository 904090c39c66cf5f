// The window driver on Windows: child processes through CreateProcess,
// windows through EnumWindows and the window manager's queries.
#include "WindowDriver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "konvoro/Files.h"
#include "konvoro/Text.h"

namespace windriver {

namespace {

constexpr auto PollInterval = std::chrono::milliseconds(50);
// How long a window may take to answer a message before it counts as hung.
constexpr UINT AnswerTimeoutMs = 3000;
// How long Terminate waits for a terminated process to be gone.
constexpr DWORD TerminateWaitMs = 10000;
constexpr int MessageBoxTextId = 0xFFFF;

// The system's description of the calling thread's last error and its code.
std::string LastErrorText() {
  const DWORD Code = ::GetLastError();
  const std::string Text = kv::SysErrorMessage(static_cast<int>(Code));
  return (Text.empty() ? "unknown error" : Text) + " (error " + std::to_string(Code) + ")";
}

// Orders variable names as Windows sorts an environment block: by their
// upper-case characters.
struct TNameLess {
  bool operator()(const std::wstring& A, const std::wstring& B) const {
    return ::CompareStringOrdinal(A.data(), static_cast<int>(A.size()), B.data(),
                                  static_cast<int>(B.size()), TRUE) == CSTR_LESS_THAN;
  }
};

using TEnvironmentStrings = kv::TUniqueAny<LPWCH, &::FreeEnvironmentStringsW>;

// The caller's environment changed by Overrides, as a block for
// CreateProcessW: sorted "NAME=VALUE" strings, each ended by a NUL, and a
// final NUL.
std::wstring BuildEnvironmentBlock(const TWideEnvironmentOverrides& Overrides) {
  std::map<std::wstring, std::wstring, TNameLess> Variables;
  {
    const TEnvironmentStrings Current(::GetEnvironmentStringsW());
    if (!Current) throw std::runtime_error("windriver: no environment: " + LastErrorText());
    for (const wchar_t* Entry = Current.Get(); *Entry != L'\0'; Entry += std::wcslen(Entry) + 1) {
      const std::wstring_view Text(Entry);
      // Entries such as "=C:=C:\dir" have a name that starts with "=".
      const size_t Equals = Text.find(L'=', 1);
      if (Equals == std::wstring_view::npos) continue;
      Variables.emplace(Text.substr(0, Equals), Text.substr(Equals + 1));
    }
  }
  for (const auto& [Name, Value] : Overrides) {
    if (Name.empty() || Name.find(L'=') != std::wstring::npos)
      throw std::invalid_argument("windriver: bad environment variable name");
    // Erased first, so that the name keeps the spelling of the override.
    Variables.erase(Name);
    if (!Value.empty()) Variables.emplace(Name, Value);
  }
  std::wstring Block;
  for (const auto& [Name, Value] : Variables) {
    Block += Name;
    Block += L'=';
    Block += Value;
    Block += L'\0';
  }
  if (Block.empty()) Block += L'\0';
  Block += L'\0';
  return Block;
}

std::wstring AnsiToWide(std::string_view Text) {
  if (Text.empty()) return std::wstring();
  const int Size =
      ::MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring Result(static_cast<size_t>(Size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), Result.data(), Size);
  return Result;
}

std::string WideToAnsi(std::wstring_view Text) {
  if (Text.empty()) return std::string();
  const int Size = ::WideCharToMultiByte(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string Result(static_cast<size_t>(Size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), Result.data(), Size,
                        nullptr, nullptr);
  return Result;
}

// The text a window stores (caption, or a static's or button's text), read
// without sending the window a message, so a busy window cannot block it.
std::string StoredText(HWND Window) {
  std::wstring Buffer(256, L'\0');
  for (;;) {
    const int Length =
        ::InternalGetWindowText(Window, Buffer.data(), static_cast<int>(Buffer.size()));
    if (Length < static_cast<int>(Buffer.size()) - 1) {
      Buffer.resize(static_cast<size_t>(std::max(Length, 0)));
      return WideToAnsi(Buffer);
    }
    Buffer.resize(Buffer.size() * 2);
  }
}

std::string ClassNameOf(HWND Window) {
  char Name[256] = {};
  const int Length = ::GetClassNameA(Window, Name, sizeof(Name));
  return std::string(Name, static_cast<size_t>(std::max(Length, 0)));
}

LONG StyleOf(HWND Window) {
  return ::GetWindowLongA(Window, GWL_STYLE);
}

// A caption as shown: "&" before a mnemonic removed, "&&" read as "&".
std::string WithoutMnemonic(std::string_view Caption) {
  std::string Shown;
  for (size_t I = 0; I < Caption.size(); ++I) {
    if (Caption[I] == '&' && I + 1 < Caption.size()) ++I;
    Shown += Caption[I];
  }
  return Shown;
}

std::vector<HWND> ChildrenOf(HWND Parent) {
  std::vector<HWND> Children;
  for (HWND Child = ::GetWindow(Parent, GW_CHILD); Child != nullptr;
       Child = ::GetWindow(Child, GW_HWNDNEXT))
    Children.push_back(Child);
  return Children;
}

bool IsPushButton(HWND Window) {
  if (ClassNameOf(Window) != "Button") return false;
  const LONG Type = StyleOf(Window) & BS_TYPEMASK;
  return Type == BS_PUSHBUTTON || Type == BS_DEFPUSHBUTTON;
}

// Whether the static control Window shows an icon. Windows leaves the icon
// control out of a message box without one; Wine keeps it without an icon.
bool ShowsIcon(HWND Window) {
  if (ClassNameOf(Window) != "Static" || (StyleOf(Window) & SS_TYPEMASK) != SS_ICON ||
      (StyleOf(Window) & WS_VISIBLE) == 0)
    return false;
  DWORD_PTR Icon = 0;
  return ::SendMessageTimeoutA(Window, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                               AnswerTimeoutMs, &Icon) != 0 &&
         Icon != 0;
}

BOOL CALLBACK CollectWindow(HWND Window, LPARAM Windows) {
  reinterpret_cast<std::vector<HWND>*>(Windows)->push_back(Window);
  return TRUE;
}

}  // namespace

TChildProcess::TChildProcess(const std::string& Executable, const std::string& WorkingDirectory,
                             const TEnvironmentOverrides& Overrides, const std::string& Arguments,
                             int ShowCommand)
    : TChildProcess(
          AnsiToWide(Executable), AnsiToWide(WorkingDirectory),
          [&] {
            TWideEnvironmentOverrides Wide;
            for (const auto& [Name, Value] : Overrides)
              Wide.emplace_back(AnsiToWide(Name), AnsiToWide(Value));
            return Wide;
          }(),
          AnsiToWide(Arguments), ShowCommand) {}

TChildProcess::TChildProcess(const std::wstring& Executable, const std::wstring& WorkingDirectory,
                             const TWideEnvironmentOverrides& Overrides,
                             const std::wstring& Arguments, int ShowCommand) {
  std::wstring Environment = BuildEnvironmentBlock(Overrides);
  std::wstring CommandLine = L"\"" + Executable + L"\"";
  if (!Arguments.empty()) CommandLine += L" " + Arguments;
  STARTUPINFOW StartupInfo{};
  StartupInfo.cb = sizeof(StartupInfo);
  if (ShowCommand >= 0) {
    StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    StartupInfo.wShowWindow = static_cast<WORD>(ShowCommand);
  }
  PROCESS_INFORMATION Info{};
  // No application name: then CreateProcess searches for a bare file name.
  if (!::CreateProcessW(nullptr, CommandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, Environment.data(),
                        WorkingDirectory.empty() ? nullptr : WorkingDirectory.c_str(), &StartupInfo,
                        &Info))
    throw std::runtime_error("windriver: cannot start \"" + WideToAnsi(Executable) +
                             "\": " + LastErrorText());
  FProcess.Reset(Info.hProcess);
  FThread.Reset(Info.hThread);
  FId = Info.dwProcessId;
}

TChildProcess::TChildProcess(TChildProcess&& Other) noexcept
    : FProcess(std::move(Other.FProcess)),
      FThread(std::move(Other.FThread)),
      FId(std::exchange(Other.FId, 0)) {}

TChildProcess& TChildProcess::operator=(TChildProcess&& Other) noexcept {
  if (this != &Other) {
    Terminate();
    FProcess = std::move(Other.FProcess);
    FThread = std::move(Other.FThread);
    FId = std::exchange(Other.FId, 0);
  }
  return *this;
}

TChildProcess::~TChildProcess() {
  Terminate();
}

std::optional<uint32_t> TChildProcess::WaitForExit(uint32_t TimeoutMs) const {
  if (!FProcess || ::WaitForSingleObject(FProcess.Get(), TimeoutMs) != WAIT_OBJECT_0)
    return std::nullopt;
  DWORD ExitCode = 0;
  if (!::GetExitCodeProcess(FProcess.Get(), &ExitCode)) return std::nullopt;
  return ExitCode;
}

bool TChildProcess::IsRunning() const {
  return FProcess && ::WaitForSingleObject(FProcess.Get(), 0) == WAIT_TIMEOUT;
}

bool TChildProcess::Terminate() {
  if (!FProcess) return true;
  if (IsRunning()) ::TerminateProcess(FProcess.Get(), TerminatedExitCode);
  return ::WaitForSingleObject(FProcess.Get(), TerminateWaitMs) == WAIT_OBJECT_0;
}

std::optional<TWindowInfo> GetWindowInfo(TWindowHandle Window) {
  if (Window == nullptr || !::IsWindow(Window)) return std::nullopt;
  TWindowInfo Info;
  Info.Handle = Window;
  Info.Title = StoredText(Window);
  Info.ClassName = ClassNameOf(Window);
  DWORD ProcessId = 0;
  ::GetWindowThreadProcessId(Window, &ProcessId);
  Info.ProcessId = ProcessId;
  RECT Rect{};
  ::GetWindowRect(Window, &Rect);
  Info.Left = Rect.left;
  Info.Top = Rect.top;
  Info.Width = Rect.right - Rect.left;
  Info.Height = Rect.bottom - Rect.top;
  Info.Visible = ::IsWindowVisible(Window) != 0;
  Info.Minimized = ::IsIconic(Window) != 0;
  Info.Maximized = ::IsZoomed(Window) != 0;
  // Gone while being read: what was read may be mixed up with a new window.
  if (!::IsWindow(Window)) return std::nullopt;
  return Info;
}

std::vector<TWindowInfo> FindWindows(const std::string& Title, const std::string& ClassName,
                                     uint32_t ProcessId, bool VisibleOnly) {
  std::vector<HWND> Windows;
  ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&Windows));
  std::vector<TWindowInfo> Matches;
  for (const HWND Window : Windows) {
    std::optional<TWindowInfo> Info = GetWindowInfo(Window);
    if (!Info || (VisibleOnly && !Info->Visible) ||
        (ProcessId != 0 && Info->ProcessId != ProcessId) ||
        (!ClassName.empty() && Info->ClassName != ClassName) ||
        (!Title.empty() && Info->Title != Title))
      continue;
    Matches.push_back(std::move(*Info));
  }
  return Matches;
}

std::optional<TWindowInfo> WaitForWindow(const std::string& Title, const std::string& ClassName,
                                         uint32_t ProcessId, uint32_t TimeoutMs, bool VisibleOnly) {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    std::vector<TWindowInfo> Matches = FindWindows(Title, ClassName, ProcessId, VisibleOnly);
    if (!Matches.empty()) return std::move(Matches.front());
    if (std::chrono::steady_clock::now() >= Deadline) return std::nullopt;
    std::this_thread::sleep_for(PollInterval);
  }
}

bool WaitForWindowGone(TWindowHandle Window, uint32_t TimeoutMs) {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    if (!::IsWindow(Window)) return true;
    if (std::chrono::steady_clock::now() >= Deadline) return false;
    std::this_thread::sleep_for(PollInterval);
  }
}

std::optional<TMessageBoxInfo> ReadMessageBox(TWindowHandle Box) {
  if (Box == nullptr || !::IsWindow(Box) || ClassNameOf(Box) != "#32770") return std::nullopt;
  TMessageBoxInfo Info;
  Info.Title = StoredText(Box);
  struct TButton {
    std::string Caption;
    RECT Rect;
  };
  std::vector<TButton> Buttons;
  std::optional<std::string> NumberedText;
  std::optional<std::string> FirstText;
  for (const HWND Child : ChildrenOf(Box)) {
    if ((StyleOf(Child) & WS_VISIBLE) == 0) continue;
    if (IsPushButton(Child)) {
      RECT Rect{};
      ::GetWindowRect(Child, &Rect);
      Buttons.push_back({WithoutMnemonic(StoredText(Child)), Rect});
    } else if (ClassNameOf(Child) == "Static") {
      if ((StyleOf(Child) & SS_TYPEMASK) == SS_ICON)
        Info.HasIcon = Info.HasIcon || ShowsIcon(Child);
      else if (::GetDlgCtrlID(Child) == MessageBoxTextId)
        NumberedText = StoredText(Child);
      else if (!FirstText)
        FirstText = StoredText(Child);
    }
  }
  // Message boxes of other makers may number their text differently.
  Info.Text = NumberedText ? *NumberedText : FirstText.value_or(std::string());
  // In reading order, as a person sees them.
  std::stable_sort(Buttons.begin(), Buttons.end(), [](const TButton& A, const TButton& B) {
    return A.Rect.top != B.Rect.top ? A.Rect.top < B.Rect.top : A.Rect.left < B.Rect.left;
  });
  for (TButton& Button : Buttons)
    Info.Buttons.push_back(std::move(Button.Caption));
  if (!::IsWindow(Box)) return std::nullopt;
  return Info;
}

bool PressButton(TWindowHandle Dialog, const std::string& Caption) {
  if (Dialog == nullptr || !::IsWindow(Dialog)) return false;
  for (const HWND Child : ChildrenOf(Dialog)) {
    if (!IsPushButton(Child) || (StyleOf(Child) & WS_VISIBLE) == 0 || !::IsWindowEnabled(Child))
      continue;
    const std::string Text = StoredText(Child);
    if (Text != Caption && WithoutMnemonic(Text) != Caption) continue;
    // WM_COMMAND rather than BM_CLICK: BM_CLICK may fail when the dialog is
    // not the active window.
    const int Id = ::GetDlgCtrlID(Child);
    return ::PostMessageA(Dialog, WM_COMMAND, MAKEWPARAM(Id, BN_CLICKED),
                          reinterpret_cast<LPARAM>(Child)) != 0;
  }
  return false;
}

bool CloseWindow(TWindowHandle Window) {
  return Window != nullptr && ::IsWindow(Window) && ::PostMessageA(Window, WM_CLOSE, 0, 0) != 0;
}

}  // namespace windriver
