// The Windows window system (port/win32/WindowSystem.cpp) against the test
// IM client's real windows in another process.
#include <gtest/gtest.h>

#include "base/Charset.h"
#include "port/WindowSystem.h"
#include "tests/win32/Win32Support.h"

namespace Quorvel::testing {
namespace {

class WindowSystemTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(client_.running()) << "im_test_client.exe did not show its main window"; }

  port::Window open(const std::string& buyer, const std::string& title) {
    client_.load(TestImClient::linkFor(buyer));
    return windows_->findWindow("", title);
  }

  TestImClient client_;
  std::shared_ptr<port::WindowSystem> windows_ = port::WindowSystem::makeProcessWide();
};

TEST_F(WindowSystemTest, TheSystemCodePageIsGbk) {
  // The automation's texts are GBK because the ANSI calls use code page 936
  // on the seller's system; the tests run with the same.
  EXPECT_EQ(GetACP(), 936u);
}

TEST_F(WindowSystemTest, TopLevelWindowsAreFoundByClassAndExactGbkTitle) {
  const port::Window main = windows_->findWindow("StandardFrame", TestImClient::mainTitle());
  EXPECT_EQ(main, reinterpret_cast<port::Window>(client_.mainWindow()));
  EXPECT_EQ(windows_->findWindow("", TestImClient::mainTitle()), main);  // any class
  EXPECT_EQ(windows_->findWindow("OtherClass", TestImClient::mainTitle()), 0u);
  EXPECT_EQ(windows_->findWindow("StandardFrame", gbk("好店-阿里旺旺2012")), 0u);  // a prefix is not the title
  EXPECT_EQ(windows_->className(main), "StandardFrame");
  EXPECT_EQ(windows_->windowText(main), TestImClient::mainTitle());
}

TEST_F(WindowSystemTest, ChildrenComeInOrderWithTheirClassesAndTextsUntilTheVisitStops) {
  const port::Window dialog = open(gbk("friend甲"), gbk("添加好友"));
  ASSERT_NE(dialog, 0u);
  std::vector<std::string> seen;
  windows_->enumChildWindows(dialog, [&](port::Window child) {
    seen.push_back(windows_->className(child) + "|" + windows_->windowText(child));
    return true;
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"SearchInput|", "EditComponent|", "StandardButton|" + gbk("确  定")}));

  int visits = 0;
  windows_->enumChildWindows(dialog, [&](port::Window) { return ++visits < 2; });
  EXPECT_EQ(visits, 2);
}

TEST_F(WindowSystemTest, TextsAndMessagesReachTheOtherProgram) {
  const port::Window dialog = open(gbk("friend乙"), gbk("添加好友"));
  port::Window request = 0;
  port::Window ok = 0;
  windows_->enumChildWindows(dialog, [&](port::Window child) {
    if (windows_->className(child) == "EditComponent") request = child;
    if (windows_->className(child) == "StandardButton") ok = child;
    return true;
  });
  ASSERT_NE(request, 0u);
  EXPECT_NE(windows_->setText(request, gbk("请联系我获取发货信息")), 0);
  EXPECT_EQ(windows_->windowText(request), gbk("请联系我获取发货信息"));
  EXPECT_EQ(windows_->sendMessage(ok, port::win::kLButtonUp, port::win::kLeftButton, port::win::mousePosition(35, 14)),
            0);
  const std::vector<ClientEvent> events = client_.events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1], (ClientEvent{"ok", WM_LBUTTONUP, MK_LBUTTON, (14u << 16) | 35u, ""}));

  windows_->sendMessage(dialog, port::win::kClose, 0, 0);
  EXPECT_EQ(windows_->findWindow("", gbk("添加好友")), 0u);
  EXPECT_EQ(windows_->className(dialog), "");  // gone
  EXPECT_EQ(windows_->windowText(dialog), "");
}

TEST_F(WindowSystemTest, SelectStringFindsAnEntryByItsStartInARealListBox) {
  const port::Window dialog = open(gbk("account丙"), gbk("请选择已登录的阿里旺旺帐号"));
  port::Window list = 0;
  windows_->enumChildWindows(dialog, [&](port::Window child) {
    if (windows_->className(child) != "ListBox") return true;
    list = child;
    return false;
  });
  ASSERT_NE(list, 0u);
  EXPECT_EQ(windows_->selectString(list, 0, TestImClient::seller() + gbk("[淘宝网]")), 1);
  EXPECT_EQ(windows_->selectString(list, 0, gbk("别家")), 0);  // a prefix selects
  EXPECT_EQ(windows_->selectString(list, 0, gbk("无此人")), port::win::kListError);
}

TEST_F(WindowSystemTest, AChatIsMinimisedAndTheControlKeyHasItsScanCode) {
  const port::Window chat = open(gbk("chat丁"), TestImClient::chatTitle(gbk("chat丁")));
  ASSERT_NE(chat, 0u);
  windows_->showWindow(chat, port::win::kShowMinimized);
  EXPECT_TRUE(waitUntil([&] { return IsIconic(reinterpret_cast<HWND>(chat)) != FALSE; }));
  EXPECT_EQ(windows_->mapVirtualKey(port::win::kVkControl, port::win::kMapVkToScan), 0x1Du);
  windows_->keyEvent(port::win::kVkControl, 0x1D, 0);
  windows_->keyEvent(port::win::kVkControl, 0x1D, port::win::kKeyEventUp);
  EXPECT_EQ(GetAsyncKeyState(VK_CONTROL) & 0x8000, 0);  // released again
}

}  // namespace
}  // namespace Quorvel::testing
