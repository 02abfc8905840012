#include "notify/MessageDispatcher.h"

#include <json/json.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/Charset.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "base/ProcessWide.h"
#include "base/Registry.h"
#include "market/HttpClient.h"
#include "notify/ImChannel.h"
#include "notify/Mailer.h"
#include "store/Db.h"
#include "store/EmailSendType.h"
#include "store/Endpoints.h"
#include "store/MsgQueue.h"
#include "store/MsgType.h"
#include "store/OrderLog.h"
#include "store/SystemConfig.h"

namespace Quorvel {

const char* const MessageDispatcher::kDefaultSender = "Vendara <noreply@localhost>";

namespace {

// What one pass reads: the settings as they were when it started, and the
// address of the maker's messaging service.
struct PassSettings {
  std::unordered_map<std::string, std::string> values;
  std::string makerBase;

  // Untrimmed; a key that is not there reads as empty text.
  std::string get(const std::string& key) const {
    auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
  }
};

// True when the reply is a JSON object whose "SUCCESS" is true or a non-zero
// number. Anything else (not JSON, no such member, null, 0, a text) is a
// refusal.
bool accepted(const std::string& reply) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  if (!reader->parse(reply.data(), reply.data() + reply.size(), &root, nullptr) || !root.isObject()) return false;
  const Json::Value& success = root["SUCCESS"];
  if (success.isBool()) return success.asBool();
  if (success.isNumeric()) return success.asDouble() != 0;
  return false;
}

// How one attempt to send a message went, for the order log.
struct Attempt {
  bool done = false;  // sent, or removed after its one attempt
  bool sent = false;  // the channel took it
  std::string reply;  // the service's reply, the mail server's last line, or why nothing was sent (GBK)
};

// Posts a form to one of the messaging endpoints; the values go out as UTF-8.
// True when the service accepted it; `reply` gets its answer, or why none came.
bool postToMaker(const Env& env, const PassSettings& settings, const std::string& action,
                 const std::vector<std::pair<std::string, std::string>>& fields, std::string& reply) {
  FormFields form;
  for (const auto& [name, value] : fields) form[name] = gbkToUtf8(value);
  HttpResult answer = httpFetch(env, settings.makerBase + "/?m=Api&a=" + action, form);
  reply = answer.error.empty() ? replyText(answer.body) : answer.reason();
  return accepted(answer.body);
}

std::string mailSubject(const MsgEntry& entry) {
  if (!entry.subject.empty()) return entry.subject;
  if (entry.order_id.empty()) return entry.msg;
  return gbk("【软件自动发货】请查收订单：") + entry.order_id + gbk("的发货信息");
}

std::string mailSender(const PassSettings& settings, const MsgEntry& entry) {
  if (!entry.from.empty()) return entry.from;
  std::string sender = settings.get("email_sender");
  return sender.empty() ? MessageDispatcher::kDefaultSender : sender;
}

// Sends one e-mail over SMTP; the message is removed whatever happened, and
// the mail server's last reply goes to the order log.
Attempt sendBySmtp(const Env& env, const PassSettings& settings, const MsgEntry& entry, bool mxDelivery) {
  std::unique_ptr<Mailer> mailer;
  if (mxDelivery) {
    mailer = std::make_unique<Mailer>(env, true, env.get<MailerOptions>()->mxPort);
    if (!settings.get("email_dns_server").empty()) mailer->setServer(settings.get("email_dns_server"));
  } else {
    // An empty (or unusable) port setting means the relay's usual port, not
    // port 0, which no relay listens on.
    const int configured = std::atoi(settings.get("smtp_port").c_str());
    const std::uint16_t port = (configured >= 1 && configured <= 65535) ? static_cast<std::uint16_t>(configured)
                                                                         : env.get<MailerOptions>()->relayPort;
    mailer = std::make_unique<Mailer>(env, false, port);
    if (!settings.get("smtp_host").empty()) mailer->setServer(settings.get("smtp_host"));
    mailer->setLogin(settings.get("smtp_user"), settings.get("smtp_pwd"));
  }
  mailer->setSender(mailSender(settings, entry));
  mailer->addRecipient(entry.to);
  mailer->setSubject(mailSubject(entry));
  mailer->setMessage(entry.msg);
  mailer->send();
  return {true, mailer->accepted(), replyText(mailer->status())};
}

// Sends one e-mail the way "email_send_type" says; done when the message is
// done with (sent, or removed after its one SMTP attempt).
Attempt sendMail(const Env& env, const PassSettings& settings, const MsgEntry& entry) {
  switch (static_cast<EmailSendType>(std::atoi(settings.get("email_send_type").c_str()))) {
    case EmailSendType::kMakerService: {
      Attempt attempt;
      attempt.sent = postToMaker(env, settings, "email_send",
                                 {{"msg", entry.msg}, {"to", entry.to}, {"from", entry.from}, {"order_id", entry.order_id}},
                                 attempt.reply);
      attempt.done = attempt.sent;
      return attempt;
    }
    case EmailSendType::kDirect:
      return sendBySmtp(env, settings, entry, true);
    case EmailSendType::kRelay:
      return sendBySmtp(env, settings, entry, false);
    default:
      // No way to send it: it waits for a valid setting.
      return {false, false, gbk("没有选择邮件发送方式（email_send_type），邮件等设置好后再发")};
  }
}

// A buyer message's outcome in its order's log; a failure to write it is
// only named on standard output, the message itself is handled.
void logOutcome(const std::shared_ptr<IDb>& db, const MsgEntry& entry, const Attempt& attempt) {
  if (entry.order_id.empty()) return;  // seller notices and test messages
  try {
    OrderLog::instance()->addOnce(
        db, entry.order_id, attempt.sent ? OrderLog::kSent : OrderLog::kRefused,
        "#" + std::to_string(entry.id) + " " + msgTypeName(entry.type) + " " + entry.to + " " + attempt.reply);
  } catch (Exception e) {
    std::printf("The log of order %s misses a message outcome: %s\n", entry.order_id.c_str(), e.message().c_str());
    std::fflush(stdout);
  }
}

}  // namespace

std::string replyText(const std::string& raw) {
  // At most 500 bytes, cut between two UTF-8 characters: a character cut in
  // two would make the whole reply unreadable.
  std::size_t end = std::min<std::size_t>(raw.size(), 500);
  while (end > 0 && end < raw.size() && (static_cast<unsigned char>(raw[end]) & 0xC0) == 0x80) --end;
  const std::string cut = raw.substr(0, end);
  try {
    return utf8ToGbk(cut);
  } catch (Exception) {
  }
  std::string ascii = cut;
  for (char& c : ascii) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  }
  return ascii;
}


void MessageDispatcher::sendMessages(std::stop_token stop) {
  // Settings changed during the pass take effect at the next one.
  PassSettings settings{SystemConfig::instance()->getAll(), endpointSetting("maker_base")};
  Registry::instance()->set<std::int64_t>("sendMsgTime", env_.clock().now());
  const std::shared_ptr<ImChannel> im = env_.get<ImChannel>();
  OrderLog::instance();  // made (and its table checked) before any message is sent
  const std::shared_ptr<IDb> db = getDb();  // the pass's thread's connection

  // Sends one claimed message; done when it is done with, not done when it
  // stays queued for a later pass.
  auto send = [&](int type, const MsgEntry& entry) {
    Attempt attempt;
    switch (type) {
      case kWebMessage:
        // One attempt only: removed whatever the service answers.
        attempt.sent = postToMaker(env_, settings, "web_send",
                                   {{"msg", entry.msg},
                                    {"to", entry.to},
                                    {"from", entry.from},
                                    {"order_id", entry.order_id},
                                    {"alipay_id", entry.alipay_id}},
                                   attempt.reply);
        attempt.done = true;
        return attempt;
      case kEmail:
        return sendMail(env_, settings, entry);
      default:
        if (entry.to.empty()) {
          // A chat message without an addressee can never be sent: dropped.
          return Attempt{true, false, gbk("没有收件人")};
        }
        attempt.sent = im->sendChatMessage(db, entry.to, entry.from, entry.msg, entry.order_id, stop);
        attempt.done = attempt.sent;
        attempt.reply = attempt.sent ? gbk("已发送") : gbk("旺旺未能发送，稍后重试");
        return attempt;
    }
  };

  // A type whose message failed and stays queued is not tried again in this
  // pass, so a pass ends even while a message cannot be sent; the next pass
  // tries it again. Messages committed meanwhile join the pass, because
  // pending reloads the queue.
  std::array<bool, 3> setAside{};
  const auto queue = MsgQueue::instance();
  while (!stop.stop_requested() && queue->pending(db) > 0) {
    bool tried = false;
    for (int type : {kWebMessage, kEmail, kChat}) {
      if (stop.stop_requested()) return;
      MsgEntry entry;
      if (setAside[type] || !queue->claim(type, entry)) continue;
      tried = true;
      Attempt attempt;
      try {
        attempt = send(type, entry);
      } catch (...) {
        queue->release(entry);
        throw;
      }
      logOutcome(db, entry, attempt);
      if (attempt.done) {
        queue->remove(db, entry);
      } else {
        queue->failed(db, entry, attempt.reply);
        setAside[type] = true;
      }
    }
    // Only set-aside types, messages another pass holds, or types no
    // channel handles are left.
    if (!tried) break;
  }

  if (!stop.stop_requested()) im->sendWaitingChats(db, stop);
}

}  // namespace Quorvel
