#include "tests/notify/SimImClient.h"

#include <cstdio>

#include "base/Charset.h"
#include "base/ProcessWide.h"
#include "tests/support/TestDatabase.h"

namespace Quorvel::testing {

namespace win = port::win;
using port::Window;

namespace {

// A FakeClock that moves on by each sleep and reports it first; a sleep whose
// stop was requested ends early, as the system clock's does.
class LoggingClock : public FakeClock {
 public:
  LoggingClock(std::int64_t start, std::function<void(const std::string&)> sink)
      : FakeClock(start, true), sink_(std::move(sink)) {}

  bool sleepFor(std::int64_t seconds, std::stop_token stop) override {
    sink_("sleep " + std::to_string(seconds));
    return FakeClock::sleepFor(seconds, stop) && !stop.stop_requested();
  }

 private:
  std::function<void(const std::string&)> sink_;
};

std::string hex(std::uintmax_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%jx", value);
  return text;
}

std::string messageName(unsigned message) {
  switch (message) {
    case win::kKeyDown:
      return "WM_KEYDOWN";
    case win::kKeyUp:
      return "WM_KEYUP";
    case win::kChar:
      return "WM_CHAR";
    case win::kLButtonDown:
      return "WM_LBUTTONDOWN";
    case win::kLButtonUp:
      return "WM_LBUTTONUP";
    case win::kClose:
      return "WM_CLOSE";
    default:
      return "message " + hex(message);
  }
}

std::string describe(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  return messageName(message) + " " + hex(wParam) + " " + hex(static_cast<std::uintptr_t>(lParam));
}

}  // namespace

SimImClient::SimImClient(std::string seller, std::string buyer, std::string expectedLink, std::int64_t start)
    : seller_(std::move(seller)),
      buyer_(std::move(buyer)),
      expectedLink_(std::move(expectedLink)),
      clock_(std::make_shared<LoggingClock>(start, [this](const std::string& event) { emit({event}); })) {
  std::lock_guard<std::mutex> hold(mutex_);
  addWindow(Role::kMain, "StandardFrame", seller_ + gbk("-阿里旺旺2012卖家版"));
  // Other programs' windows with titles the automation must not take for
  // the client's.
  addWindow(Role::kOther, "Notepad", buyer_ + " - " + seller_);
  addWindow(Role::kOther, "StandardFrame", seller_ + gbk("-阿里旺旺2012"));
}

void SimImClient::install() { testing::useDatabaseWallTime(clock_); }

Env SimImClient::env() {
  // The fixture keeps the client alive; the Env's pointers share it.
  std::shared_ptr<SimImClient> self(std::shared_ptr<SimImClient>(), this);
  Env env(clock_);
  env.set<port::WindowSystem>(std::shared_ptr<port::WindowSystem>(self, this));
  env.set<port::EmbeddedBrowser>(std::shared_ptr<port::EmbeddedBrowser>(self, this));
  return env;
}

void SimImClient::quit() {
  std::lock_guard<std::mutex> hold(mutex_);
  windows_.clear();
  armed_.reset();
}

void SimImClient::openChat() {
  std::lock_guard<std::mutex> hold(mutex_);
  show(SimAnswer::kChat);
}

void SimImClient::showNotice() {
  std::lock_guard<std::mutex> hold(mutex_);
  show(SimAnswer::kNotice);
}

bool SimImClient::chatOpen() {
  std::lock_guard<std::mutex> hold(mutex_);
  return findRole(Role::kChat) != 0;
}

bool SimImClient::anyDialogOpen() {
  std::lock_guard<std::mutex> hold(mutex_);
  return findRole(Role::kNotice) != 0 || findRole(Role::kAddFriend) != 0 || findRole(Role::kAccount) != 0;
}

std::vector<std::string> SimImClient::events() {
  std::lock_guard<std::mutex> hold(mutex_);
  return events_;
}

std::vector<std::string> SimImClient::typed() {
  std::lock_guard<std::mutex> hold(mutex_);
  return typed_;
}

bool SimImClient::friendConfirmed() {
  std::lock_guard<std::mutex> hold(mutex_);
  return friendConfirmed_;
}

int SimImClient::navigations() {
  std::lock_guard<std::mutex> hold(mutex_);
  return navigations_;
}

Window SimImClient::findWindow(const std::string& className, const std::string& title) {
  std::lock_guard<std::mutex> hold(mutex_);
  // Every lookup of the chat brings an armed answer one step nearer.
  if (armed_ && title == buyer_ + " - " + seller_ && armed_->checksLeft-- <= 0) {
    const SimAnswer answer = armed_->answer;
    armed_.reset();
    show(answer);
  }
  for (const auto& [handle, window] : windows_) {
    if (window.parent != 0 || window.text != title) continue;
    if (className.empty() || window.className == className) return handle;
  }
  return 0;
}

void SimImClient::enumChildWindows(Window parent, const std::function<bool(Window)>& visit) {
  std::vector<Window> children;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    const SimWindow* window = windowOf(parent);
    if (window == nullptr) return;
    children = window->children;
  }
  for (Window child : children) {
    if (!visit(child)) break;
  }
  std::lock_guard<std::mutex> hold(mutex_);
  const SimWindow* window = windowOf(parent);
  if (window != nullptr && window->role == Role::kAddFriend && script.requestBoxLate && !lateRequestAdded_) {
    lateRequestAdded_ = true;
    addWindow(Role::kRequest, "EditComponent", "", parent);
  }
}

std::string SimImClient::className(Window window) {
  std::lock_guard<std::mutex> hold(mutex_);
  const SimWindow* found = windowOf(window);
  return found ? found->className : std::string();
}

std::string SimImClient::windowText(Window window) {
  std::lock_guard<std::mutex> hold(mutex_);
  const SimWindow* found = windowOf(window);
  return found ? found->text : std::string();
}

std::intptr_t SimImClient::sendMessage(Window window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  std::vector<std::string> events;
  std::intptr_t answer = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    const SimWindow* target = windowOf(window);
    if (target == nullptr) return 0;  // as for a window that is gone
    const std::string said = describe(message, wParam, lParam);
    switch (target->role) {
      case Role::kInput:
        events.push_back(said);
        break;
      case Role::kOk:
        events.push_back("ok " + said);
        if (message == win::kLButtonUp) {
          if (okClicks_++ < script.okRefusals) {
            answer = 1;
          } else {
            friendConfirmed_ = true;
            destroy(target->parent);
          }
        }
        break;
      case Role::kAccountButton:
        events.push_back("account " + said);
        if (message == win::kLButtonUp && accountSelected_) {
          accountSelected_ = false;
          destroy(target->parent);
          armed_ = Armed{script.afterAccount, 0};
        }
        break;
      default:
        if (message == win::kClose && target->parent == 0 && target->role != Role::kMain) {
          events.push_back("close " + target->text);
          destroy(window);
        } else {
          events.push_back("unexpected " + said + " to " + target->className);
        }
    }
  }
  emit(events);
  return answer;
}

std::intptr_t SimImClient::setText(Window window, const std::string& text) {
  std::string event;
  std::intptr_t answer = 1;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    const SimWindow* target = windowOf(window);
    if (target == nullptr) return 0;
    switch (target->role) {
      case Role::kInput:
        if (setTextTries_++ < script.setTextRefusals) {
          event = "settext refused";
          answer = 0;
        } else {
          event = "settext " + text;
          typed_.push_back(text);
        }
        break;
      case Role::kHistory:
        event = "wrong box " + text;
        break;
      case Role::kRequest:
        event = "request " + text;
        break;
      default:
        event = "unexpected settext " + text + " to " + target->className;
    }
  }
  emit({event});
  return answer;
}

std::intptr_t SimImClient::selectString(Window listBox, int startIndex, const std::string& text) {
  std::intptr_t answer = win::kListError;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    const SimWindow* target = windowOf(listBox);
    if (target == nullptr || target->role != Role::kAccountList) return win::kListError;
    // The client lists the accounts logged in to it once it has found them.
    if (listTries_++ >= script.listMisses && startIndex == 0 && text == seller_ + gbk("[淘宝网]")) {
      accountSelected_ = true;
      answer = 0;
    }
  }
  emit({"select " + text});
  return answer;
}

bool SimImClient::showWindow(Window window, int command) {
  std::string event;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    const SimWindow* target = windowOf(window);
    if (target == nullptr) return false;
    event = "show " + target->text + " " + std::to_string(command);
  }
  emit({event});
  return true;
}

bool SimImClient::setForegroundWindow(Window window) {
  std::string event;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    const SimWindow* target = windowOf(window);
    if (target == nullptr) return false;
    event = "foreground " + target->className;
  }
  emit({event});
  return true;
}

void SimImClient::keyEvent(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags) {
  emit({"keybd_event " + hex(virtualKey) + " " + hex(scanCode) + " " + hex(flags)});
}

unsigned SimImClient::mapVirtualKey(unsigned code, unsigned mapType) {
  if (mapType != win::kMapVkToScan) return 0;
  switch (code) {
    case win::kVkControl:
      return 0x1D;
    case win::kVkReturn:
      return 0x1C;
    default:
      return 0;
  }
}

void SimImClient::navigate(const std::string& url) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ++navigations_;
    if (url == expectedLink_ && findRole(Role::kMain) != 0) armed_ = Armed{script.answer, script.checksBeforeAnswer};
  }
  emit({"navigate " + url});
}

Window SimImClient::addWindow(Role role, const std::string& className, const std::string& text, Window parent) {
  const Window handle = nextHandle_++;
  windows_[handle] = SimWindow{role, className, text, parent, {}};
  if (parent != 0) windows_[parent].children.push_back(handle);
  return handle;
}

void SimImClient::destroy(Window window) {
  auto found = windows_.find(window);
  if (found == windows_.end()) return;
  const std::vector<Window> children = found->second.children;
  windows_.erase(found);
  for (Window child : children) destroy(child);
}

Window SimImClient::findRole(Role role) {
  for (const auto& [handle, window] : windows_) {
    if (window.role == role) return handle;
  }
  return 0;
}

void SimImClient::show(SimAnswer answer) {
  switch (answer) {
    case SimAnswer::kChat: {
      if (findRole(Role::kChat) != 0) return;
      const Window chat = addWindow(Role::kChat, "StandardFrame", buyer_ + " - " + seller_);
      addWindow(Role::kOther, "StandardButton", gbk("发送"), chat);
      addWindow(Role::kInput, "RichEditComponent", "", chat);
      addWindow(Role::kHistory, "RichEditComponent", "", chat);
      return;
    }
    case SimAnswer::kNotice: {
      if (findRole(Role::kNotice) != 0) return;
      const Window notice = addWindow(Role::kNotice, "#32770", gbk("阿里旺旺"));
      addWindow(Role::kOther, "Button", gbk("确定"), notice);
      return;
    }
    case SimAnswer::kAddFriend: {
      if (findRole(Role::kAddFriend) != 0) return;
      const Window dialog = addWindow(Role::kAddFriend, "#32770", gbk("添加好友"));
      lateRequestAdded_ = false;
      addWindow(Role::kOther, "SearchInput", "", dialog);
      addWindow(Role::kOther, "StandardButton", gbk("取  消"), dialog);
      if (!script.requestBoxLate) addWindow(Role::kRequest, "EditComponent", "", dialog);
      addWindow(Role::kOk, "StandardButton", gbk("确  定"), dialog);
      return;
    }
    case SimAnswer::kAccountChoice: {
      if (findRole(Role::kAccount) != 0) return;
      const Window dialog = addWindow(Role::kAccount, "#32770", gbk("请选择已登录的阿里旺旺帐号"));
      addWindow(Role::kOther, "Static", gbk("请选择帐号"), dialog);
      addWindow(Role::kAccountButton, "Button", gbk("确定"), dialog);
      addWindow(Role::kAccountList, "ListBox", "", dialog);
      addWindow(Role::kOther, "Button", gbk("取消"), dialog);
      return;
    }
    case SimAnswer::kNothing:
      return;
  }
}

const SimImClient::SimWindow* SimImClient::windowOf(Window window) {
  auto found = windows_.find(window);
  return found == windows_.end() ? nullptr : &found->second;
}

void SimImClient::emit(const std::vector<std::string>& events) {
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    events_.insert(events_.end(), events.begin(), events.end());
    hook = onEvent;
  }
  if (!hook) return;
  for (const std::string& event : events) hook(event);
}

}  // namespace Quorvel::testing
