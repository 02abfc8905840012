// The browser is handed one argument that never reads as an option: the
// address of an owner-only page that sends it on to the checked page address,
// which holds the launch key and so never appears in a command line.
#include "port/BrowserLauncher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/market/TempFolder.h"
#include "tests/support/Eventually.h"

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

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) return 0;
  return status.st_mode & 07777;
}

std::string contentOf(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

const std::string kPage = "http://127.0.0.1:18080/?ver=1105&port=12345#token=0123456789abcdef";

TEST(BrowserLauncher, TriesEachBrowserInTurnWithThePrivatePageAsItsOnlyArgument) {
  testing::TempFolder temp;
  const fs::path folder = temp.file("launch");
  auto processes = std::make_shared<RecordingLauncher>(std::vector<std::string>{"firefox", "xdg-open"});
  EXPECT_TRUE(systemBrowserLauncher(processes, folder)->open(kPage));
  ASSERT_EQ(processes->starts.size(), 4u);  // three Chrome names tried, then Firefox
  EXPECT_EQ(processes->starts.back().program, "firefox");
  const std::string argument = "file://" + fs::absolute(folder / kLaunchPageName).lexically_normal().string();
  for (const ProcessStart& start : processes->starts) {
    EXPECT_EQ(start.args, std::vector<std::string>{argument});
  }

  // The page is the seller's alone and leads to the keyed address, with the
  // ampersand of the query escaped for HTML.
  EXPECT_EQ(modeOf(folder), 0700u);
  EXPECT_EQ(modeOf(folder / kLaunchPageName), 0600u);
  const std::string page = contentOf(folder / kLaunchPageName);
  EXPECT_NE(page.find("url=http://127.0.0.1:18080/?ver=1105&amp;port=12345#token=0123456789abcdef\""),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("location.replace(\"http://127.0.0.1:18080/?ver=1105\\u0026port=12345#token=0123456789abcdef\")"),
            std::string::npos)
      << page;

  auto none = std::make_shared<RecordingLauncher>(std::vector<std::string>{});
  EXPECT_FALSE(systemBrowserLauncher(none, folder)->open(kPage));
  EXPECT_EQ(none->starts.size(), 5u);
}

TEST(BrowserLauncher, NarrowsAnOpenFolderAndReplacesALinkPlantedAsThePage) {
  testing::TempFolder temp;
  const fs::path folder = temp.file("launch");
  fs::create_directory(folder);
  ::chmod(folder.c_str(), 0777);
  // Another user's trap: the page's name pointing at a file of the seller's.
  const fs::path victim = temp.file("victim");
  std::ofstream(victim) << "keep me";
  fs::create_symlink(victim, folder / kLaunchPageName);

  auto processes = std::make_shared<RecordingLauncher>(std::vector<std::string>{"google-chrome"});
  EXPECT_TRUE(systemBrowserLauncher(processes, folder)->open(kPage));
  EXPECT_EQ(modeOf(folder), 0700u);
  EXPECT_EQ(contentOf(victim), "keep me");
  EXPECT_FALSE(fs::is_symlink(folder / kLaunchPageName));
  EXPECT_EQ(modeOf(folder / kLaunchPageName), 0600u);

  // A folder that is a link is refused, and nothing is started.
  const fs::path linked = temp.file("linked");
  fs::create_directory_symlink(temp.file("elsewhere"), linked);
  fs::create_directory(temp.file("elsewhere"));
  auto untouched = std::make_shared<RecordingLauncher>(std::vector<std::string>{"google-chrome"});
  EXPECT_FALSE(systemBrowserLauncher(untouched, linked)->open(kPage));
  EXPECT_TRUE(untouched->starts.empty());
}

// A real start, through the system's process launcher, of a stand-in browser
// found first on the search path: what it was given and what it inherited
// hold no key.
TEST(BrowserLauncher, TheStartedBrowserSeesNoKeyInItsArgumentsOrEnvironment) {
  testing::TempFolder temp;
  const fs::path bin = temp.file("bin");
  fs::create_directory(bin);
  const fs::path record = temp.file("record");
  {
    std::ofstream script(bin / "google-chrome");
    script << "#!/bin/sh\n{ for a in \"$@\"; do echo \"ARG $a\"; done; env; } > '" << record.string()
           << ".part'\nmv '" << record.string() << ".part' '" << record.string() << "'\n";
  }
  ::chmod((bin / "google-chrome").c_str(), 0755);
  const char* oldPath = std::getenv("PATH");
  const std::string savedPath = oldPath ? oldPath : "";
  ::setenv("PATH", (bin.string() + ":" + savedPath).c_str(), 1);

  const fs::path folder = temp.file("launch");
  const bool opened = systemBrowserLauncher(systemProcessLauncher(), folder)->open(kPage);
  ::setenv("PATH", savedPath.c_str(), 1);
  ASSERT_TRUE(opened);
  // The detached child writes the record; nothing else tells that it ran.
  Quorvel::testing::eventually([&] { return fs::exists(record); });
  const std::string seen = contentOf(record);
  ASSERT_NE(seen.find("ARG file://"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("0123456789abcdef"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("token"), std::string::npos) << seen;
  EXPECT_NE(contentOf(folder / kLaunchPageName).find("#token=0123456789abcdef"), std::string::npos);
}

TEST(BrowserLauncher, RefusesAnythingButAPageAddressAndStartsNothing) {
  testing::TempFolder temp;
  auto processes = std::make_shared<RecordingLauncher>(std::vector<std::string>{"google-chrome"});
  auto browser = systemBrowserLauncher(processes, temp.file("launch"));
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
