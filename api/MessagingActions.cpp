#include "api/MessagingActions.h"

#include <json/value.h>

#include "base/Charset.h"
#include "base/Codes.h"
#include "base/Exception.h"
#include "base/GlobalLock.h"
#include "base/Registry.h"
#include "server/ActionTable.h"
#include "store/MsgQueue.h"
#include "store/SystemConfig.h"

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

// The way "email_send_type" sends e-mail, in words; empty when it sends none.
std::string mailRoute(const std::shared_ptr<SystemConfig>& config) {
  switch (config->number("email_send_type")) {
    case 1:
      return gbk("软件服务器");
    case 2:
      return gbk("本机直接投递");
    case 3:
      return gbk("SMTP 服务器 ") + config->get("smtp_host");
    default:
      return "";
  }
}

// Queues one e-mail to the seller's notice address, from the configured
// sender, the way the seller's notices go. Refused while the address has no
// "@" or no way of sending e-mail is chosen: the mail would never arrive.
void mailTest() {
  Json::Value reply(Json::objectValue);
  reply["SUCCESS"] = 1;
  answerJsonp(reply, [](Json::Value& reply) {
    std::shared_ptr<SystemConfig> config = SystemConfig::instance();
    const std::string mailto = config->get("notice_mailto");
    if (mailto.find('@') == std::string::npos) {
      throw Exception(gbk("请先在“通知邮箱”（notice_mailto）填写有效的邮件地址。"));
    }
    const std::string route = mailRoute(config);
    if (route.empty()) throw Exception(gbk("请先选择邮件发送方式（email_send_type），否则邮件不会发出。"));
    MsgQueue::instance()->add(kEmail, mailto, config->get("email_sender"),
                              gbk("这是一封测试邮件：收到它，说明邮件通知的设置是正确的。"), "", "");
    reply["MSG"] = gbk("测试邮件已加入发送队列，将由 ") + route + gbk(" 发送到 ") + mailto + gbk("。");
  });
}

}  // namespace

void registerMessagingActions() {
  // Both queue a message, which takes the global lock a login holds while
  // the marketplace answers.
  registerAction("wwTest", wwTest, ActionPlace::kOutsideWorker);
  registerAction("mailTest", mailTest, ActionPlace::kOutsideWorker);
}

}  // namespace Quorvel
