#include "tests/win32/Win32Support.h"

#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include "base/Charset.h"
#include "imwindows/ImWindowSteps.h"
#include "tests/support/Eventually.h"

namespace Quorvel::testing {

namespace fs = std::filesystem;

bool waitUntil(const std::function<bool()>& ready) { return eventually(ready, std::chrono::milliseconds(20), kPatience); }

fs::path programFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  return fs::path(path).parent_path();
}

TempFolder::TempFolder() {
  static int counter = 0;
  path_ = fs::temp_directory_path() /
          ("quorvel-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

namespace {

std::string unhex(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  }
  return out;
}

}  // namespace

TestImClient::TestImClient() : log_(folder_.path() / "client.log") {
  { std::ofstream(log_.string()); }
  std::string command = "\"" + (programFolder() / "im_test_client.exe").string() + "\" \"" + log_.string() + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_)) {
    return;
  }
  waitUntil([&] {
    main_ = FindWindowA("StandardFrame", mainTitle().c_str());
    return main_ != nullptr;
  });
}

TestImClient::~TestImClient() {
  if (process_.hProcess == nullptr) return;
  if (main_ != nullptr) SendMessageTimeoutA(main_, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 10000, nullptr);
  if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 1);
  CloseHandle(process_.hProcess);
  CloseHandle(process_.hThread);
}

std::vector<ClientEvent> TestImClient::events() const {
  std::vector<ClientEvent> found;
  std::ifstream in(log_.string(), std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    ClientEvent event;
    std::string message, wParam, lParam, text;
    fields >> event.role >> message >> wParam >> lParam >> text;
    event.message = static_cast<unsigned>(std::stoul(message, nullptr, 16));
    event.wParam = std::stoull(wParam, nullptr, 16);
    event.lParam = std::stoull(lParam, nullptr, 16);
    event.text = unhex(text);
    if (event.message != WM_COPYDATA) found.push_back(event);
  }
  return found;
}

void PrintTo(const ClientEvent& event, std::ostream* out) {
  *out << event.role << " " << std::hex << event.message << " " << event.wParam << " " << event.lParam << std::dec
       << " [" << event.text.size() << " bytes]";
}

void TestImClient::load(const std::string& link) const {
  COPYDATASTRUCT data{1, static_cast<DWORD>(link.size()), const_cast<char*>(link.data())};
  SendMessageA(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}

std::string TestImClient::seller() { return gbk("好店"); }
std::string TestImClient::mainTitle() { return seller() + gbk("-阿里旺旺2012卖家版"); }
std::string TestImClient::chatTitle(const std::string& buyer) { return buyer + " - " + seller(); }
std::string TestImClient::linkFor(const std::string& buyer) {
  return "http://127.0.0.1:18090/webww/?ver=1&&touid=cntaobao" + ImWindowSteps::encodeChatName(buyer) +
         "&siteid=cntaobao&status=1";
}

void Recorder::add(std::string event) {
  std::lock_guard<std::mutex> hold(mutex_);
  events_.push_back(std::move(event));
}

std::vector<std::string> Recorder::events() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return events_;
}

RecordingWindows::RecordingWindows(std::shared_ptr<Recorder> recorder)
    : system_(port::WindowSystem::makeProcessWide()), recorder_(std::move(recorder)) {}

port::Window RecordingWindows::findWindow(const std::string& className, const std::string& title) {
  return system_->findWindow(className, title);
}
void RecordingWindows::enumChildWindows(port::Window parent, const std::function<bool(port::Window)>& visit) {
  system_->enumChildWindows(parent, visit);
}
std::string RecordingWindows::className(port::Window window) { return system_->className(window); }
std::string RecordingWindows::windowText(port::Window window) { return system_->windowText(window); }
std::intptr_t RecordingWindows::sendMessage(port::Window window, unsigned message, std::uintptr_t wParam,
                                            std::intptr_t lParam) {
  return system_->sendMessage(window, message, wParam, lParam);
}
std::intptr_t RecordingWindows::setText(port::Window window, const std::string& text) {
  recorder_->add("settext " + std::to_string(utf16Units(text)));
  return system_->setText(window, text);
}
std::intptr_t RecordingWindows::selectString(port::Window listBox, int startIndex, const std::string& text) {
  recorder_->add("select " + text);
  return system_->selectString(listBox, startIndex, text);
}
bool RecordingWindows::showWindow(port::Window window, int command) {
  recorder_->add("show " + std::to_string(command));
  return system_->showWindow(window, command);
}
bool RecordingWindows::setForegroundWindow(port::Window window) {
  recorder_->add("foreground");
  return system_->setForegroundWindow(window);
}
void RecordingWindows::keyEvent(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags) {
  recorder_->add("key " + std::to_string(virtualKey) + " " + std::to_string(scanCode) + " " + std::to_string(flags));
  system_->keyEvent(virtualKey, scanCode, flags);
}
unsigned RecordingWindows::mapVirtualKey(unsigned code, unsigned mapType) {
  return system_->mapVirtualKey(code, mapType);
}

bool RecordingClock::sleepFor(std::int64_t seconds, std::stop_token stop) {
  recorder_->add("sleep " + std::to_string(seconds));
  return !stop.stop_requested();
}

bool RecordingClock::sleepForMillis(std::int64_t millis, std::stop_token stop) {
  recorder_->add("millis " + std::to_string(millis));
  return !stop.stop_requested();
}

std::size_t utf16Units(const std::string& gbk) { return iconvConvert("UTF-16LE", gbk, "GBK").size() / 2; }

}  // namespace Quorvel::testing
