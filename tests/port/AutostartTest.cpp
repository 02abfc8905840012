// The desktop's autostart entry in a home folder of the test's own.
#include "port/Autostart.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/Exception.h"

namespace Quorvel::testing {
namespace {

namespace fs = std::filesystem;

class AutostartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/vendara-autostart-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    home_ = name;
  }
  void TearDown() override { fs::remove_all(home_); }
  fs::path home_;
};

TEST_F(AutostartTest, OnWritesAnEntryThatStartsThisProgramHereAndOffRemovesIt) {
  auto autostart = port::systemAutostart(home_);
  const fs::path entry = home_ / ".config" / "autostart" / "vendara.desktop";
  autostart->set(true);
  ASSERT_TRUE(fs::is_regular_file(entry));
  std::stringstream text;
  text << std::ifstream(entry).rdbuf();
  EXPECT_EQ(text.str().rfind("[Desktop Entry]\n", 0), 0u) << text.str();
  EXPECT_NE(text.str().find("Type=Application\n"), std::string::npos);
  // Not installed: the program itself, in the folder whose files it uses.
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  EXPECT_NE(text.str().find("Exec=\"" + self + "\"\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("Path=" + fs::current_path().string() + "\n"), std::string::npos) << text.str();
  EXPECT_EQ(fs::directory_iterator(entry.parent_path())->path(), entry);  // no partial file left

  autostart->set(true);  // again: the same single entry
  autostart->set(false);
  EXPECT_FALSE(fs::exists(entry));
  EXPECT_NO_THROW(autostart->set(false));  // nothing to remove
}

TEST_F(AutostartTest, AConfigFolderThatCannotHoldTheEntryIsReported) {
  std::ofstream(home_ / ".config") << "a file, not a folder";
  auto autostart = port::systemAutostart(home_);
  EXPECT_THROW(autostart->set(true), Exception);
}

}  // namespace
}  // namespace Quorvel::testing
