// The updater on Windows: the real file rules in a temporary folder and the
// shell's start of a stand-in "Vendara 2012.exe".
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "base/Charset.h"
#include "updater/Updater.h"
#include "tests/win32/Win32Support.h"

namespace Quorvel::testing {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& text) {
  std::ofstream out(path.string(), std::ios::binary);
  out << text;
}

std::string read(const fs::path& path) {
  std::ifstream in(path.string(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class UpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root() / "tpl");
    fs::copy_file(programFolder() / "vendara_standin.exe", root() / "Vendara 2012.exe");
  }

  const fs::path& root() const { return folder_.path(); }

  Updater updater() {
    return Updater({.folder = root(), .showMessage = [this](const std::string& caption, const std::string& text) {
                      shown_.push_back(caption + "|" + text);
                      // The main program is started only after the box.
                      startedAtBox_.push_back(fs::exists(root() / "started.txt"));
                    }});
  }

  // What the stand-in wrote once it ran: its folder and whether the database was there.
  std::string started() {
    if (!waitUntil([&] { return fs::exists(root() / "started.txt"); })) return "never started";
    return read(root() / "started.txt");
  }

  std::string startedLine() {
    std::error_code ec;
    return fs::canonical(root(), ec).string() + "\n";
  }

  TempFolder folder_;
  std::vector<std::string> shown_;
  std::vector<bool> startedAtBox_;
};

TEST_F(UpdaterTest, WithoutAnUpdateFolderTheMainProgramStartsAndAnEmptyDatabaseGoesFirst) {
  write(root() / "vendara2012.db", "");
  EXPECT_TRUE(updater().run());
  EXPECT_TRUE(shown_.empty());  // no "更新完成"
  EXPECT_EQ(started(), startedLine() + "no database\n");
  EXPECT_FALSE(fs::exists(root() / "vendara2012.db"));
}

TEST_F(UpdaterTest, TemplatesGoIntoTplAndProgramsBesideTheMainProgram) {
  fs::create_directories(root() / "update");
  write(root() / "update" / "vendara2012.db", "new template");
  write(root() / "update" / "Vendara 2012.exe", read(programFolder() / "vendara_standin.exe") );
  write(root() / "update" / "readme.txt", "new readme");
  write(root() / "vendara2012.db", "live data");

  EXPECT_TRUE(updater().run());
  EXPECT_EQ(read(root() / "tpl" / "vendara2012.db"), "new template");
  EXPECT_EQ(read(root() / "readme.txt"), "new readme");
  EXPECT_FALSE(fs::exists(root() / "update"));
  EXPECT_EQ(shown_, (std::vector<std::string>{gbk("警告") + "|" + gbk("更新完成")}));
  EXPECT_EQ(startedAtBox_, (std::vector<bool>{false}));
  EXPECT_EQ(started(), startedLine() + "database\n");
  EXPECT_EQ(read(root() / "vendara2012.db"), "live data");  // a database with data stays
}

TEST_F(UpdaterTest, ANewUpdaterIsStagedUnderItsTemporaryName) {
  fs::create_directories(root() / "update");
  write(root() / "update" / "Refitter.exe", "new updater");
  write(root() / "Refitter.exe", "running updater");
  EXPECT_TRUE(updater().run());
  EXPECT_EQ(read(root() / "Refitter._exe"), "new updater");
  EXPECT_EQ(read(root() / "Refitter.exe"), "running updater");
}

TEST_F(UpdaterTest, ALockedDestinationAndASubfolderStayInTheUpdateFolder) {
  fs::create_directories(root() / "update" / "sub");
  write(root() / "update" / "sub" / "inner.txt", "inner");
  write(root() / "update" / "locked.dll", "new");
  write(root() / "update" / "free.dll", "new");
  write(root() / "locked.dll", "old");
  // Held open without sharing, as a running program holds its files.
  HANDLE held = CreateFileA((root() / "locked.dll").string().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  Updater run = updater();
  EXPECT_EQ(run.installUpdate(), 1);
  CloseHandle(held);

  EXPECT_EQ(read(root() / "free.dll"), "new");
  EXPECT_EQ(read(root() / "locked.dll"), "old");
  EXPECT_TRUE(fs::exists(root() / "update" / "locked.dll"));
  EXPECT_TRUE(fs::exists(root() / "update" / "sub" / "inner.txt"));
  EXPECT_FALSE(fs::exists(root() / "inner.txt"));
  EXPECT_EQ(shown_.size(), 1u);  // "更新完成" all the same

  // The next run installs what was locked.
  EXPECT_EQ(updater().installUpdate(), 1);
  EXPECT_EQ(read(root() / "locked.dll"), "new");
}

TEST_F(UpdaterTest, AMissingMainProgramIsReportedAsBroken) {
  fs::remove(root() / "Vendara 2012.exe");
  EXPECT_FALSE(updater().run());
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].rfind(gbk("警告") + "|" + gbk("程序损坏，请重新安装或与我们联系。"), 0), 0u);
}

TEST_F(UpdaterTest, AMainProgramTheShellCannotStartIsReported) {
  fs::remove(root() / "Vendara 2012.exe");
  write(root() / "Vendara 2012.exe", "not a program");
  EXPECT_FALSE(updater().startMainProgram());
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].rfind(gbk("警告") + "|" + gbk("启动程序时出现异常，请重试或与我们联系。"), 0), 0u);
}

}  // namespace
}  // namespace Quorvel::testing
