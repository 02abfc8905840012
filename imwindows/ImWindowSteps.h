// ImWindowSteps: the window work of a chat message to a buyer through the
// seller's IM client (AliWangWang 2012, seller edition): finding the client's
// main window and a buyer's chat window, loading the web IM link into the
// main window's browser control, waiting for the chat (or for the client's
// other answers: its notice box, the add-friend dialog, the account dialog),
// typing the text in pieces with the client's send keys, and filling the
// add-friend dialog. Which messages to send and what becomes of them (the
// queue, the settings, the link's host) is the notify side's (ImAutomation).
//
// Needs only the base library and the platform layer, so the same code runs
// against the simulated client of the Linux tests and the real windows of
// Windows. Every window call goes through the port::WindowSystem of the Env
// the steps are built with, the link through its port::EmbeddedBrowser,
// every pause through its clock; all three are taken when the steps are
// built. Runs on the daemon's message worker (a replaced worker and its
// successor may overlap).
#pragma once

#include <cstddef>
#include <memory>
#include <stop_token>
#include <string>

#include "base/Clock.h"
#include "base/Env.h"
#include "port/EmbeddedBrowser.h"
#include "port/WindowSystem.h"

namespace Quorvel {

class ImWindowSteps {
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

  // What typeIntoChat got into a chat.
  struct Typing {
    bool boxFound = false;  // the window had an input box
    int piecesSent = 0;
    std::string rest;  // the text not sent (GBK); empty when all of it was

    bool finished() const { return boxFound && rest.empty(); }
    // Nothing reached the buyer: the text can be sent again as a whole.
    bool nothingSent() const { return piecesSent == 0 && !finished(); }
  };

  // How the client answered the link.
  enum class Answer {
    kChat,       // the chat opened; `typing` tells what was typed
    kNotice,     // the client's notice box showed (closed again)
    kAddFriend,  // the add-friend dialog showed (filled, confirmed, closed)
    kGaveUp,     // no chat after all attempts, a bounded wait ran out, or stop
  };
  struct ChatResult {
    Answer answer = Answer::kGaveUp;
    Typing typing{};

    // The message needs no further send: typed (wholly or in part), or
    // answered by the notice box or the add-friend dialog.
    bool dealtWith() const {
      return answer == Answer::kNotice || answer == Answer::kAddFriend ||
             (answer == Answer::kChat && !typing.nothingSent());
    }
  };

  explicit ImWindowSteps(const Env& env);

  // The client's main window for the seller account `seller` ("StandardFrame",
  // seller + "-阿里旺旺2012卖家版"); 0 when the client is not running or the
  // seller is not logged in to it.
  port::Window findMainWindow(const std::string& seller) const;

  // The open chat window with `buyer` from `seller` (buyer + " - " + seller);
  // 0 when none.
  port::Window findChat(const std::string& buyer, const std::string& seller) const;

  // Opens the chat with `buyer` by loading `link` and types `chatText` into
  // it. When the chat opened and something was typed, the chat is closed a
  // second later; a chat that took nothing is left as it is (kChat with
  // typing.nothingSent()).
  ChatResult openChatAndType(const std::string& buyer, const std::string& seller, const std::string& link,
                             const std::string& chatText, std::stop_token stop) const;

  // Types `text` into the chat window's input box and sends it, piece by
  // piece. Stops before a piece the box refuses kPatientTries times, and at
  // a pause when `stop` is requested.
  Typing typeIntoChat(port::Window chat, const std::string& text, std::stop_token stop) const;

  // Writes the friend request "请联系我获取发货信息" into the add-friend dialog and
  // confirms it (up to 5 clicks on "确  定"); closes the dialog when it stays.
  void fillAddFriendDialog(port::Window dialog, std::stop_token stop) const;

  // The chat name as the web IM link carries it: its UTF-8 bytes, each of
  // "!@#$&*()=:/;?+'." as it is and every other one as "%XX". Empty when the
  // UTF-8 form is longer than kMaxChatNameBytes or the name is not GBK.
  static std::string encodeChatName(const std::string& name);

 private:
  const std::shared_ptr<port::WindowSystem> windows_;
  const std::shared_ptr<port::EmbeddedBrowser> browser_;
  const std::shared_ptr<Clock> clock_;
};

}  // namespace Quorvel
