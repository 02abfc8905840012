#include "api/MessagingActions.h"

#include <json/value.h>

#include <cstdint>
#include <vector>

#include "api/ActionDispatch.h"
#include "api/PageTime.h"
#include "api/RequestIds.h"
#include "api/SubActions.h"
#include "base/Charset.h"
#include "base/Exception.h"
#include "base/GlobalLock.h"
#include "base/Registry.h"
#include "port/WindowSystem.h"
#include "store/EmailSendType.h"
#include "store/MsgQueue.h"
#include "store/MsgType.h"
#include "store/SystemConfig.h"

namespace Quorvel {

const char* const kNoImClientHere = "这台电脑上不能运行旺旺客户端，旺旺消息发不出去：请给分类选择邮件或站内信。";

namespace {

// Where the IM client cannot run, or without a marketplace login (there is
// no sender), nothing is queued. A failure to queue is answered like the
// other actions' failures.
void wwTest(ActionContext& context) {
  const std::string to = context.postParam("to");
  Json::Value reply(Json::objectValue);
  if (!context.env.get<port::WindowSystem>()->imClientPossible()) {
    reply["SUCCESS"] = 0;
    reply["MSG"] = gbk(kNoImClientHere);
    context.writeJsonp(reply);
    return;
  }
  std::string account;
  {
    GlobalGuard hold;
    account = Registry::instance()->getOr<std::string>("account", std::string());
  }
  if (account.empty()) {
    reply["SUCCESS"] = 0;
    reply["MSG"] = gbk("未登录淘宝帐号，不能进行旺旺测试操作！");
    context.writeJsonp(reply);
    return;
  }
  reply["SUCCESS"] = 1;
  context.answerJsonp(reply, [&](Json::Value&) {
    MsgQueue::instance()->add(context.db, kChat, to, account, gbk("这是测试的消息发送，您收到这条消息，说明旺旺已经发货成功！"), "", "");
  });
}

// The way "email_send_type" sends e-mail, in words; empty when it sends none.
std::string mailRoute(const std::shared_ptr<SystemConfig>& config) {
  switch (static_cast<EmailSendType>(config->number("email_send_type"))) {
    case EmailSendType::kMakerService:
      return gbk("软件服务器");
    case EmailSendType::kDirect:
      return gbk("本机直接投递");
    case EmailSendType::kRelay:
      return gbk("SMTP 服务器 ") + config->get("smtp_host");
    default:
      return "";
  }
}

// Queues one e-mail to the seller's notice address, from the configured
// sender, the way the seller's notices go. Refused while the address has no
// "@" or no way of sending e-mail is chosen: the mail would never arrive.
void mailTest(ActionContext& context) {
  Json::Value reply(Json::objectValue);
  reply["SUCCESS"] = 1;
  context.answerJsonp(reply, [&context](Json::Value& reply) {
    std::shared_ptr<SystemConfig> config = SystemConfig::instance();
    const std::string mailto = config->get("notice_mailto");
    if (mailto.find('@') == std::string::npos) {
      throw Exception(gbk("请先在“通知邮箱”（notice_mailto）填写有效的邮件地址。"));
    }
    const std::string route = mailRoute(config);
    if (route.empty()) throw Exception(gbk("请先选择邮件发送方式（email_send_type），否则邮件不会发出。"));
    MsgQueue::instance()->add(context.db, kEmail, mailto, config->get("email_sender"),
                              gbk("这是一封测试邮件：收到它，说明邮件通知的设置是正确的。"), "", "");
    reply["MSG"] = gbk("测试邮件已加入发送队列，将由 ") + route + gbk(" 发送到 ") + mailto + gbk("。");
  });
}

// The queue as the seller reads it: the oldest 500 messages with their
// channel, addressee, failed tries and last error, and "TOTAL".
constexpr std::size_t kListedMessages = 500;

void listQueue(ActionContext& context, Json::Value& reply) {
  std::size_t total = 0;
  const std::vector<MsgEntry> entries = MsgQueue::instance()->waiting(context.db, kListedMessages, total);
  Json::Value list(Json::arrayValue);
  for (const MsgEntry& entry : entries) {
    Json::Value row(Json::objectValue);
    row["id"] = entry.id;
    row["type"] = entry.type;
    row["type_text"] = msgTypeName(entry.type);
    row["to"] = entry.to;
    row["order_id"] = entry.order_id;
    row["tries"] = entry.error_times;
    row["last_error"] = entry.last_error;
    row["create_time"] = pageTime(entry.create_time);
    row["sending"] = entry.sending;
    list.append(std::move(row));
  }
  reply["LIST"] = std::move(list);
  reply["TOTAL"] = static_cast<Json::UInt64>(total);
  reply["IM_AVAILABLE"] = context.env.get<port::WindowSystem>()->imClientPossible();
}

// The answer to retry and del of a message that is gone or being sent.
void refuseChange(MsgQueue::Change change, int id) {
  if (change == MsgQueue::Change::kMissing) {
    throw Exception(gbk("队列里没有这条消息（") + std::to_string(id) + gbk("），可能已经发出或被删除。"));
  }
  if (change == MsgQueue::Change::kSending) {
    throw Exception(gbk("这条消息正在发送，请稍后再试。"));
  }
}

void retryMessage(ActionContext& context, Json::Value& reply) {
  const int id = requireId(context, "id");
  refuseChange(MsgQueue::instance()->retry(context.db, id), id);
  reply["MSG"] = gbk("已重新计数，下一轮发送时再试。");
}

void deleteMessage(ActionContext& context, Json::Value& reply) {
  const int id = requireId(context, "id");
  refuseChange(MsgQueue::instance()->discard(context.db, id), id);
  reply["MSG"] = gbk("消息已删除，不会再发送。");
}

}  // namespace

void registerMessagingActions(const Env& env) {
  env.get<port::WindowSystem>();
  registerAction(env, "msgQueue", [](ActionContext& context) {
    answerSubAction(context, {{"lst", listQueue}, {"retry", retryMessage}, {"del", deleteMessage}});
  });
  // Both queue a message, which takes the global lock a login holds while
  // the marketplace answers.
  registerAction(env, "wwTest", wwTest, ActionPlace::kOutsideWorker);
  registerAction(env, "mailTest", mailTest, ActionPlace::kOutsideWorker);
}

}  // namespace Quorvel
