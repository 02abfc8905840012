// The dispatch pass with the program's IM channel against the simulated IM
// client: a chat message to a buyer who is not yet a contact waits as a
// type 3 message, and is typed once the buyer's chat window is open.
#include <gtest/gtest.h>

#include "base/Charset.h"
#include "notify/ImAutomation.h"
#include "store/MsgType.h"
#include "tests/dispatch/DispatchFixture.h"
#include "tests/notify/SimImClient.h"

namespace Quorvel::testing {
namespace {

class ImDispatch : public DispatchFixture {
 protected:
  void SetUp() override {
    DispatchFixture::SetUp();
    config_->set(getDb(), "market_webim_host", "http://im.test");
    config_->set(getDb(), "wangwang_initiative_enable", "1");
    config_->set(getDb(), "wangwang_retry_timeout", "3");
    sim_->install();
    env_.set<ImChannel>(std::make_shared<ImAutomation>(sim_->env()));
  }

  const std::string seller_ = gbk("好店");
  const std::string buyer_ = gbk("买家");
  std::shared_ptr<SimImClient> sim_ = std::make_shared<SimImClient>(
      seller_, buyer_,
      "http://im.test/webww/?ver=1&&touid=cntaobao%E4%B9%B0%E5%AE%B6&siteid=cntaobao&status=1", kNow);
};

TEST_F(ImDispatch, AChatToANewContactWaitsAndIsTypedOnceItsChatIsOpen) {
  sim_->script.answer = SimAnswer::kAddFriend;
  const int chat = queue(kChat, buyer_, gbk("卡号：1234"), seller_, "T100");

  pass();
  EXPECT_TRUE(sim_->friendConfirmed());
  EXPECT_TRUE(queued(kChat).empty());
  const std::vector<int> waiting = queued(kWaitingChat);
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_NE(waiting[0], chat);
  EXPECT_TRUE(sim_->typed().empty());

  // Still no chat: the message keeps waiting, pass after pass.
  pass();
  EXPECT_EQ(queued(kWaitingChat), waiting);

  sim_->openChat();
  pass();
  EXPECT_EQ(sim_->typed(), std::vector<std::string>{gbk("卡号：1234")});
  EXPECT_TRUE(queued(kWaitingChat).empty());

  pass();
  EXPECT_EQ(sim_->typed().size(), 1u);
}

TEST_F(ImDispatch, AChatWhoseWindowOpensIsTypedWithItsOrderAndRemoved) {
  queue(kChat, buyer_, "cards", seller_, "T101");
  pass();
  EXPECT_EQ(sim_->typed(), std::vector<std::string>{gbk("订单：T101的发货内容：\r\ncards")});
  EXPECT_TRUE(queued(kChat).empty());
  EXPECT_TRUE(queued(kWaitingChat).empty());
}

}  // namespace
}  // namespace Quorvel::testing
