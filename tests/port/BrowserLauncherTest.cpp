// The browser is handed a checked page address as its only argument, never
// anything that could read as an option.
#include "port/BrowserLauncher.h"

#include <gtest/gtest.h>

#include <vector>

namespace Quorvel::port {
namespace {

// Records every start; `available` names the programs that exist.
class RecordingLauncher : public ProcessLauncher {
 public:
  explicit RecordingLauncher(std::vector<std::string> available) : available_(std::move(available)) {}
  bool start(const ProcessStart& what) override {
    starts.push_back(what);
    for (const std::string& program : available_) {
      if (program == what.program) return true;
    }
    return false;
  }
  std::vector<ProcessStart> starts;

 private:
  std::vector<std::string> available_;
};

TEST(BrowserLauncher, OpensAPageAddressAsTheOnlyArgumentOfTheFirstBrowserFound) {
  auto processes = std::make_shared<RecordingLauncher>(std::vector<std::string>{"firefox", "xdg-open"});
  const std::string page = "http://127.0.0.1:18080/?ver=1105&port=12345#token=0123456789abcdef";
  EXPECT_TRUE(systemBrowserLauncher(processes)->open(page));
  ASSERT_EQ(processes->starts.size(), 4u);  // three Chrome names tried, then Firefox
  EXPECT_EQ(processes->starts.back().program, "firefox");
  for (const ProcessStart& start : processes->starts) EXPECT_EQ(start.args, std::vector<std::string>{page});

  auto none = std::make_shared<RecordingLauncher>(std::vector<std::string>{});
  EXPECT_FALSE(systemBrowserLauncher(none)->open(page));
  EXPECT_EQ(none->starts.size(), 5u);
}

TEST(BrowserLauncher, RefusesAnythingButAPageAddressAndStartsNothing) {
  auto processes = std::make_shared<RecordingLauncher>(std::vector<std::string>{"google-chrome"});
  auto browser = systemBrowserLauncher(processes);
  for (const char* url :
       {"--renderer-cmd-prefix=touch /tmp/owned/?port=1&ver=1105#token=k",
        "--renderer-cmd-prefix=touch /tmp/owned", "-e", "", "file:///etc/passwd", "javascript:alert(1)",
        "http://127.0.0.1:18080 --renderer-cmd-prefix=x/?port=1", "http://user@evil.example/",
        "http://evil.example/\"; rm -rf ~", "chrome://settings", "127.0.0.1:18080/?port=1"}) {
    EXPECT_FALSE(browser->open(url)) << url;
  }
  EXPECT_TRUE(processes->starts.empty());
}

}  // namespace
}  // namespace Quorvel::port
