#include "notify/ImAutomation.h"

#include <map>
#include <memory>
#include <vector>

#include "base/Charset.h"
#include "base/Clock.h"
#include "base/GlobalLock.h"
#include "imwindows/ImWindowSteps.h"
#include "market/MarketHosts.h"
#include "store/Db.h"
#include "store/MsgQueue.h"
#include "store/MsgType.h"
#include "store/SystemConfig.h"

namespace Quorvel {

using port::Window;

namespace {

// The chat window's title, which groups the waiting messages by chat.
std::string chatTitle(const std::string& buyer, const std::string& seller) { return buyer + " - " + seller; }

// The waiting messages one sendWaitingChats holds claims on; whatever it
// still holds when it ends is given back to the queue.
class Claims {
 public:
  explicit Claims(std::shared_ptr<MsgQueue> queue) : queue_(std::move(queue)) {}
  Claims(const Claims&) = delete;
  Claims& operator=(const Claims&) = delete;
  ~Claims() {
    for (const MsgEntry& entry : held_) {
      try {
        queue_->release(entry);
      } catch (...) {
        // Releasing touches no database; nothing to report.
      }
    }
  }

  void hold(const MsgEntry& entry) { held_.push_back(entry); }
  // The entry was removed: its claim ended with it.
  void forget(const MsgEntry& entry) {
    std::erase_if(held_, [&](const MsgEntry& held) { return held.id == entry.id; });
  }

 private:
  std::shared_ptr<MsgQueue> queue_;
  std::vector<MsgEntry> held_;
};

}  // namespace

ImAutomation::ImAutomation(const Env& env) : steps_(env), clock_(env.sharedClock()) {}

bool ImAutomation::sendChatMessage(const std::shared_ptr<IDb>& db, const std::string& to, const std::string& from,
                                   const std::string& text,
                                   const std::string& orderId, std::stop_token stop) {
  // No main window: the client is not running, or the seller is not logged in.
  if (steps_.findMainWindow(from) == 0) return false;

  const std::string name = encodeChatName(to);
  // No link can name this buyer, so no chat can ever open: the message is
  // dropped like one without an addressee.
  if (name.empty()) return true;
  const std::string chatText = gbk("订单：") + orderId + gbk("的发货内容：\r\n") + text;
  const ImWindowSteps::ChatResult sent =
      steps_.openChatAndType(to, from, MarketHosts::webImPage(name), chatText, stop);
  switch (sent.answer) {
    case ImWindowSteps::Answer::kChat:
      if (sent.typing.nothingSent()) return false;
      // What could not follow the pieces already sent waits for the next
      // open chat instead of being typed again from the start.
      if (!sent.typing.finished()) queueWaitingChat(db, to, from, sent.typing.rest, orderId);
      return true;
    case ImWindowSteps::Answer::kNotice:
    case ImWindowSteps::Answer::kAddFriend:
      queueWaitingChat(db, to, from, text, orderId);
      return true;
    case ImWindowSteps::Answer::kGaveUp:
      break;
  }
  return false;
}

void ImAutomation::sendWaitingChats(const std::shared_ptr<IDb>& db, std::stop_token stop) {
  const std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  if (!config->flag("wangwang_initiative_enable")) return;
  const std::int64_t limit = std::int64_t{config->number("wangwang_retry_timeout")} * 86400;
  const std::shared_ptr<MsgQueue> queue = MsgQueue::instance();

  // Every waiting message is claimed while the lock is held, so that a pass
  // running beside this one takes none of them; the claims of the messages
  // not typed are given back at the end.
  Claims claims(queue);
  std::map<std::string, std::vector<MsgEntry>> byChat;
  {
    GlobalGuard hold;
    const std::int64_t now = clock_->now();
    queue->load(db);
    MsgEntry entry;
    while (queue->claim(kWaitingChat, entry)) {
      claims.hold(entry);
      if (now - entry.create_time > limit) {
        queue->remove(db, entry);
        claims.forget(entry);
      } else {
        byChat[chatTitle(entry.to, entry.from)].push_back(entry);
      }
    }
  }

  for (const auto& [title, entries] : byChat) {
    if (stop.stop_requested()) return;
    const Window chat = steps_.findChat(entries.front().to, entries.front().from);
    if (chat == 0) continue;  // not open: the messages wait for a later pass
    for (const MsgEntry& entry : entries) {
      if (stop.stop_requested()) return;
      const Typing typing = typeIntoChat(chat, entry.msg, stop);
      // A chat that took nothing keeps the rest of its messages waiting too,
      // in their order.
      if (typing.nothingSent()) break;
      if (!typing.finished()) queueWaitingChat(db, entry.to, entry.from, typing.rest, entry.order_id);
      queue->remove(db, entry);
      claims.forget(entry);
    }
  }
}

void ImAutomation::queueWaitingChat(const std::shared_ptr<IDb>& db, const std::string& to, const std::string& from,
                                    const std::string& text, const std::string& orderId) {
  MsgQueue::instance()->add(db, kWaitingChat, to, from, text, orderId, "");
}

}  // namespace Quorvel
