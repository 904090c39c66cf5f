// The window driver of the end-to-end tests: starts child processes, finds
// top-level windows on the screen, reads and answers standard message boxes.
// Text is in the ANSI code page, as the programs under test use it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "WinHandles.h"

namespace windriver {

// A window of any process: found, never owned.
using TWindowHandle = HWND;

// Environment changes for a child: each name gets its value; an empty value
// removes the variable. Names compare without regard to case; of repeated
// names the last counts.
using TEnvironmentOverrides = std::vector<std::pair<std::string, std::string>>;
// The same in UTF-16, for names that the ANSI code page cannot spell.
using TWideEnvironmentOverrides = std::vector<std::pair<std::wstring, std::wstring>>;

// A child process started by the tests. Move-only; owns the process and
// thread handles and terminates the process, if it still runs, when it
// goes, so that no test leaves a child behind.
class TChildProcess {
 public:
  // The exit code Terminate gives the process.
  static constexpr uint32_t TerminatedExitCode = 0xDEAD;

  // Starts Executable with the command line `"Executable" Arguments`
  // (Arguments passed as they are, so the caller quotes), in
  // WorkingDirectory (empty: the caller's), with the caller's environment
  // changed by Overrides. Executable without a path is searched for as
  // CreateProcess searches. Throws std::runtime_error, with the system's
  // reason, when the process cannot be started. A ShowCommand of 0 or more
  // is handed to the child as the show command of its start-up information
  // (SW_SHOWMAXIMIZED = 3, SW_SHOWMINNOACTIVE = 7); -1 passes none.
  TChildProcess(const std::string& Executable, const std::string& WorkingDirectory,
                const TEnvironmentOverrides& Overrides = {}, const std::string& Arguments = {},
                int ShowCommand = -1);
  // The same in UTF-16.
  TChildProcess(const std::wstring& Executable, const std::wstring& WorkingDirectory,
                const TWideEnvironmentOverrides& Overrides = {}, const std::wstring& Arguments = {},
                int ShowCommand = -1);
  TChildProcess(TChildProcess&& Other) noexcept;
  TChildProcess& operator=(TChildProcess&& Other) noexcept;
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;
  ~TChildProcess();

  // The process id; 0 for a moved-from object.
  uint32_t Id() const noexcept { return FId; }
  // Waits up to TimeoutMs for the process to end. Returns its exit code, or
  // nothing when it still runs then (or the object was moved from).
  std::optional<uint32_t> WaitForExit(uint32_t TimeoutMs) const;
  bool IsRunning() const;
  // Ends the process with TerminatedExitCode if it still runs and waits
  // until it has ended. Returns whether it has ended.
  bool Terminate();

 private:
  kv::TUniqueHandle FProcess;
  kv::TUniqueHandle FThread;
  uint32_t FId = 0;
};

// A top-level window as found on the screen.
struct TWindowInfo {
  TWindowHandle Handle = nullptr;
  std::string Title;
  std::string ClassName;
  uint32_t ProcessId = 0;
  // The window rectangle in screen coordinates, frame included.
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool Visible = false;
  bool Minimized = false;
  bool Maximized = false;
};

// The contents of a standard message box.
struct TMessageBoxInfo {
  std::string Title;
  std::string Text;
  // Whether it shows an icon (error, warning, information, question).
  bool HasIcon = false;
  // The captions of its buttons from left to right, mnemonic "&" removed.
  std::vector<std::string> Buttons;
};

// What is known of Handle now; nothing when it is no window.
std::optional<TWindowInfo> GetWindowInfo(TWindowHandle Handle);

// The top-level windows that match now: Title and ClassName exactly unless
// empty, ProcessId unless 0, and only visible ones when VisibleOnly.
std::vector<TWindowInfo> FindWindows(const std::string& Title, const std::string& ClassName,
                                     uint32_t ProcessId, bool VisibleOnly = true);

// Looks for a matching window, as FindWindows matches, every 50 ms until
// one appears or TimeoutMs has passed. Only visible windows match unless
// VisibleOnly is false: dialogs become visible once they are set up.
// Returns the first match, or nothing.
std::optional<TWindowInfo> WaitForWindow(const std::string& Title, const std::string& ClassName,
                                         uint32_t ProcessId, uint32_t TimeoutMs,
                                         bool VisibleOnly = true);

// Waits up to TimeoutMs until Handle is no window any more. Returns whether
// it has gone.
bool WaitForWindowGone(TWindowHandle Handle, uint32_t TimeoutMs);

// Reads a standard message box (class "#32770") without waiting on it, but
// for the icon, which it asks for with a time limit of a few seconds.
// Returns nothing when Handle is no such window or went while being read.
std::optional<TMessageBoxInfo> ReadMessageBox(TWindowHandle Handle);

// Clicks the visible, enabled button of the dialog Handle whose caption is
// Caption, with or without its mnemonic "&", as a click would: the dialog
// receives WM_COMMAND with the button's id, so a modal message box returns
// that id. Returns false when there is no such button.
bool PressButton(TWindowHandle Handle, const std::string& Caption);

// Asks the window to close (posts WM_CLOSE). Returns false when Handle is no
// window or the message could not be posted.
bool CloseWindow(TWindowHandle Handle);

}  // namespace windriver
