// ImAutomation: sends chat messages to buyers by driving the seller's IM
// client (AliWangWang 2012, seller edition) through its windows. A chat is
// opened by loading the marketplace's web IM link into the main window's
// browser control; the text is typed into the chat's input box in pieces and
// sent with the client's send keys. When the client answers with its notice
// box or the add-friend dialog instead of a chat, the message waits (type 3)
// until a chat window with that buyer is open; sendWaitingChats types the
// waiting messages into the chat windows it finds open.
//
// The program's IM channel (ImChannel::makeProcessWide). Every window call
// goes through processWide<port::WindowSystem>(), the link through
// processWide<port::EmbeddedBrowser>(), every pause through
// processWide<Clock>(); all are read at each call. Runs on the daemon's
// message worker; a replaced worker and its successor may overlap, and the
// queue's claims keep them from typing the same message.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "notify/ImChannel.h"
#include "port/WindowSystem.h"

namespace Quorvel {

class ImAutomation : public ImChannel {
 public:
  // Looks at the windows for the chat (or the client's other answers) up to
  // kChecks times, 3 seconds apart, after each of kAttempts loads of the link.
  static constexpr int kAttempts = 10;
  static constexpr int kChecks = 10;
  // A WM_SETTEXT that the input box keeps refusing, an account entry that
  // never shows up in the account list, and a button of the account dialog
  // that will not take its click are tried this often, a second apart,
  // before the send gives up.
  static constexpr int kPatientTries = 30;
  // Account dialogs answered within one send, after which it gives up.
  static constexpr int kAccountChoices = 10;
  // Text goes into the input box in pieces of this many UTF-16 units.
  static constexpr std::size_t kPieceUnits = 400;
  // A chat name whose UTF-8 form is longer cannot be put into the link.
  static constexpr std::size_t kMaxChatNameBytes = 5120;

  // Opens the chat with `to` from the seller account `from` and types
  // "订单：" + orderId + "的发货内容：\r\n" + text. True when the message is dealt
  // with: typed (a piece that could not follow is queued as a waiting
  // message), handed on as a waiting message because the client showed its
  // notice box or the add-friend dialog, or dropped because `to` cannot be
  // put into a link. False, with nothing typed, when the client is not
  // running (at once), no chat opened after all attempts, a bounded wait ran
  // out, or `stop` was requested.
  bool sendChatMessage(const std::string& to, const std::string& from, const std::string& text,
                       const std::string& orderId, std::stop_token stop) override;

  // When "wangwang_initiative_enable" is "1": deletes the waiting messages
  // older than "wangwang_retry_timeout" days, then types every other waiting
  // message into the open chat window with its buyer, claiming each before
  // and removing it right after. Messages whose chat is not open stay.
  void sendWaitingChats(std::stop_token stop) override;

  // Queues `text` as a waiting message (type 3) from `from` to `to`.
  static void queueWaitingChat(const std::string& to, const std::string& from, const std::string& text,
                               const std::string& orderId);

  // What typeIntoChat got into a chat.
  struct Typing {
    bool boxFound = false;  // the window had an input box
    int piecesSent = 0;
    std::string rest;  // the text not sent (GBK); empty when all of it was

    bool finished() const { return boxFound && rest.empty(); }
    // Nothing reached the buyer: the text can be sent again as a whole.
    bool nothingSent() const { return piecesSent == 0 && !finished(); }
  };

  // Types `text` into the chat window's input box and sends it, piece by
  // piece. Stops before a piece the box refuses kPatientTries times, and at
  // a pause when `stop` is requested.
  static Typing typeIntoChat(port::Window chat, const std::string& text, std::stop_token stop);

  // Writes the friend request "请联系我获取发货信息" into the add-friend dialog and
  // confirms it (up to 5 clicks on "确  定"); closes the dialog when it stays.
  static void fillAddFriendDialog(port::Window dialog, std::stop_token stop);

  // The chat name as the web IM link carries it: its UTF-8 bytes, each of
  // "!@#$&*()=:/;?+'." as it is and every other one as "%XX". Empty when the
  // UTF-8 form is longer than kMaxChatNameBytes or the name is not GBK.
  static std::string encodeChatName(const std::string& name);
};

}  // namespace Quorvel
