#include "store/MsgQueue.h"

#include <algorithm>
#include <cstdio>

#include "base/Charset.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "base/GlobalLock.h"
#include "base/ProcessWide.h"
#include "store/Db.h"
#include "store/DbText.h"
#include "store/MsgType.h"
#include "store/SystemConfig.h"

namespace Quorvel {

namespace {

void deleteRow(const std::shared_ptr<IDb>& db, int id) {
  db->execute(std::make_shared<SQL>("delete from `msg_queue` where `id`=? ")->bind(id));
}

bool rowExists(const std::shared_ptr<IDb>& db, int id) {
  auto found = db->query(std::make_shared<SQL>("select count(*) as `num` from `msg_queue` where `id`=? ")->bind(id));
  return found->next() && (*found->fetch())["num"].toInt() > 0;
}

// Text columns are read as their raw bytes and converted here, so that a row
// holding text GBK cannot store fails alone instead of failing the fetch.
const char kSelectRows[] =
    "select `id`, `type`, `error_times`, `create_time`, cast(`to` as blob) as `to`, "
    "cast(`from` as blob) as `from`, cast(`msg` as blob) as `msg`, cast(`order_id` as blob) as `order_id`, "
    "cast(`alipay_id` as blob) as `alipay_id`, cast(`subject` as blob) as `subject`, cast(`last_error` as blob) as `last_error` "
    "from `msg_queue` order by `id` asc ";

std::string textOf(const DbRow& row, const char* column) {
  const std::string bytes = row.at(column).toString();
  return fromDbText(bytes.data(), bytes.size());
}

// Fills every field but the id; raises Exception when a column cannot be read.
void readEntry(const DbRow& row, MsgEntry& entry) {
  entry.type = row.at("type").toInt();
  entry.error_times = row.at("error_times").toInt();
  entry.create_time = row.at("create_time").toInt();
  entry.to = textOf(row, "to");
  entry.from = textOf(row, "from");
  entry.msg = textOf(row, "msg");
  entry.order_id = textOf(row, "order_id");
  entry.alipay_id = textOf(row, "alipay_id");
  entry.subject = textOf(row, "subject");
  entry.last_error = textOf(row, "last_error");
}

}  // namespace

std::shared_ptr<MsgQueue> MsgQueue::instance() { return processWide<MsgQueue>(); }

std::shared_ptr<MsgQueue> MsgQueue::makeProcessWide() {
  std::shared_ptr<MsgQueue> made(new MsgQueue);
  made->load(getDb());
  return made;
}

MsgQueue::~MsgQueue() = default;

void MsgQueue::load(const std::shared_ptr<IDb>& db) {
  GlobalGuard hold;
  std::unordered_map<int, std::list<MsgEntry>> loaded;
  std::set<int> present;
  std::shared_ptr<IDbResult> rows = db->query(kSelectRows);
  while (rows->next()) {
    std::shared_ptr<DbRow> row = rows->fetch();
    MsgEntry entry;
    entry.id = (*row)["id"].toInt();
    present.insert(entry.id);
    if (unreadable_.count(entry.id) != 0) continue;
    try {
      readEntry(*row, entry);
    } catch (Exception e) {
      unreadable_.insert(entry.id);
      std::printf("The queued message %d cannot be read and is set aside: %s\n", entry.id, e.message().c_str());
      std::fflush(stdout);
      continue;
    }
    loaded[entry.type].push_back(std::move(entry));
  }
  queues_.swap(loaded);
  std::erase_if(claimed_, [&](int id) { return present.count(id) == 0; });
  std::erase_if(unreadable_, [&](int id) { return present.count(id) == 0; });
}

int MsgQueue::add(const std::shared_ptr<IDb>& db, int type, const std::string& to, const std::string& from, const std::string& msg,
                  const std::string& order_id, const std::string& alipay_id, const std::string& subject) {
  GlobalGuard hold;
  const std::int64_t now = db->env().clock().now();
  auto sql = std::make_shared<SQL>(
      "insert into `msg_queue`( `to` , `from` , `msg` , `type` , `error_times` , `create_time` , `order_id` , "
      "`alipay_id` , `subject` ) values ( ?,?,?,?,?,?,?,?,? ) ");
  sql->bind(to)->bind(from)->bind(msg)->bind(type)->bind(0);
  sql->bind(static_cast<std::int32_t>(now))->bind(order_id)->bind(alipay_id)->bind(subject);
  db->execute(sql);
  return db->lastInsertId();
}

int MsgQueue::pending(const std::shared_ptr<IDb>& db) {
  GlobalGuard hold;
  load(db);
  int count = 0;
  for (const auto& [type, entries] : queues_) {
    if (type != kWaitingChat) count += static_cast<int>(entries.size());
  }
  return count;
}

bool MsgQueue::peek(int type, MsgEntry& out) {
  GlobalGuard hold;
  auto found = queues_.find(type);
  if (found != queues_.end()) {
    for (const MsgEntry& entry : found->second) {
      if (claimed_.count(entry.id) != 0) continue;
      out = entry;
      out.none = false;
      return true;
    }
  }
  out.none = true;
  return false;
}

bool MsgQueue::claim(int type, MsgEntry& out) {
  GlobalGuard hold;
  if (!peek(type, out)) return false;
  claimed_.insert(out.id);
  return true;
}

void MsgQueue::release(const MsgEntry& entry) {
  GlobalGuard hold;
  claimed_.erase(entry.id);
}

void MsgQueue::failed(const std::shared_ptr<IDb>& db, const MsgEntry& entry, const std::string& reason) {
  GlobalGuard hold;
  claimed_.erase(entry.id);
  // The count is for the seller to read; a disk that does not take it leaves
  // the message queued as it was, and the next pass tries it again.
  try {
    db->execute(
        std::make_shared<SQL>("update `msg_queue` set `error_times`=`error_times`+1, `last_error`=? where `id`=? ")
            ->bind(reason)
            ->bind(entry.id));
  } catch (Exception e) {
    std::printf("The failed try of queued message %d was not counted: %s\n", entry.id, e.message().c_str());
    std::fflush(stdout);
    return;
  }
  auto found = queues_.find(entry.type);
  if (found == queues_.end()) return;
  for (MsgEntry& queued : found->second) {
    if (queued.id != entry.id) continue;
    ++queued.error_times;
    queued.last_error = reason;
  }
}

std::vector<MsgEntry> MsgQueue::waiting(const std::shared_ptr<IDb>& db, std::size_t limit, std::size_t& total) {
  GlobalGuard hold;
  load(db);
  std::vector<MsgEntry> all;
  for (const auto& [type, entries] : queues_) all.insert(all.end(), entries.begin(), entries.end());
  std::sort(all.begin(), all.end(), [](const MsgEntry& a, const MsgEntry& b) { return a.id < b.id; });
  total = all.size();
  if (all.size() > limit) all.resize(limit);
  for (MsgEntry& entry : all) entry.sending = claimed_.count(entry.id) != 0;
  return all;
}

MsgQueue::Change MsgQueue::retry(const std::shared_ptr<IDb>& db, int id) {
  GlobalGuard hold;
  if (claimed_.count(id) != 0) return Change::kSending;
  if (!rowExists(db, id)) return Change::kMissing;
  db->execute(
      std::make_shared<SQL>("update `msg_queue` set `error_times`=0, `last_error`='' where `id`=? ")->bind(id));
  load(db);
  return Change::kDone;
}

MsgQueue::Change MsgQueue::discard(const std::shared_ptr<IDb>& db, int id) {
  GlobalGuard hold;
  // A message the dispatcher is sending now stays: it may already be out.
  if (claimed_.count(id) != 0) return Change::kSending;
  if (!rowExists(db, id)) return Change::kMissing;
  deleteRow(db, id);
  load(db);
  return Change::kDone;
}

bool MsgQueue::take(const std::shared_ptr<IDb>& db, int type, MsgEntry& out) {
  GlobalGuard hold;
  if (!claim(type, out)) return false;
  try {
    remove(db, out);
  } catch (...) {
    // The row stays, so does the entry: it is handed out again later.
    release(out);
    throw;
  }
  return true;
}

void MsgQueue::remove(const std::shared_ptr<IDb>& db, const MsgEntry& entry) {
  GlobalGuard hold;
  // The row goes first: when its delete fails, the entry stays queued in
  // memory as it does in the table.
  deleteRow(db, entry.id);
  claimed_.erase(entry.id);
  auto found = queues_.find(entry.type);
  if (found == queues_.end()) return;
  found->second.remove_if([&](const MsgEntry& queued) { return queued.id == entry.id; });
}

std::set<int> MsgQueue::setAside() {
  GlobalGuard hold;
  return unreadable_;
}

std::string msgTypeName(int type) {
  switch (type) {
    case kWebMessage:
      return gbk("站内信");
    case kEmail:
      return gbk("邮件");
    default:
      return gbk("旺旺");
  }
}

void sellerNotice(const std::shared_ptr<IDb>& db, const std::string& text) {
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  std::string mailto = config->get("notice_mailto");
  if (!config->flag("notice_type_email") || mailto.find('@') == std::string::npos) return;
  MsgQueue::instance()->add(db, kEmail, mailto, config->get("email_sender"), text, "", "");
}

}  // namespace Quorvel
