#include "updater/Updater.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "base/Charset.h"
#include "port/FolderLock.h"

namespace Quorvel {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& path, const std::string& content, bool executable = false) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
  if (executable) fs::permissions(path, fs::perms::owner_exec, fs::perm_options::add);
}

std::set<std::string> names(const fs::path& dir) {
  std::set<std::string> out;
  for (const auto& entry : fs::directory_iterator(dir)) out.insert(entry.path().filename().string());
  return out;
}

// Records the run of a stand-in program: the program writes one line into the
// FIFO "ran" in its working directory, and wait() returns that line once the
// program has run (bounded, so a program that never runs fails the test
// rather than hanging it).
class RunRecord {
 public:
  explicit RunRecord(const fs::path& dir) {
    mkfifo((dir / "ran").c_str(), 0600);
    fd_ = ::open((dir / "ran").c_str(), O_RDONLY | O_NONBLOCK);
  }
  ~RunRecord() { ::close(fd_); }
  std::string wait() {
    std::string line;
    while (line.find('\n') == std::string::npos) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0) return line + "(no run)";
      char buf[512];
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0) line.append(buf, n);
    }
    return line.substr(0, line.find('\n'));
  }

 private:
  int fd_ = -1;
};

// A stand-in main program that reports `tag` and its working directory.
std::string standIn(const std::string& tag) { return "#!/bin/sh\necho \"" + tag + " $PWD\" > ran\n"; }

// Starts through the system's launcher, and notes what was started, in which
// order with the message boxes, and whether the database was there at the time.
class RecordingLauncher : public port::ProcessLauncher {
 public:
  RecordingLauncher(std::vector<std::string>& events, fs::path database) : events_(events), database_(database) {}
  bool start(const port::ProcessStart& what) override {
    events_.push_back("start");
    starts.push_back(what);
    databaseAtStart.push_back(fs::exists(database_));
    return port::systemProcessLauncher()->start(what);
  }
  std::vector<port::ProcessStart> starts;
  std::vector<bool> databaseAtStart;

 private:
  std::vector<std::string>& events_;
  fs::path database_;
};

class UpdaterTest : public ::testing::Test {
 protected:
  UpdaterTest() {
    std::string pattern = (fs::temp_directory_path() / "quorvel-updater-XXXXXX").string();
    dir = mkdtemp(pattern.data());
    launcher = std::make_shared<RecordingLauncher>(events, dir / "vendara2012.db");
  }
  ~UpdaterTest() override { fs::remove_all(dir); }

  Updater updater() {
    return Updater({.folder = dir, .launcher = launcher, .showMessage = [this](const auto& caption, const auto& text) {
                      events.push_back("box");
                      boxes.push_back({caption, text});
                    }});
  }
  bool boxStartsWith(const std::string& utf8) const {
    return boxes.size() == 1 && boxes[0].first == gbk("警告") && boxes[0].second.rfind(gbk(utf8), 0) == 0;
  }

  fs::path dir;
  std::vector<std::string> events;
  std::vector<std::pair<std::string, std::string>> boxes;
  std::shared_ptr<RecordingLauncher> launcher;
};

TEST_F(UpdaterTest, WithoutUpdateFolderStartsMainProgramInItsFolderAndShowsNothing) {
  writeFile(dir / "vendara", standIn("main"), true);
  RunRecord ran(dir);
  EXPECT_TRUE(updater().run());
  EXPECT_EQ(ran.wait(), "main " + dir.string());
  EXPECT_TRUE(boxes.empty());
}

TEST_F(UpdaterTest, InstallsTemplateAndMainProgramThenTellsAndStartsTheNewOne) {
  writeFile(dir / "vendara", standIn("old"), true);
  writeFile(dir / "tpl/vendara2012.db", "old template");
  writeFile(dir / "vendara2012.db", "live data");
  writeFile(dir / "update/vendara", standIn("new"), true);
  writeFile(dir / "update/vendara2012.db", "new template");
  RunRecord ran(dir);

  EXPECT_TRUE(updater().run());
  EXPECT_EQ(ran.wait(), "new " + dir.string());
  EXPECT_EQ(readFile(dir / "tpl/vendara2012.db"), "new template");
  EXPECT_EQ(readFile(dir / "vendara2012.db"), "live data");
  EXPECT_EQ(names(dir), (std::set<std::string>{"backup", "ran", "tpl", "vendara", "vendara.lock", "vendara2012.db"}));
  EXPECT_EQ(names(dir / "tpl"), std::set<std::string>{"vendara2012.db"});
  EXPECT_EQ(events, (std::vector<std::string>{"box", "start"}));
  EXPECT_TRUE(boxStartsWith("更新完成"));
  // The database made from the old template was copied first.
  const std::set<std::string> copies = names(dir / "backup");
  ASSERT_EQ(copies.size(), 1u);
  const fs::path copy = dir / "backup" / *copies.begin();
  EXPECT_EQ(copy.filename().string().rfind("vendara2012-", 0), 0u);
  EXPECT_EQ(readFile(copy), "live data");
  struct stat status;
  ASSERT_EQ(::stat(copy.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(UpdaterTest, CopiesTheDatabaseWithItsLogButNeverWhileTheMainProgramRuns) {
  Updater plain({.folder = dir, .launcher = launcher, .now = [] { return std::int64_t{1'767'225'600}; },
                 .showMessage = [](const auto&, const auto&) {}});
  writeFile(dir / "vendara2012.db", "pages");
  writeFile(dir / "vendara2012.db-wal", "log");
  EXPECT_EQ(plain.backUpDatabase(), "vendara2012-20260101-000000.db");
  EXPECT_EQ(readFile(dir / "backup/vendara2012-20260101-000000.db"), "pages");
  EXPECT_EQ(readFile(dir / "backup/vendara2012-20260101-000000.db-wal"), "log");
  EXPECT_EQ(plain.backUpDatabase(), "vendara2012-20260101-000000-2.db");
  {
    std::string holder;
    auto running = port::FolderLock::take(dir / "vendara.lock", &holder);  // the main program's lock
    ASSERT_TRUE(running);
    EXPECT_EQ(plain.backUpDatabase(), "");
  }
  EXPECT_EQ(names(dir / "backup").size(), 4u);
}

TEST_F(UpdaterTest, StagesUpdatersOwnNewVersionBesideTheRunningOne) {
  writeFile(dir / "refitter", "running updater");
  writeFile(dir / "update/refitter", "new updater");
  EXPECT_EQ(updater().installUpdate(), 1);
  EXPECT_EQ(readFile(dir / "refitter"), "running updater");
  EXPECT_EQ(readFile(dir / "refitter._exe"), "new updater");
  EXPECT_FALSE(fs::exists(dir / "update"));
}

TEST_F(UpdaterTest, LeavesSubfolderAndSameNamedFileAloneAndKeepsUpdateFolder) {
  writeFile(dir / "plugins", "keep me");
  writeFile(dir / "update/plugins/a.so", "nested");
  writeFile(dir / "update/notes.txt", "notes");
  EXPECT_EQ(updater().installUpdate(), 1);
  EXPECT_EQ(readFile(dir / "notes.txt"), "notes");
  EXPECT_EQ(readFile(dir / "plugins"), "keep me");
  EXPECT_EQ(readFile(dir / "update/plugins/a.so"), "nested");
  EXPECT_EQ(names(dir / "update"), std::set<std::string>{"plugins"});
  EXPECT_TRUE(boxStartsWith("更新完成"));
}

// A link placed in "update/" would install whatever it points at (the
// seller's keys, another user's file) beside the program: it stays where it
// is, like any entry that cannot be installed, and so does its target.
TEST_F(UpdaterTest, LeavesSymbolicLinksWhereTheyAre) {
  const fs::path outside = dir.parent_path() / (dir.filename().string() + "-outside");
  writeFile(outside / "secret", "not for the program folder");
  writeFile(dir / "update/notes.txt", "notes");
  fs::create_directories(dir / "tpl");
  fs::create_symlink(outside / "secret", dir / "update/vendara");
  fs::create_symlink(outside / "secret", dir / "update/linked.db");
  fs::create_symlink(dir / "update/notes.txt", dir / "update/inside");  // even one that stays inside
  fs::create_directory_symlink(outside, dir / "update/folder");
  EXPECT_EQ(updater().installUpdate(), 1);
  EXPECT_EQ(readFile(dir / "notes.txt"), "notes");
  EXPECT_EQ(names(dir / "update"), (std::set<std::string>{"vendara", "linked.db", "inside", "folder"}));
  EXPECT_FALSE(fs::exists(dir / "vendara"));
  EXPECT_FALSE(fs::exists(dir / "tpl/linked.db"));
  EXPECT_FALSE(fs::exists(dir / "inside"));
  EXPECT_FALSE(fs::exists(dir / "folder"));
  EXPECT_EQ(readFile(outside / "secret"), "not for the program folder");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "update/vendara")));
  fs::remove_all(outside);
}

TEST_F(UpdaterTest, FilesThatCannotBeInstalledStayForTheNextRun) {
  writeFile(dir / "update/vendara2012.db", "template");  // no "tpl" folder yet
  writeFile(dir / "update/data", "new data");
  writeFile(dir / "data/inside", "kept");                // a folder where the file goes
  EXPECT_EQ(updater().installUpdate(), 0);
  EXPECT_TRUE(boxStartsWith("更新完成"));  // shown even when nothing could be installed
  EXPECT_EQ(names(dir / "update"), (std::set<std::string>{"data", "vendara2012.db"}));
  EXPECT_EQ(names(dir), (std::set<std::string>{"data", "update"}));
  EXPECT_EQ(readFile(dir / "data/inside"), "kept");

  fs::create_directory(dir / "tpl");
  fs::remove_all(dir / "data");
  EXPECT_EQ(updater().installUpdate(), 2);
  EXPECT_EQ(readFile(dir / "tpl/vendara2012.db"), "template");
  EXPECT_EQ(readFile(dir / "data"), "new data");
  EXPECT_FALSE(fs::exists(dir / "update"));
}

TEST_F(UpdaterTest, RemovesEmptyDatabaseBeforeStartAndKeepsOneWithData) {
  writeFile(dir / "vendara", standIn("main"), true);
  writeFile(dir / "vendara2012.db", "");
  RunRecord ran(dir);
  EXPECT_TRUE(updater().run());
  ran.wait();
  EXPECT_FALSE(fs::exists(dir / "vendara2012.db"));

  writeFile(dir / "vendara2012.db", "data");
  EXPECT_TRUE(updater().run());
  ran.wait();
  EXPECT_EQ(readFile(dir / "vendara2012.db"), "data");
  EXPECT_EQ(launcher->databaseAtStart, (std::vector<bool>{false, true}));
}

TEST_F(UpdaterTest, MissingMainProgramIsReportedAsDamaged) {
  EXPECT_FALSE(updater().run());
  EXPECT_TRUE(boxStartsWith("程序损坏，请重新安装或与我们联系。"));
  EXPECT_TRUE(launcher->starts.empty());
}

TEST_F(UpdaterTest, MainProgramThatCannotRunIsReportedAsStartFailure) {
  writeFile(dir / "vendara", standIn("main"));  // not executable
  EXPECT_FALSE(updater().run());
  EXPECT_EQ(launcher->starts.size(), 1u);
  EXPECT_TRUE(boxStartsWith("启动程序时出现异常，请重试或与我们联系。"));
}

TEST_F(UpdaterTest, LauncherFindsProgramsOnTheSearchPathAndPassesArguments) {
  auto system = port::systemProcessLauncher();
  RunRecord ran(dir);
  EXPECT_TRUE(system->start({.program = "sh", .args = {"-c", "echo \"$1 $PWD\" > ran", "sh", "hello"},
                             .workingDir = dir.string()}));
  EXPECT_EQ(ran.wait(), "hello " + dir.string());
  EXPECT_FALSE(system->start({.program = "no-such-program-quorvel"}));
}

TEST_F(UpdaterTest, ProgramShowsItsMessagesOnStandardErrorAsUtf8) {
  writeFile(dir / "update/notes.txt", "notes");
  std::string command = "cd '" + dir.string() + "' && '" REFITTER_PATH "' 2> err.txt";
  int status = std::system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 1);  // installed, but no main program to start
  EXPECT_EQ(readFile(dir / "notes.txt"), "notes");
  std::string err = readFile(dir / "err.txt");
  EXPECT_NE(err.find("[警告] 更新完成\n"), std::string::npos) << err;
  EXPECT_NE(err.find("[警告] 程序损坏，请重新安装或与我们联系。"), std::string::npos) << err;
}

}  // namespace
}  // namespace Quorvel
