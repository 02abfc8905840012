// ImAutomation: sends chat messages to buyers by driving the seller's IM
// client (AliWangWang 2012, seller edition) through its windows. A chat is
// opened by loading the marketplace's web IM link into the main window's
// browser control; the text is typed into the chat's input box in pieces and
// sent with the client's send keys. When the client answers with its notice
// box or the add-friend dialog instead of a chat, the message waits (type 3)
// until a chat window with that buyer is open; sendWaitingChats types the
// waiting messages into the chat windows it finds open.
//
// The program's IM channel (the ImChannel entry of its Env). This class is
// the queue and settings side; the window work is ImWindowSteps
// (imwindows/), which reaches the windows, the browser control and the
// clock of the Env the automation is built with. Runs on the daemon's
// message worker; a replaced worker and its successor may overlap, and the
// queue's claims keep them from typing the same message.
#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>

#include "base/Clock.h"
#include "base/Env.h"
#include "imwindows/ImWindowSteps.h"
#include "notify/ImChannel.h"
#include "port/WindowSystem.h"

namespace Quorvel {

class ImAutomation : public ImChannel {
 public:
  // The bounds and sizes of the window steps (imwindows/ImWindowSteps.h).
  static constexpr int kAttempts = ImWindowSteps::kAttempts;
  static constexpr int kChecks = ImWindowSteps::kChecks;
  static constexpr int kPatientTries = ImWindowSteps::kPatientTries;
  static constexpr int kAccountChoices = ImWindowSteps::kAccountChoices;
  static constexpr std::size_t kPieceUnits = ImWindowSteps::kPieceUnits;
  static constexpr std::size_t kMaxChatNameBytes = ImWindowSteps::kMaxChatNameBytes;

  // Takes the window system, the browser control and the clock of `env`.
  explicit ImAutomation(const Env& env);

  // Opens the chat with `to` from the seller account `from` and types
  // "订单：" + orderId + "的发货内容：\r\n" + text. True when the message is dealt
  // with: typed (a piece that could not follow is queued as a waiting
  // message), handed on as a waiting message because the client showed its
  // notice box or the add-friend dialog, or dropped because `to` cannot be
  // put into a link. False, with nothing typed, when the client is not
  // running (at once), no chat opened after all attempts, a bounded wait ran
  // out, or `stop` was requested.
  bool sendChatMessage(const std::shared_ptr<IDb>& db, const std::string& to, const std::string& from,
                       const std::string& text, const std::string& orderId, std::stop_token stop) override;

  // When "wangwang_initiative_enable" is "1": deletes the waiting messages
  // older than "wangwang_retry_timeout" days, then types every other waiting
  // message into the open chat window with its buyer, claiming each before
  // and removing it right after. Messages whose chat is not open stay.
  void sendWaitingChats(const std::shared_ptr<IDb>& db, std::stop_token stop) override;

  // Queues `text` on `db` as a waiting message (type 3) from `from` to `to`.
  static void queueWaitingChat(const std::shared_ptr<IDb>& db, const std::string& to, const std::string& from,
                               const std::string& text, const std::string& orderId);

  using Typing = ImWindowSteps::Typing;

  // The window steps, for the tests that drive them one by one.
  Typing typeIntoChat(port::Window chat, const std::string& text, std::stop_token stop) const {
    return steps_.typeIntoChat(chat, text, stop);
  }
  void fillAddFriendDialog(port::Window dialog, std::stop_token stop) const {
    steps_.fillAddFriendDialog(dialog, stop);
  }
  static std::string encodeChatName(const std::string& name) { return ImWindowSteps::encodeChatName(name); }

 private:
  const ImWindowSteps steps_;
  const std::shared_ptr<Clock> clock_;
};

}  // namespace Quorvel
