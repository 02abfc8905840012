// Helpers of the Windows tests: temporary folders, waits with a generous
// bound, the test IM client (im_test_client.exe) as a child process with its
// log, a browser control that hands links to it, and a window system and a
// clock that record what the automation does. Test thread only, except
// where a class says otherwise.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "port/EmbeddedBrowser.h"
#include "port/WindowSystem.h"

namespace Quorvel::testing {

// A wait that gives up means the awaited event never came, not that it was late.
inline constexpr std::chrono::seconds kPatience{30};

// Polls `ready` until it holds; false when kPatience passed first.
bool waitUntil(const std::function<bool()>& ready);

// The folder the test program lies in (the helper programs lie beside it).
std::filesystem::path programFolder();

// A new empty folder under the system's temporary folder, removed with its
// contents at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// One message the test client logged.
struct ClientEvent {
  std::string role;  // "box", "chat", "notice", "friend", "request", "ok", "list", "button", "main"...
  unsigned message = 0;
  std::uint64_t wParam = 0;
  std::uint64_t lParam = 0;
  std::string text;  // WM_SETTEXT, LB_SELECTSTRING, WM_COPYDATA

  bool operator==(const ClientEvent&) const = default;
};
// For the tests' messages: "role message wParam lParam text-size".
void PrintTo(const ClientEvent& event, std::ostream* out);

// The test IM client, started at construction (once its main window is
// there) and ended at destruction.
class TestImClient {
 public:
  TestImClient();
  ~TestImClient();
  TestImClient(const TestImClient&) = delete;
  TestImClient& operator=(const TestImClient&) = delete;

  bool running() const { return main_ != nullptr; }
  HWND mainWindow() const { return main_; }
  // The client's log so far, without the links it was given (WM_COPYDATA).
  std::vector<ClientEvent> events() const;
  // Loads a link as the main window's browser control would.
  void load(const std::string& link) const;

  static std::string seller();                                     // "好店", GBK
  static std::string mainTitle();                                  // "好店-阿里旺旺2012卖家版"
  static std::string linkFor(const std::string& buyer);            // the web IM link naming `buyer`
  static std::string chatTitle(const std::string& buyer);          // buyer + " - 好店"

 private:
  TempFolder folder_;
  std::filesystem::path log_;
  PROCESS_INFORMATION process_{};
  HWND main_ = nullptr;
};

// The main window's browser control as the test client sees it.
class ClientBrowser : public port::EmbeddedBrowser {
 public:
  explicit ClientBrowser(const TestImClient& client) : client_(client) {}
  void navigate(const std::string& url) override { client_.load(url); }

 private:
  const TestImClient& client_;
};

// The system's windows, with every call that changes something logged in
// order beside the pauses of RecordingClock: "settext N" (N UTF-16 units),
// "key VK SCAN FLAGS", "show COMMAND", "foreground", "select TEXT",
// "sleep N". Any thread.
class Recorder {
 public:
  void add(std::string event);
  std::vector<std::string> events() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;  // guarded by mutex_
};

class RecordingWindows : public port::WindowSystem {
 public:
  explicit RecordingWindows(std::shared_ptr<Recorder> recorder);
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

 private:
  std::shared_ptr<port::WindowSystem> system_;
  std::shared_ptr<Recorder> recorder_;
};

// Pauses pass at once and are logged as "sleep N" (seconds) or "millis N".
class RecordingClock : public Clock {
 public:
  explicit RecordingClock(std::shared_ptr<Recorder> recorder) : recorder_(std::move(recorder)) {}
  std::int64_t now() override { return 1'700'000'000; }
  bool sleepFor(std::int64_t seconds, std::stop_token stop) override;
  bool sleepForMillis(std::int64_t millis, std::stop_token stop) override;
  Instant monotonic() override { return Instant(std::chrono::seconds(now())); }

 private:
  std::shared_ptr<Recorder> recorder_;
};

// GBK text as UTF-16 units.
std::size_t utf16Units(const std::string& gbk);

}  // namespace Quorvel::testing
