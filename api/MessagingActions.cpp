#include "api/MessagingActions.h"

#include <json/value.h>

#include "base/Charset.h"
#include "base/Codes.h"
#include "base/GlobalLock.h"
#include "base/Registry.h"
#include "server/ActionTable.h"
#include "store/MsgQueue.h"

namespace Quorvel {

namespace {

// Without a marketplace login there is no sender: nothing is queued. A
// failure to queue is answered like the other actions' failures.
void wwTest() {
  const std::string to = postParam("to");
  std::string account;
  {
    GlobalGuard hold;
    account = Registry::instance()->getOr<std::string>("account", std::string());
  }
  Json::Value reply(Json::objectValue);
  if (account.empty()) {
    reply["SUCCESS"] = 0;
    reply["MSG"] = gbk("未登录淘宝帐号，不能进行旺旺测试操作！");
    writeJsonp(reply);
    return;
  }
  reply["SUCCESS"] = 1;
  answerJsonp(reply, [&](Json::Value&) {
    MsgQueue::instance()->add(kChat, to, account, gbk("这是测试的消息发送，您收到这条消息，说明旺旺已经发货成功！"), "", "");
  });
}

}  // namespace

void registerMessagingActions() { registerAction("wwTest", wwTest, ActionPlace::kOutsideWorker); }

}  // namespace Quorvel
