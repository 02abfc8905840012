#include "updater/Updater.h"

#include <chrono>
#include <cstdio>
#include <system_error>
#include <vector>

#include "base/Charset.h"
#include "base/Clock.h"
#include "port/FolderLock.h"
#include "port/MessageBox.h"
#include "port/PrivateFile.h"

namespace Quorvel {

namespace fs = std::filesystem;

namespace {

constexpr const char* kUpdateFolder = "update";
constexpr const char* kTemplateFolder = "tpl";
constexpr const char* kDatabaseFile = "vendara2012.db";
constexpr const char* kDatabaseExtension = ".db";

// Where the user can reach us when the main program cannot be started.
constexpr const char* kSupportContact =
    "\n\n"
    "客服邮箱：support@vendara.example\n"
    "用户论坛：https://forum.vendara.example/";

std::string caption() { return gbk("警告"); }


}  // namespace

Updater::Updater(UpdaterSetup setup) : setup_(std::move(setup)) {
  if (!setup_.launcher) setup_.launcher = port::systemProcessLauncher();
  if (!setup_.showMessage) setup_.showMessage = port::showMessageBox;
  if (!setup_.now) {
    setup_.now = [] {
      return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    };
  }
}

bool Updater::run() {
  installUpdate();
  removeEmptyDatabase();
  return startMainProgram();
}

int Updater::installUpdate() {
  std::error_code ec;
  const fs::path updateDir = setup_.folder / kUpdateFolder;
  if (!fs::is_directory(updateDir, ec)) return 0;

  // The listing is taken first, so that removing installed entries cannot
  // disturb the walk.
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(updateDir, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path());
  }

  // A template about to change: the database made from the old one is
  // copied first.
  for (const auto& entry : entries) {
    if (entry.extension() == kDatabaseExtension) {
      backUpDatabase();
      break;
    }
  }

  int installed = 0;
  for (const auto& entry : entries) {
    if (installFile(entry)) ++installed;
  }
  setup_.showMessage(caption(), gbk("更新完成"));

  // Succeeds only when every entry has gone; what stays is tried next run.
  fs::remove(updateDir, ec);
  return installed;
}

// Database templates go into the template folder, the updater's own new
// version under its staged name (the running updater keeps its file), and
// everything else beside the main program. The copy is made under a
// temporary name and then renamed over the destination, so a copy that fails
// halfway leaves the old file in place rather than none or half a file.
// Only plain files are installed: a subfolder stays where it is, and so does
// a symbolic link (it would install whatever file it points at, anywhere on
// the system) and a file of the same name at the destination.
bool Updater::installFile(const fs::path& entry) {
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(entry, ec))) return false;

  const std::string name = entry.filename().string();
  const std::string destName = name == setup_.updaterProgram ? setup_.updaterStaged : name;
  const fs::path destDir =
      entry.extension() == kDatabaseExtension ? setup_.folder / kTemplateFolder : setup_.folder;
  const fs::path dest = destDir / destName;
  const fs::path partial = destDir / ("." + destName + ".installing");

  fs::remove(partial, ec);
  if (!fs::copy_file(entry, partial, ec) || ec) {
    fs::remove(partial, ec);
    return false;
  }
  fs::rename(partial, dest, ec);
  if (ec) {
    fs::remove(partial, ec);
    return false;
  }
  // Should the entry refuse to go, the next run installs it once more.
  fs::remove(entry, ec);
  return true;
}

std::string Updater::backUpDatabase() {
  std::error_code ec;
  const fs::path database = setup_.folder / kDatabaseFile;
  if (!fs::is_regular_file(database, ec) || fs::file_size(database, ec) == 0) return std::string();
  std::string holder;
  std::unique_ptr<port::FolderLock> lock = port::FolderLock::take(setup_.folder / "vendara.lock", &holder);
  if (!lock) return std::string();  // the main program runs: never copy a live file
  const fs::path folder = setup_.folder / "backup";
  fs::create_directories(folder, ec);
  const std::string base = "vendara2012-" + utcStamp(setup_.now());
  std::string name = base + kDatabaseExtension;
  for (int n = 2; fs::exists(folder / name, ec) && n < 10000; ++n) {
    name = base + "-" + std::to_string(n) + kDatabaseExtension;
  }
  try {
    // The log goes first under its final name: a copy is only ever seen
    // with its log beside it.
    const fs::path log = database.string() + "-wal";
    if (fs::is_regular_file(log, ec) && fs::file_size(log, ec) > 0) {
      port::copyToPrivateFile(log, folder / (name + "-wal"));
    }
    port::copyToPrivateFile(database, folder / name);
  } catch (const fs::filesystem_error&) {
    fs::remove(folder / (name + "-wal"), ec);
    fs::remove(folder / name, ec);
    return std::string();
  }
  return name;
}

void Updater::removeEmptyDatabase() {
  std::error_code ec;
  const fs::path database = setup_.folder / kDatabaseFile;
  if (!fs::is_regular_file(database, ec)) return;
  if (fs::file_size(database, ec) == 0 && !ec) fs::remove(database, ec);
}

bool Updater::startMainProgram() {
  std::error_code ec;
  const fs::path program = setup_.folder / setup_.mainProgram;
  if (!fs::exists(program, ec)) {
    setup_.showMessage(caption(), gbk(std::string("程序损坏，请重新安装或与我们联系。") + kSupportContact));
    return false;
  }
  // An absolute path, so that the start neither searches the system's path
  // nor depends on the folder the updater was started in.
  fs::path folder = fs::absolute(setup_.folder, ec);
  if (ec) folder = setup_.folder;
  port::ProcessStart start{
      .program = (folder / setup_.mainProgram).string(), .workingDir = folder.string(), .keepOutput = true};
  if (!setup_.launcher->start(start)) {
    setup_.showMessage(caption(),
                       gbk(std::string("启动程序时出现异常，请重试或与我们联系。") + kSupportContact));
    return false;
  }
  return true;
}

}  // namespace Quorvel
