// The window driver against real windows, message boxes and child processes.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "TestPrograms.h"
#include "TestSupport.h"
#include "WindowDriver.h"

using namespace std::chrono_literals;
using windriver::TChildProcess;
using windriver::TWindowHandle;
using windriver::TWindowInfo;
using windriver_test::HelperPath;

namespace {

constexpr uint32_t FindTimeoutMs = 10000;
constexpr uint32_t ExitTimeoutMs = 15000;

uint32_t OwnProcessId() {
  return ::GetCurrentProcessId();
}

// Shows MessageBoxA on a thread of its own; the test answers it.
class TMessageBoxThread {
 public:
  TMessageBoxThread(const std::string& Text, const std::string& Title, UINT Type) : FTitle(Title) {
    auto Returned = std::make_shared<std::promise<int>>();
    FResult = Returned->get_future();
    FThread = std::thread([Returned, Text, Title, Type] {
      Returned->set_value(::MessageBoxA(nullptr, Text.c_str(), Title.c_str(), Type));
    });
  }
  TMessageBoxThread(const TMessageBoxThread&) = delete;
  TMessageBoxThread& operator=(const TMessageBoxThread&) = delete;

  // A box a failed test left open is answered by posting the ids of its
  // possible buttons; one that still does not return is left to the end of
  // the process rather than hanging the test.
  ~TMessageBoxThread() {
    if (FResult.wait_for(0s) != std::future_status::ready) {
      for (const TWindowInfo& Box : windriver::FindWindows(FTitle, "#32770", OwnProcessId()))
        for (const int Id : {IDOK, IDCANCEL, IDNO, IDABORT})
          ::PostMessageA(Box.Handle, WM_COMMAND, Id, 0);
    }
    if (FResult.wait_for(5s) == std::future_status::ready)
      FThread.join();
    else
      FThread.detach();
  }

  // What MessageBoxA returned, or 0 when it has not returned within Timeout.
  int Result(std::chrono::milliseconds Timeout) {
    return FResult.wait_for(Timeout) == std::future_status::ready ? FResult.get() : 0;
  }

 private:
  std::string FTitle;
  std::shared_future<int> FResult;
  std::thread FThread;
};

// A plain window created and served by a thread of its own, after an
// optional delay. Counts the WM_CLOSE messages it receives and is destroyed
// by the first.
class TTestWindow {
 public:
  static constexpr char ClassName[] = "WindriverTestWindow";

  TTestWindow(const std::string& Title, RECT Rect, bool Visible = true,
              std::chrono::milliseconds Delay = 0ms) {
    FCreated = FCreatedPromise.get_future();
    FThread =
        std::thread([this, Title, Rect, Visible, Delay] { Run(Title, Rect, Visible, Delay); });
  }
  TTestWindow(const TTestWindow&) = delete;
  TTestWindow& operator=(const TTestWindow&) = delete;
  ~TTestWindow() {
    const HWND Window = FCreated.get();
    if (::IsWindow(Window)) ::PostMessageA(Window, WM_CLOSE, 0, 0);
    FThread.join();
  }

  // The window, once created; null when it could not be.
  HWND Handle() { return FCreated.get(); }
  int CloseMessages() const { return FCloseMessages; }

 private:
  void Run(const std::string& Title, RECT Rect, bool Visible, std::chrono::milliseconds Delay) {
    std::this_thread::sleep_for(Delay);
    // Once for all windows, by whichever thread comes first.
    static const ATOM Registered = [] {
      WNDCLASSA Class{};
      Class.lpfnWndProc = &WindowProc;
      Class.hInstance = ::GetModuleHandleA(nullptr);
      Class.lpszClassName = ClassName;
      return ::RegisterClassA(&Class);
    }();
    const HWND Window =
        Registered == 0
            ? nullptr
            : ::CreateWindowExA(0, ClassName, Title.c_str(),
                                WS_OVERLAPPEDWINDOW | (Visible ? WS_VISIBLE : 0), Rect.left,
                                Rect.top, Rect.right - Rect.left, Rect.bottom - Rect.top, nullptr,
                                nullptr, ::GetModuleHandleA(nullptr), this);
    FCreatedPromise.set_value(Window);
    if (Window == nullptr) return;
    MSG Message;
    while (::GetMessageA(&Message, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&Message);
      ::DispatchMessageA(&Message);
    }
  }

  static LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    if (Message == WM_NCCREATE) {
      const auto* Create = reinterpret_cast<const CREATESTRUCTA*>(LParam);
      ::SetWindowLongPtrA(Window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(Create->lpCreateParams));
    }
    auto* Self = reinterpret_cast<TTestWindow*>(::GetWindowLongPtrA(Window, GWLP_USERDATA));
    if (Message == WM_CLOSE && Self != nullptr) {
      ++Self->FCloseMessages;
      ::DestroyWindow(Window);
      return 0;
    }
    if (Message == WM_DESTROY) {
      ::PostQuitMessage(0);
      return 0;
    }
    return ::DefWindowProcA(Window, Message, WParam, LParam);
  }

  std::atomic<int> FCloseMessages{0};
  std::promise<HWND> FCreatedPromise;
  std::shared_future<HWND> FCreated;
  std::thread FThread;
};

// A title no other test or process uses.
std::string UniqueTitle(const std::string& Base) {
  return Base + " " + std::to_string(OwnProcessId()) + "." + std::to_string(::GetTickCount());
}

}  // namespace

TEST(MessageBoxTest, ReadsAndAnswersABoxWithAnIcon) {
  const std::string Title = UniqueTitle("Title");
  TMessageBoxThread Box("Some text", Title, MB_OK | MB_ICONSTOP);
  const std::optional<TWindowInfo> Found =
      windriver::WaitForWindow(Title, "#32770", OwnProcessId(), FindTimeoutMs);
  ASSERT_TRUE(Found);
  EXPECT_TRUE(Found->Visible);
  EXPECT_GT(Found->Width, 0);

  const std::optional<windriver::TMessageBoxInfo> Info = windriver::ReadMessageBox(Found->Handle);
  ASSERT_TRUE(Info);
  EXPECT_EQ(Info->Title, Title);
  EXPECT_EQ(Info->Text, "Some text");
  EXPECT_TRUE(Info->HasIcon);
  EXPECT_EQ(Info->Buttons, std::vector<std::string>{"OK"});

  EXPECT_TRUE(windriver::PressButton(Found->Handle, "OK"));
  EXPECT_EQ(Box.Result(10s), IDOK);
  EXPECT_TRUE(windriver::WaitForWindowGone(Found->Handle, 5000));
}

TEST(MessageBoxTest, ReadsABoxWithoutAnIconAndPressesTheNamedButton) {
  const std::string Title = UniqueTitle("Question");
  TMessageBoxThread Box("First line\nSecond line", Title, MB_YESNO);
  const std::optional<TWindowInfo> Found =
      windriver::WaitForWindow(Title, "#32770", OwnProcessId(), FindTimeoutMs);
  ASSERT_TRUE(Found);

  const std::optional<windriver::TMessageBoxInfo> Info = windriver::ReadMessageBox(Found->Handle);
  ASSERT_TRUE(Info);
  EXPECT_EQ(Info->Text, "First line\nSecond line");
  EXPECT_FALSE(Info->HasIcon);
  EXPECT_EQ(Info->Buttons, (std::vector<std::string>{"Yes", "No"}));

  EXPECT_FALSE(windriver::PressButton(Found->Handle, "Maybe"));
  EXPECT_EQ(Box.Result(300ms), 0) << "the box returned without a button pressed";
  EXPECT_TRUE(windriver::PressButton(Found->Handle, "&No"));
  EXPECT_EQ(Box.Result(10s), IDNO);
}

TEST(WindowTest, FindsAWindowWithItsGeometryAndStateAndClosesIt) {
  const std::string Title = UniqueTitle("Geometry");
  TTestWindow Window(Title, {100, 120, 400, 320});
  const std::optional<TWindowInfo> Found =
      windriver::WaitForWindow(Title, TTestWindow::ClassName, OwnProcessId(), FindTimeoutMs);
  ASSERT_TRUE(Found);
  EXPECT_EQ(Found->Handle, Window.Handle());
  EXPECT_EQ(Found->Title, Title);
  EXPECT_EQ(Found->ClassName, TTestWindow::ClassName);
  EXPECT_EQ(Found->ProcessId, OwnProcessId());
  EXPECT_EQ(Found->Left, 100);
  EXPECT_EQ(Found->Top, 120);
  EXPECT_EQ(Found->Width, 300);
  EXPECT_EQ(Found->Height, 200);
  EXPECT_TRUE(Found->Visible);
  EXPECT_FALSE(Found->Minimized);
  EXPECT_FALSE(Found->Maximized);

  ::ShowWindow(Window.Handle(), SW_MINIMIZE);
  std::optional<TWindowInfo> Now = windriver::GetWindowInfo(Found->Handle);
  ASSERT_TRUE(Now);
  EXPECT_TRUE(Now->Minimized);
  EXPECT_FALSE(Now->Maximized);

  ::ShowWindow(Window.Handle(), SW_MAXIMIZE);
  Now = windriver::GetWindowInfo(Found->Handle);
  ASSERT_TRUE(Now);
  EXPECT_FALSE(Now->Minimized);
  EXPECT_TRUE(Now->Maximized);

  EXPECT_FALSE(windriver::ReadMessageBox(Found->Handle));
  EXPECT_FALSE(windriver::PressButton(Found->Handle, "OK"));
  EXPECT_EQ(Window.CloseMessages(), 0);
  EXPECT_TRUE(windriver::CloseWindow(Found->Handle));
  EXPECT_TRUE(windriver::WaitForWindowGone(Found->Handle, 5000));
  EXPECT_EQ(Window.CloseMessages(), 1);
  EXPECT_FALSE(windriver::GetWindowInfo(Found->Handle));
  EXPECT_FALSE(windriver::CloseWindow(Found->Handle));
}

TEST(WindowTest, MatchesByEachCriterionAndHiddenOnlyOnRequest) {
  const std::string Title = UniqueTitle("Criteria");
  TTestWindow Visible(Title, {0, 0, 100, 100});
  TTestWindow Hidden(Title + " hidden", {0, 0, 100, 100}, false);
  ASSERT_NE(Visible.Handle(), nullptr);
  ASSERT_NE(Hidden.Handle(), nullptr);

  const auto HandlesOf = [](const std::vector<TWindowInfo>& Windows) {
    std::vector<TWindowHandle> Handles;
    for (const TWindowInfo& Window : Windows)
      Handles.push_back(Window.Handle);
    return Handles;
  };
  const TWindowHandle VisibleHandle = Visible.Handle();
  const TWindowHandle HiddenHandle = Hidden.Handle();
  EXPECT_EQ(HandlesOf(windriver::FindWindows(Title, "", 0)),
            std::vector<TWindowHandle>{VisibleHandle});
  EXPECT_TRUE(windriver::FindWindows(Title, "Edit", 0).empty());
  EXPECT_TRUE(windriver::FindWindows(Title, "", OwnProcessId() + 4).empty());

  const std::vector<TWindowHandle> OfClass =
      HandlesOf(windriver::FindWindows("", TTestWindow::ClassName, OwnProcessId()));
  EXPECT_EQ(std::count(OfClass.begin(), OfClass.end(), VisibleHandle), 1);
  EXPECT_EQ(std::count(OfClass.begin(), OfClass.end(), HiddenHandle), 0);

  EXPECT_FALSE(windriver::WaitForWindow(Title + " hidden", "", OwnProcessId(), 0));
  const std::optional<TWindowInfo> FoundHidden =
      windriver::WaitForWindow(Title + " hidden", "", OwnProcessId(), 0, false);
  ASSERT_TRUE(FoundHidden);
  EXPECT_EQ(FoundHidden->Handle, HiddenHandle);
  EXPECT_FALSE(FoundHidden->Visible);
}

TEST(WindowTest, WaitsForALateWindowAndGivesUpAfterTheTimeout) {
  const std::string Title = UniqueTitle("Late");
  TTestWindow Late(Title, {0, 0, 100, 100}, true, 400ms);
  const std::optional<TWindowInfo> Found =
      windriver::WaitForWindow(Title, "", OwnProcessId(), FindTimeoutMs);
  ASSERT_TRUE(Found);
  EXPECT_EQ(Found->Handle, Late.Handle());

  const auto Start = std::chrono::steady_clock::now();
  EXPECT_FALSE(windriver::WaitForWindow(Title + " never", "", 0, 300));
  EXPECT_GE(std::chrono::steady_clock::now() - Start, 300ms);
}

TEST(ChildProcessTest, SearchesForABareNameAndReportsTheExitCode) {
  TChildProcess Cmd("cmd.exe", "", {}, "/c exit 7");
  EXPECT_NE(Cmd.Id(), 0u);
  EXPECT_EQ(Cmd.WaitForExit(ExitTimeoutMs), 7u);
  EXPECT_FALSE(Cmd.IsRunning());
}

TEST(ChildProcessTest, AppliesEnvironmentOverrides) {
  ASSERT_TRUE(::SetEnvironmentVariableA("WINDRIVER_INHERITED", "kept"));
  ASSERT_TRUE(::SetEnvironmentVariableA("WINDRIVER_REMOVED", "present"));
  ASSERT_TRUE(::SetEnvironmentVariableA("WINDRIVER_CASE", "old"));
  const windriver::TEnvironmentOverrides Overrides = {
      {"WINDRIVER_ADDED", "new value"}, {"WINDRIVER_REMOVED", ""}, {"windriver_case", "new"}};
  const auto ExitCodeOf = [&](const std::string& Arguments) {
    return TChildProcess(HelperPath(), "", Overrides, Arguments).WaitForExit(ExitTimeoutMs);
  };
  EXPECT_EQ(ExitCodeOf("env WINDRIVER_ADDED \"new value\""), 0u);
  EXPECT_EQ(ExitCodeOf("env WINDRIVER_INHERITED kept"), 0u);
  EXPECT_EQ(ExitCodeOf("env WINDRIVER_REMOVED"), 2u);
  EXPECT_EQ(ExitCodeOf("env WINDRIVER_CASE new"), 0u);
  // Without overrides the child sees the parent's values.
  EXPECT_EQ(TChildProcess(HelperPath(), "", {}, "env WINDRIVER_REMOVED present")
                .WaitForExit(ExitTimeoutMs),
            0u);
  EXPECT_THROW(TChildProcess(HelperPath(), "", {{"A=B", "x"}}), std::invalid_argument);
}

TEST(ChildProcessTest, StartsInTheWorkingDirectory) {
  kvtest::TTempDir Directory;
  std::ofstream(Directory / "marker.txt") << "here";
  EXPECT_EQ(TChildProcess(HelperPath(), Directory.Str(), {}, "exists marker.txt")
                .WaitForExit(ExitTimeoutMs),
            0u);
  kvtest::TTempDir Elsewhere;
  EXPECT_EQ(TChildProcess(HelperPath(), Elsewhere.Str(), {}, "exists marker.txt")
                .WaitForExit(ExitTimeoutMs),
            1u);
}

TEST(ChildProcessTest, TerminatesARunningChild) {
  TChildProcess Sleeper(HelperPath(), "", {}, "sleep 60000");
  EXPECT_TRUE(Sleeper.IsRunning());
  EXPECT_FALSE(Sleeper.WaitForExit(100));
  EXPECT_TRUE(Sleeper.Terminate());
  EXPECT_FALSE(Sleeper.IsRunning());
  EXPECT_EQ(Sleeper.WaitForExit(0), TChildProcess::TerminatedExitCode);
}

TEST(ChildProcessTest, DestructionEndsTheChildAndMovingHandsItOver) {
  kv::TUniqueHandle Observer;
  {
    TChildProcess First(HelperPath(), "", {}, "sleep 60000");
    Observer.Reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, First.Id()));
    ASSERT_TRUE(Observer);
    const uint32_t Id = First.Id();
    TChildProcess Second = std::move(First);
    EXPECT_EQ(First.Id(), 0u);  // NOLINT(bugprone-use-after-move): the moved-from state is tested
    EXPECT_FALSE(First.IsRunning());
    EXPECT_FALSE(First.WaitForExit(0));
    EXPECT_EQ(Second.Id(), Id);
    EXPECT_TRUE(Second.IsRunning());
  }
  EXPECT_EQ(::WaitForSingleObject(Observer.Get(), 0), WAIT_OBJECT_0)
      << "the child outlived its owner";
  DWORD ExitCode = 0;
  ASSERT_TRUE(::GetExitCodeProcess(Observer.Get(), &ExitCode));
  EXPECT_EQ(ExitCode, TChildProcess::TerminatedExitCode);
}

TEST(ChildProcessTest, ReportsWhyAProgramCannotStart) {
  try {
    TChildProcess Missing("windriver-no-such-program.exe", "");
    FAIL() << "started a program that does not exist";
  } catch (const std::runtime_error& Error) {
    EXPECT_NE(std::string(Error.what()).find("windriver-no-such-program.exe"), std::string::npos)
        << Error.what();
  }
}
