// A scripted stand-in for the seller's IM client, presented to the automation
// as the window system and the browser control it drives, with a clock whose
// pauses are logged among the client's events.
//
// The main window is there from the start. Loading the expected web IM link
// arms the client's answer (a chat with the buyer, the notice box, the
// add-friend dialog, the account dialog, or nothing), which shows up after a
// chosen number of lookups of the chat window; any other link is ignored.
// Everything the automation does to the windows, and every pause, is logged
// in order (see events()).
//
// Any thread may call in (a replaced worker and its successor overlap);
// onEvent runs outside the client's lock, so it may block. Change the script
// only while no automation runs.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Env.h"
#include "port/EmbeddedBrowser.h"
#include "port/WindowSystem.h"
#include "tests/support/FakeClock.h"

namespace Quorvel::testing {

enum class SimAnswer { kChat, kNotice, kAddFriend, kAccountChoice, kNothing };

struct SimScript {
  SimAnswer answer = SimAnswer::kChat;
  // Lookups of the chat window after the link was loaded before the answer
  // shows (0: at the first lookup).
  int checksBeforeAnswer = 0;
  // What shows once the seller's account was chosen in the account dialog.
  SimAnswer afterAccount = SimAnswer::kChat;
  // LB_SELECTSTRING misses before the seller's entry is in the account list.
  int listMisses = 0;
  // WM_SETTEXT refusals of the chat's input box before it takes text.
  int setTextRefusals = 0;
  // Clicks the add-friend "确  定" button answers with 1 before it closes the
  // dialog with 0.
  int okRefusals = 0;
  // The add-friend dialog's request box appears only after its children were
  // first enumerated.
  bool requestBoxLate = false;
};

class SimImClient : public port::WindowSystem, public port::EmbeddedBrowser {
 public:
  // `seller` and `buyer` are GBK; the answer is armed only by `expectedLink`.
  // The clock starts at `start`.
  SimImClient(std::string seller, std::string buyer, std::string expectedLink, std::int64_t start);

  // Puts the client's logging clock's time on the test database's rows.
  void install();
  // An Env with this client as its window system and browser and its logging
  // clock; the client must outlive what is built with it.
  Env env();

  SimScript script;
  // Called with each event as it is logged.
  std::function<void(const std::string&)> onEvent;

  // The client's clock: its sleeps pass at once (moving time on) and are
  // logged as "sleep N".
  std::shared_ptr<FakeClock> clock() { return clock_; }

  // The client quits: every window goes.
  void quit();
  // The buyer's chat window opens now (the buyer wrote in).
  void openChat();
  // The client shows its notice box now.
  void showNotice();
  bool chatOpen();
  bool anyDialogOpen();

  // Everything logged so far, in order:
  //   "navigate <url>", "close <title>", "show <title> <command>",
  //   "settext <text>" / "settext refused" (the chat's input box),
  //   "wrong box <text>" (a rich-edit box that is not the input box),
  //   "<message> <wParam> <lParam>" (key messages to the input box, hex),
  //   "keybd_event <key> <scan> <flags>" (hex), "sleep <seconds>",
  //   "foreground <class>", "request <text>",
  //   "ok <message> <wParam> <lParam>", "select <text>",
  //   "account <message> <wParam> <lParam>".
  std::vector<std::string> events();
  // The texts the input box took, in order.
  std::vector<std::string> typed();
  bool friendConfirmed();
  int navigations();

  // WindowSystem
  port::Window findWindow(const std::string& className, const std::string& title) override;
  void enumChildWindows(port::Window parent, const std::function<bool(port::Window)>& visit) override;
  std::string className(port::Window window) override;
  std::string windowText(port::Window window) override;
  std::intptr_t sendMessage(port::Window window, unsigned message, std::uintptr_t wParam,
                            std::intptr_t lParam) override;
  std::intptr_t setText(port::Window window, const std::string& text) override;
  std::intptr_t selectString(port::Window listBox, int startIndex, const std::string& text) override;
  bool showWindow(port::Window window, int command) override;
  bool setForegroundWindow(port::Window window) override;
  void keyEvent(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags) override;
  unsigned mapVirtualKey(unsigned code, unsigned mapType) override;

  // EmbeddedBrowser
  void navigate(const std::string& url) override;

 private:
  enum class Role { kMain, kChat, kInput, kHistory, kNotice, kAddFriend, kRequest, kOk, kAccount, kAccountList,
                    kAccountButton, kOther };
  struct SimWindow {
    Role role;
    std::string className;
    std::string text;
    port::Window parent = 0;
    std::vector<port::Window> children;
  };
  struct Armed {
    SimAnswer answer;
    int checksLeft;
  };

  // The callers hold mutex_.
  port::Window addWindow(Role role, const std::string& className, const std::string& text, port::Window parent = 0);
  void destroy(port::Window window);
  port::Window findRole(Role role);
  void show(SimAnswer answer);
  const SimWindow* windowOf(port::Window window);

  // Logs the events and calls onEvent with each; the caller must not hold
  // mutex_.
  void emit(const std::vector<std::string>& events);

  const std::string seller_;
  const std::string buyer_;
  const std::string expectedLink_;
  const std::shared_ptr<FakeClock> clock_;

  std::mutex mutex_;
  std::map<port::Window, SimWindow> windows_;  // the windows there now; guarded by mutex_
  port::Window nextHandle_ = 0x100;             // guarded by mutex_
  std::optional<Armed> armed_;                  // guarded by mutex_
  std::vector<std::string> events_;             // guarded by mutex_
  std::vector<std::string> typed_;              // guarded by mutex_
  int listTries_ = 0;                           // LB_SELECTSTRING calls so far; guarded by mutex_
  int setTextTries_ = 0;                        // WM_SETTEXT calls to the input box; guarded by mutex_
  int okClicks_ = 0;                            // WM_LBUTTONUP calls to "确  定"; guarded by mutex_
  bool accountSelected_ = false;                // guarded by mutex_
  bool lateRequestAdded_ = false;               // guarded by mutex_
  bool friendConfirmed_ = false;                // guarded by mutex_
  int navigations_ = 0;                         // guarded by mutex_
};

}  // namespace Quorvel::testing
