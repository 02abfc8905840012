#include "app/StartupSafety.h"

#include <cstdio>
#include <filesystem>

#include "base/Charset.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "base/ProcessWide.h"
#include "store/Backups.h"
#include "store/DatabaseFile.h"
#include "store/SafeMode.h"

namespace Quorvel {

namespace {

// The seller reads standard output on a UTF-8 console.
void say(const std::string& gbkText) {
  std::string text = gbkText;
  try {
    text = gbkToUtf8(gbkText);
  } catch (Exception) {
  }
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

std::filesystem::path lockFile() {
  return std::filesystem::path(databasePath()).parent_path() / "vendara.lock";
}

// Checks for a due backup once a minute.
constexpr std::int64_t kBackupCheckSeconds = 60;

}  // namespace

StartupSafety::~StartupSafety() {
  backups_.request_stop();
  if (backups_.joinable()) backups_.join();
}

bool StartupSafety::lockFolder() {
  std::string holder;
  lock_ = port::FolderLock::take(lockFile(), &holder);
  if (lock_) {
    lock_->describe("pid " + std::to_string(port::FolderLock::processId()) + ", starting");
    return true;
  }
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::absolute(lockFile().parent_path(), ec);
  say(gbk("这个文件夹里已经有一个 Vendara 在运行（") + (holder.empty() ? gbk("正在启动") : holder) +
      gbk("），数据文件夹：") + folder.string() + gbk("。请使用正在运行的那个；本程序没有做任何改动，现在退出。"));
  return false;
}

void StartupSafety::checkDatabase() {
  std::string told;
  try {
    told = SafeMode::instance()->checkAtStart();
  } catch (Exception e) {
    told = e.message();
  } catch (const std::exception& e) {
    // The fresh database could not be made; the start goes on and the
    // next step says why the database cannot be used.
    told = e.what();
  }
  if (!told.empty()) say(told);
}

bool StartupSafety::safeMode() const { return SafeMode::instance()->damaged(); }

void StartupSafety::listening(std::uint16_t port) {
  if (!lock_) return;
  lock_->describe("pid " + std::to_string(port::FolderLock::processId()) + ", local server 127.0.0.1:" +
                  std::to_string(port));
}

void StartupSafety::startBackups() {
  backups_ = std::jthread([this](std::stop_token stop) { backupLoop(stop); });
}

void StartupSafety::backupLoop(std::stop_token stop) {
  const std::shared_ptr<Clock>& clock = clock_;
  std::int64_t last = clock->now();  // the start was backed up
  while (clock->sleepFor(kBackupCheckSeconds, stop)) {
    try {
      if (safeMode() || !Backups::isDue(last, clock->now())) continue;
      last = clock->now();
      const BackupCopy copy = Backups::instance()->takeNow();
      say(gbk("定时备份：") + copy.name);
    } catch (Exception e) {
      say(gbk("定时备份失败：") + e.message());
    }
  }
}

}  // namespace Quorvel
