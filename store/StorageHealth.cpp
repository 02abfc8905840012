#include "store/StorageHealth.h"

#include <sqlite3.h>

#include "base/Charset.h"

namespace Quorvel {

bool StorageHealth::isStorageFailure(int code) {
  switch (code & 0xff) {
    case SQLITE_FULL:
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
      return true;
    default:
      return false;
  }
}

std::string StorageHealth::messageFor(int code) {
  switch (code & 0xff) {
    case SQLITE_FULL:
      return gbk("磁盘空间不足，这次修改没有保存（数据没有改变）。请清理磁盘后重试；自动发货已暂停，磁盘可写后自动继续。");
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return gbk("数据库文件无法写入（只读或没有权限），这次修改没有保存（数据没有改变）。自动发货已暂停，文件可写后自动继续。");
    case SQLITE_CANTOPEN:
      return gbk("无法打开数据库文件（文件夹只读、没有权限或磁盘已满），这次修改没有保存。");
    case SQLITE_IOERR:
      return gbk("读写磁盘出错，这次修改没有保存（数据没有改变）。请检查磁盘；自动发货已暂停，磁盘可写后自动继续。");
    default:
      return std::string();
  }
}

void StorageHealth::noteFailure(int, const std::string& message) {
  MutexLock hold(mutex_);
  message_ = message;
  failing_.store(true);
}

void StorageHealth::noteWriteWorked() {
  if (!failing_.load()) return;  // the usual case: nothing to write
  MutexLock hold(mutex_);
  message_.clear();
  failing_.store(false);
}

std::string StorageHealth::message() const {
  MutexLock hold(mutex_);
  return failing_.load() ? message_ : std::string();
}

StorageHealth& storageHealth() {
  static StorageHealth* health = new StorageHealth;
  return *health;
}

}  // namespace Quorvel
