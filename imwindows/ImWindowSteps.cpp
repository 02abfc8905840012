#include "imwindows/ImWindowSteps.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "base/Charset.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "base/Percent.h"
#include "port/EmbeddedBrowser.h"

namespace Quorvel {

using port::Window;
using port::WindowSystem;
namespace win = port::win;

namespace {

// The client's window classes.
const char kFrameClass[] = "StandardFrame";
const char kInputBoxClass[] = "RichEditComponent";
const char kRequestBoxClass[] = "EditComponent";
const char kButtonClass[] = "StandardButton";
const char kSearchClass[] = "SearchInput";
const char kListBoxClass[] = "ListBox";
const char kDialogButtonClass[] = "Button";

// The client's texts, GBK like every text the program holds.
struct ClientTexts {
  std::string mainTitleSuffix = gbk("-阿里旺旺2012卖家版");
  std::string noticeTitle = gbk("阿里旺旺");
  std::string addFriendTitle = gbk("添加好友");
  std::string accountTitle = gbk("请选择已登录的阿里旺旺帐号");
  std::string accountSuffix = gbk("[淘宝网]");
  std::string okText = gbk("确  定");
  std::string friendRequest = gbk("请联系我获取发货信息");
};

const ClientTexts& texts() {
  static const ClientTexts* made = new ClientTexts;
  return *made;
}

std::string chatTitle(const std::string& buyer, const std::string& seller) { return buyer + " - " + seller; }

// A pause of the automation; false when `stop` was requested.
bool pause(Clock& clock, std::int64_t seconds, std::stop_token stop) { return clock.sleepFor(seconds, stop); }

void closeWindow(WindowSystem& windows, Window window) { windows.sendMessage(window, win::kClose, 0, 0); }

// The first child of `parent` whose class is `className`; 0 when none.
Window firstChild(WindowSystem& windows, Window parent, const std::string& className) {
  Window found = 0;
  windows.enumChildWindows(parent, [&](Window child) {
    if (windows.className(child) != className) return true;
    found = child;
    return false;
  });
  return found;
}

// `text` (GBK) cut into pieces of kPieceUnits UTF-16 units, each given back
// as GBK; the last piece holds the rest. Raises Exception when the text is
// not GBK.
std::vector<std::string> cutIntoPieces(const std::string& text) {
  const std::string units = iconvConvert("UTF-16LE", text, "GBK");
  const std::size_t pieceBytes = ImWindowSteps::kPieceUnits * 2;
  std::vector<std::string> pieces;
  for (std::size_t at = 0; at < units.size(); at += pieceBytes) {
    pieces.push_back(iconvConvert("GBK", units.substr(at, pieceBytes), "UTF-16LE"));
  }
  return pieces;
}

// WM_SETTEXT of `piece` into the input box, a second after each try, until
// the box takes it; false when it refused kPatientTries times or `stop` was
// requested.
bool setTextPatiently(WindowSystem& windows, Clock& clock, Window box, const std::string& piece,
                      std::stop_token stop) {
  for (int tries = 0; tries < ImWindowSteps::kPatientTries; ++tries) {
    const bool taken = windows.setText(box, piece) != 0;
    if (!pause(clock, 1, stop)) return false;
    if (taken) return true;
  }
  return false;
}

void pressEnter(WindowSystem& windows, Window box) {
  windows.sendMessage(box, win::kKeyDown, win::kVkReturn, 0x40000000);
  windows.sendMessage(box, win::kChar, 10, 0);
  windows.sendMessage(box, win::kKeyUp, win::kVkReturn, 0);
}

// The client's send keys: Enter, then Ctrl+Enter, Ctrl held both for the
// desktop and for the box.
void pressSendKeys(WindowSystem& windows, Window box) {
  const auto scan = static_cast<std::uint8_t>(windows.mapVirtualKey(win::kVkControl, win::kMapVkToScan));
  pressEnter(windows, box);
  windows.keyEvent(win::kVkControl, scan, 0);
  windows.sendMessage(box, win::kKeyDown, win::kVkControl, 0);
  pressEnter(windows, box);
  windows.sendMessage(box, win::kKeyUp, win::kVkControl, 0);
  windows.keyEvent(win::kVkControl, scan, win::kKeyEventUp);
}

// Sends `message` with the left button at (x, y) to `button`, a second
// between tries, until it answers 0 or the dialog titled `title` is gone;
// false when it did neither in kPatientTries tries or `stop` was requested.
bool clickUntilTaken(WindowSystem& windows, Clock& clock, Window button, unsigned message, const std::string& title,
                     std::stop_token stop) {
  for (int tries = 0; windows.findWindow("", title) != 0;) {
    if (windows.sendMessage(button, message, win::kLeftButton, win::mousePosition(5, 5)) == 0) return true;
    if (++tries >= ImWindowSteps::kPatientTries) return false;
    if (!pause(clock, 1, stop)) return false;
  }
  return true;
}

// Selects the seller's account in the account dialog and presses its button.
// False when the entry never showed up, the button would not take its
// click, or `stop` was requested.
bool chooseAccount(WindowSystem& windows, Clock& clock, Window dialog, const std::string& seller,
                   std::stop_token stop) {
  Window list = 0;
  Window button = 0;  // the dialog's button that comes before the list
  windows.enumChildWindows(dialog, [&](Window child) {
    const std::string className = windows.className(child);
    if (className == kListBoxClass) {
      list = child;
      return false;
    }
    if (className == kDialogButtonClass) button = child;
    return true;
  });
  if (list != 0) {
    const std::string entry = seller + texts().accountSuffix;
    for (int tries = 1; windows.selectString(list, 0, entry) < 0; ++tries) {
      if (tries >= ImWindowSteps::kPatientTries || !pause(clock, 1, stop)) return false;
    }
  }
  const std::string& title = texts().accountTitle;
  return clickUntilTaken(windows, clock, button, win::kLButtonDown, title, stop) &&
         clickUntilTaken(windows, clock, button, win::kLButtonUp, title, stop);
}

}  // namespace

ImWindowSteps::ImWindowSteps(const Env& env)
    : windows_(env.get<WindowSystem>()), browser_(env.get<port::EmbeddedBrowser>()), clock_(env.sharedClock()) {}

Window ImWindowSteps::findMainWindow(const std::string& seller) const {
  return windows_->findWindow(kFrameClass, seller + texts().mainTitleSuffix);
}

Window ImWindowSteps::findChat(const std::string& buyer, const std::string& seller) const {
  return windows_->findWindow(kFrameClass, chatTitle(buyer, seller));
}

ImWindowSteps::ChatResult ImWindowSteps::openChatAndType(const std::string& buyer, const std::string& seller,
                                                         const std::string& link, const std::string& chatText,
                                                         std::stop_token stop) const {
  const std::shared_ptr<WindowSystem>& windows = windows_;
  const std::shared_ptr<port::EmbeddedBrowser>& browser = browser_;
  const ClientTexts& client = texts();
  const std::string title = chatTitle(buyer, seller);

  int accountChoices = 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (stop.stop_requested()) return {};
    if (Window notice = windows->findWindow("", client.noticeTitle)) closeWindow(*windows, notice);
    browser->navigate(link);
    for (int check = 0; check < kChecks; ++check) {
      if (Window chat = windows->findWindow(kFrameClass, title)) {
        windows->showWindow(chat, win::kShowMinimized);
        ChatResult typed{Answer::kChat, typeIntoChat(chat, chatText, stop)};
        if (typed.typing.nothingSent()) return typed;
        pause(*clock_, 1, stop);
        closeWindow(*windows, chat);
        return typed;
      }
      if (Window notice = windows->findWindow("", client.noticeTitle)) {
        closeWindow(*windows, notice);
        return {Answer::kNotice, {}};
      }
      if (Window addFriend = windows->findWindow("", client.addFriendTitle)) {
        fillAddFriendDialog(addFriend, stop);
        closeWindow(*windows, addFriend);
        return {Answer::kAddFriend, {}};
      }
      if (Window account = windows->findWindow("", client.accountTitle)) {
        if (++accountChoices > kAccountChoices || !chooseAccount(*windows, *clock_, account, seller, stop)) return {};
        check = 0;  // the checks start again (counting this one)
        continue;
      }
      if (!pause(*clock_, 3, stop)) return {};
    }
  }
  return {};
}

ImWindowSteps::Typing ImWindowSteps::typeIntoChat(Window chat, const std::string& text, std::stop_token stop) const {
  const std::shared_ptr<WindowSystem>& windows = windows_;
  Typing typing;
  typing.rest = text;
  const Window box = firstChild(*windows, chat, kInputBoxClass);
  if (box == 0) return typing;
  typing.boxFound = true;

  std::vector<std::string> pieces;
  try {
    pieces = cutIntoPieces(text);
  } catch (Exception e) {
    return typing;  // the queue holds GBK only; such a text cannot be typed
  }
  const bool several = pieces.size() > 1;
  std::size_t sent = 0;
  for (; sent < pieces.size(); ++sent) {
    if (several && !pause(*clock_, 1, stop)) break;
    if (!setTextPatiently(*windows, *clock_, box, pieces[sent], stop)) break;
    pressSendKeys(*windows, box);
  }
  typing.piecesSent = static_cast<int>(sent);
  typing.rest.clear();
  for (std::size_t piece = sent; piece < pieces.size(); ++piece) typing.rest += pieces[piece];
  return typing;
}

void ImWindowSteps::fillAddFriendDialog(Window dialog, std::stop_token stop) const {
  const std::shared_ptr<WindowSystem>& windows = windows_;
  const ClientTexts& client = texts();
  Window ok = 0;
  Window request = 0;
  auto look = [&] {
    windows->enumChildWindows(dialog, [&](Window child) {
      const std::string className = windows->className(child);
      if (className == kSearchClass) {
        windows->setForegroundWindow(child);
      } else if (className == kButtonClass && windows->windowText(child) == client.okText) {
        ok = child;
      } else if (className == kRequestBoxClass) {
        request = child;
      }
      return true;
    });
  };
  look();
  if (request == 0) look();  // the dialog may still be building its children

  if (request != 0) {
    windows->setForegroundWindow(request);
    windows->setText(request, client.friendRequest);
  }
  if (ok == 0) {
    closeWindow(*windows, dialog);
    return;
  }
  const std::intptr_t at = win::mousePosition(35, 14);
  std::intptr_t answer = 0;
  for (int click = 0; click < 5; ++click) {
    windows->sendMessage(ok, win::kLButtonDown, win::kLeftButton, at);
    answer = windows->sendMessage(ok, win::kLButtonUp, win::kLeftButton, at);
    if (answer == 0 || !pause(*clock_, 1, stop)) break;
  }
  if (answer > 0) closeWindow(*windows, dialog);
}

std::string ImWindowSteps::encodeChatName(const std::string& name) {
  std::string utf8;
  try {
    utf8 = gbkToUtf8(name);
  } catch (Exception e) {
    return std::string();
  }
  if (utf8.size() > kMaxChatNameBytes) return std::string();
  // Letters and digits are escaped too; only these punctuation marks stay.
  return percentEncode(utf8, "!@#$&*()=:/;?+'.", false);
}

}  // namespace Quorvel
