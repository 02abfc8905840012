// The Windows app shell: its hidden window, the tray icon and its notices.
#include <gtest/gtest.h>

#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "base/Charset.h"
#include "port/AppShell.h"
#include "tests/win32/Win32Support.h"

namespace Quorvel::testing {
namespace {

constexpr UINT kIconId = 132;
constexpr UINT kTrayMessage = WM_USER + 1;

// Whether the tray holds the icon of `window`: only an icon that was added
// can be changed.
bool trayHolds(HWND window) {
  NOTIFYICONDATAA icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = window;
  icon.uID = kIconId;
  icon.uFlags = NIF_TIP;
  std::strcpy(icon.szTip, "Vendara 2012");
  return Shell_NotifyIconA(NIM_MODIFY, &icon) != FALSE;
}

class AppShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port::prepareAppShell();
    events_.reopenUi = [this] { ++reopened_; };
    shell_ = std::thread([this] { port::runAppShell("Vendara 2012", events_); });
    ASSERT_TRUE(waitUntil([&] {
      window_ = FindWindowA("QuorvelAppShell", gbk("Vendara2012永久免费版").c_str());
      return window_ != nullptr;
    }));
  }
  void TearDown() override {
    if (shell_.joinable()) {
      if (IsWindow(window_)) PostMessageA(window_, WM_COMMAND, IDCANCEL, 0);
      shell_.join();
    }
  }

  port::AppShellEvents events_;
  std::atomic<int> reopened_{0};
  std::thread shell_;
  HWND window_ = nullptr;
};

TEST_F(AppShellTest, TheTrayIconIsAddedAndRemovedWhenTheShellCloses) {
  // The icon is added just after the window is made, and a tray that is
  // still starting takes it a moment later.
  EXPECT_TRUE(waitUntil([&] { return trayHolds(window_); }));
  EXPECT_FALSE(IsWindowVisible(window_));  // the window is never shown
  SendMessageA(window_, WM_COMMAND, IDCANCEL, 0);  // "关闭"
  shell_.join();
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_FALSE(trayHolds(window_));
}

TEST_F(AppShellTest, ADoubleClickOnTheIconReopensTheUiAndOtherIconsAreIgnored) {
  EXPECT_EQ(SendMessageA(window_, kTrayMessage, kIconId, WM_LBUTTONDBLCLK), 0);
  EXPECT_EQ(reopened_.load(), 1);
  EXPECT_EQ(SendMessageA(window_, kTrayMessage, kIconId + 1, WM_LBUTTONDBLCLK), 1);
  EXPECT_EQ(SendMessageA(window_, kTrayMessage, kIconId, WM_LBUTTONDOWN), 0);
  EXPECT_EQ(reopened_.load(), 1);
  SendMessageA(window_, WM_COMMAND, 1026, 0);  // "取消" does nothing
  EXPECT_TRUE(IsWindow(window_));
}

}  // namespace
}  // namespace Quorvel::testing
