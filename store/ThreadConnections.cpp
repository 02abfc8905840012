#include "store/ThreadConnections.h"

#include "base/ProcessWide.h"
#include "store/Db.h"

namespace Quorvel {

std::shared_ptr<ThreadConnections> ThreadConnections::instance() { return processWide<ThreadConnections>(); }

std::shared_ptr<ThreadConnections> ThreadConnections::makeProcessWide() {
  return std::make_shared<ThreadConnections>(Env());
}

ThreadConnections::ThreadConnections(Env env) : env_(std::move(env)) {}

std::shared_ptr<IDb> ThreadConnections::get() {
  MutexLock hold(mutex_);
  std::shared_ptr<IDb>& entry = byThread_[std::this_thread::get_id()];
  if (!entry) entry = std::make_shared<SqliteDb>(env_);
  return entry;
}

void ThreadConnections::release() {
  std::shared_ptr<IDb> dropped;
  {
    MutexLock hold(mutex_);
    auto found = byThread_.find(std::this_thread::get_id());
    if (found == byThread_.end()) return;
    dropped = std::move(found->second);
    byThread_.erase(found);
  }
  // `dropped` closes the connection here, outside the lock, if it was the last holder.
}

void ThreadConnections::resetForNextAction() {
  std::shared_ptr<IDb> db;
  {
    MutexLock hold(mutex_);
    auto found = byThread_.find(std::this_thread::get_id());
    if (found == byThread_.end() || !found->second) return;
    db = found->second;
  }
  try {
    db->resetForNextAction();
  } catch (const std::exception&) {
    // Whatever state it is in, a fresh connection has none of it.
    release();
  }
}

std::shared_ptr<IDb> getDb() { return ThreadConnections::instance()->get(); }

void releaseDb() { ThreadConnections::instance()->release(); }

void resetDbForNextAction() { ThreadConnections::instance()->resetForNextAction(); }

}  // namespace Quorvel
