// The IM window steps end to end against the test IM client, a separate
// Win32 program, through the system's real window functions.
#include <gtest/gtest.h>

#include "base/Charset.h"
#include "base/Env.h"
#include "imwindows/ImWindowSteps.h"
#include "tests/win32/Win32Support.h"

namespace Quorvel::testing {
namespace {

using Answer = ImWindowSteps::Answer;

std::string repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

class ImWindowStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client_.running()) << "im_test_client.exe did not show its main window";
    Env env(std::make_shared<RecordingClock>(recorder_));
    env.set<port::WindowSystem>(std::make_shared<RecordingWindows>(recorder_));
    env.set<port::EmbeddedBrowser>(std::make_shared<ClientBrowser>(client_));
    steps_ = std::make_unique<ImWindowSteps>(env);
  }

  ImWindowSteps::ChatResult send(const std::string& buyer, const std::string& text) {
    return steps_->openChatAndType(buyer, TestImClient::seller(), TestImClient::linkFor(buyer), text, {});
  }

  // The events of one role, in order.
  std::vector<ClientEvent> eventsOf(const std::string& role) {
    std::vector<ClientEvent> found;
    for (const ClientEvent& event : client_.events()) {
      if (event.role == role) found.push_back(event);
    }
    return found;
  }

  // What the box receives for one piece: the text, Enter, Ctrl down, Enter, Ctrl up.
  static std::vector<ClientEvent> piece(const std::string& text) {
    return {{"box", WM_SETTEXT, 0, 0, text},       {"box", WM_KEYDOWN, VK_RETURN, 0x40000000, ""},
            {"box", WM_CHAR, 10, 0, ""},           {"box", WM_KEYUP, VK_RETURN, 0, ""},
            {"box", WM_KEYDOWN, VK_CONTROL, 0, ""}, {"box", WM_KEYDOWN, VK_RETURN, 0x40000000, ""},
            {"box", WM_CHAR, 10, 0, ""},           {"box", WM_KEYUP, VK_RETURN, 0, ""},
            {"box", WM_KEYUP, VK_CONTROL, 0, ""}};
  }

  TestImClient client_;
  std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
  std::unique_ptr<ImWindowSteps> steps_;  // on the recording parties above
};

TEST_F(ImWindowStepsTest, A900CharacterTextArrivesAs400And400And100WithTheSendKeys) {
  const std::string buyer = gbk("chat买家");
  const std::string first = repeat(gbk("卡"), 200) + repeat("a", 200);
  const std::string second = repeat("b", 300) + repeat(gbk("密"), 100);
  const std::string third = repeat(gbk("码"), 50) + repeat("c", 50);

  const ImWindowSteps::ChatResult sent = send(buyer, first + second + third);
  EXPECT_EQ(sent.answer, Answer::kChat);
  EXPECT_TRUE(sent.typing.finished());
  EXPECT_EQ(sent.typing.piecesSent, 3);
  EXPECT_TRUE(sent.dealtWith());

  std::vector<ClientEvent> expected;
  for (const std::string& text : {first, second, third}) {
    for (const ClientEvent& event : piece(text)) expected.push_back(event);
  }
  EXPECT_EQ(eventsOf("box"), expected);
  EXPECT_EQ(eventsOf("chat"), (std::vector<ClientEvent>{{"chat", WM_CLOSE, 0, 0, ""}}));
  EXPECT_EQ(FindWindowA("StandardFrame", TestImClient::chatTitle(buyer).c_str()), nullptr);

  // Each piece waits a second before it and after its text; the chat closes
  // a second after the last one. Ctrl is pressed for the desktop too, with
  // its scan code.
  const std::string scan = std::to_string(MapVirtualKeyA(VK_CONTROL, MAPVK_VK_TO_VSC));
  std::vector<std::string> steps = {"show 2"};
  for (int unitsOfPiece : {400, 400, 100}) {
    for (const std::string& step : {std::string("sleep 1"), "settext " + std::to_string(unitsOfPiece),
                                    std::string("sleep 1"), "key 17 " + scan + " 0", "key 17 " + scan + " 2"}) {
      steps.push_back(step);
    }
  }
  steps.push_back("sleep 1");
  EXPECT_EQ(recorder_->events(), steps);
  EXPECT_EQ(scan, "29");
}

TEST_F(ImWindowStepsTest, AShortTextIsOnePieceWithoutAWaitBeforeIt) {
  const std::string text = gbk("订单：T1的发货内容：\r\n卡号：1234 密码：5678");
  const ImWindowSteps::ChatResult sent = send(gbk("chat乙"), text);
  EXPECT_TRUE(sent.typing.finished());
  EXPECT_EQ(eventsOf("box"), piece(text));
  const std::vector<std::string> steps = recorder_->events();
  ASSERT_GE(steps.size(), 3u);
  EXPECT_EQ(steps[1], "settext " + std::to_string(utf16Units(text)));
}

TEST_F(ImWindowStepsTest, TheNoticeBoxIsClosedAndTheMessageWaits) {
  const ImWindowSteps::ChatResult sent = send(gbk("notice丙"), "text");
  EXPECT_EQ(sent.answer, Answer::kNotice);
  EXPECT_TRUE(sent.dealtWith());
  EXPECT_EQ(eventsOf("notice"), (std::vector<ClientEvent>{{"notice", WM_CLOSE, 0, 0, ""}}));
  EXPECT_EQ(FindWindowA(nullptr, gbk("阿里旺旺").c_str()), nullptr);
}

TEST_F(ImWindowStepsTest, TheAddFriendDialogGetsTheRequestAndIsConfirmedAndClosed) {
  const ImWindowSteps::ChatResult sent = send(gbk("friend丁"), "text");
  EXPECT_EQ(sent.answer, Answer::kAddFriend);
  const std::uint64_t at = (14u << 16) | 35u;
  EXPECT_EQ(eventsOf("request"), (std::vector<ClientEvent>{{"request", WM_SETTEXT, 0, 0, gbk("请联系我获取发货信息")}}));
  EXPECT_EQ(eventsOf("ok"), (std::vector<ClientEvent>{{"ok", WM_LBUTTONDOWN, MK_LBUTTON, at, ""},
                                                      {"ok", WM_LBUTTONUP, MK_LBUTTON, at, ""}}));
  EXPECT_EQ(eventsOf("friend"), (std::vector<ClientEvent>{{"friend", WM_CLOSE, 0, 0, ""}}));
  EXPECT_EQ(FindWindowA(nullptr, gbk("添加好友").c_str()), nullptr);
}

TEST_F(ImWindowStepsTest, TheAccountDialogChoosesTheSellerAndTheChatOpens) {
  const std::string buyer = gbk("account戊");
  const ImWindowSteps::ChatResult sent = send(buyer, "cards");
  EXPECT_EQ(sent.answer, Answer::kChat);
  EXPECT_TRUE(sent.typing.finished());
  const std::string entry = TestImClient::seller() + gbk("[淘宝网]");
  EXPECT_EQ(eventsOf("list"), (std::vector<ClientEvent>{{"list", LB_SELECTSTRING, 0, 0, entry}}));
  const std::uint64_t at = (5u << 16) | 5u;
  EXPECT_EQ(eventsOf("button"), (std::vector<ClientEvent>{{"button", WM_LBUTTONDOWN, MK_LBUTTON, at, ""},
                                                          {"button", WM_LBUTTONUP, MK_LBUTTON, at, ""}}));
  EXPECT_EQ(eventsOf("box"), piece("cards"));
}

TEST_F(ImWindowStepsTest, ABoxThatRefusesItsTextEndsTheSendWithFalse) {
  const ImWindowSteps::ChatResult sent = send(gbk("refuse己"), "cards");
  EXPECT_EQ(sent.answer, Answer::kChat);
  EXPECT_TRUE(sent.typing.nothingSent());
  EXPECT_FALSE(sent.dealtWith());
  EXPECT_EQ(eventsOf("refusingbox").size(), static_cast<std::size_t>(ImWindowSteps::kPatientTries));
  // A chat that took nothing stays open for the next try.
  EXPECT_EQ(eventsOf("chat").size(), 0u);
}

TEST_F(ImWindowStepsTest, AnAccountListWithoutTheSellerEndsTheSendWithFalse) {
  const ImWindowSteps::ChatResult sent = send(gbk("nolist庚"), "cards");
  EXPECT_EQ(sent.answer, Answer::kGaveUp);
  EXPECT_FALSE(sent.dealtWith());
  EXPECT_EQ(eventsOf("list").size(), static_cast<std::size_t>(ImWindowSteps::kPatientTries));
  EXPECT_TRUE(eventsOf("button").empty());
  EXPECT_TRUE(eventsOf("box").empty());
}

TEST_F(ImWindowStepsTest, TheMainWindowTellsWhetherTheSellerIsLoggedIn) {
  EXPECT_EQ(steps_->findMainWindow(TestImClient::seller()), reinterpret_cast<port::Window>(client_.mainWindow()));
  EXPECT_EQ(steps_->findMainWindow(gbk("别家")), 0u);
  EXPECT_EQ(steps_->findChat(gbk("chat辛"), TestImClient::seller()), 0u);
}

}  // namespace
}  // namespace Quorvel::testing
