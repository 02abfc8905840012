// Test fixture for the dispatch pass: a fresh database, the maker's stand-in
// service on a free port as the messaging endpoint, a clock that stands
// still, and an IM channel that records what it is asked to send.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/Env.h"
#include "base/ProcessWide.h"
#include "notify/ImChannel.h"
#include "notify/MessageDispatcher.h"
#include "service/MakerService.h"
#include "store/MsgQueue.h"
#include "store/SystemConfig.h"
#include "tests/delivery/Fakes.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {

constexpr std::int64_t kNow = 1'700'000'000;

// Answers each chat message with `answer`; records each message together
// with how many messages the maker's service had received by then, which
// places the chat in the order of the whole pass.
class FakeImChannel : public ImChannel {
 public:
  struct Chat {
    std::string to, from, text, orderId;
    size_t servicedBefore;
  };

  explicit FakeImChannel(const MakerService& service) : service_(service) {}

  bool sendChatMessage(const std::shared_ptr<IDb>&, const std::string& to, const std::string& from,
                       const std::string& text, const std::string& orderId, std::stop_token) override {
    chats.push_back({to, from, text, orderId, service_.messages().size()});
    return answer;
  }
  void sendWaitingChats(const std::shared_ptr<IDb>&, std::stop_token) override { ++waitingRounds; }

  bool answer = true;
  std::vector<Chat> chats;
  int waitingRounds = 0;

 private:
  const MakerService& service_;
};

class DispatchFixture : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    testing::useDatabaseWallTime(clock_);
    env_.set<ImChannel>(im_);
    getDb()->exec("pragma synchronous = off;");
    config_ = SystemConfig::instance();
    config_->set(getDb(), "maker_base", "http://127.0.0.1:" + std::to_string(service_.start(0)));
  }
  void TearDown() override {
    service_.stop();
    StoreFixture::TearDown();
  }

  int queue(int type, const std::string& to, const std::string& msg, const std::string& from = "shop",
            const std::string& orderId = "", const std::string& alipayId = "") {
    return MsgQueue::instance()->add(getDb(), type, to, from, msg, orderId, alipayId);
  }

  // The ids still queued under `type`, oldest first.
  std::vector<int> queued(int type) {
    MsgQueue::instance()->load(getDb());
    std::vector<int> ids;
    auto rows = getDb()->query("select `id` from `msg_queue` where `type`=" + std::to_string(type) +
                               " order by `id` asc");
    while (rows->next()) ids.push_back((*rows->fetch())["id"].toInt());
    return ids;
  }

  // One dispatch pass that nobody stops.
  void pass() { MessageDispatcher(env_).sendMessages(std::stop_token()); }

  std::shared_ptr<SystemConfig> config_;
  MakerService service_;
  std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>(kNow, true);
  // The dispatcher's: the clock above, the IM channel below, and the
  // mailer's network and options.
  Env env_{clock_};
  std::shared_ptr<FakeImChannel> im_ = std::make_shared<FakeImChannel>(service_);
};

}  // namespace Quorvel::testing
