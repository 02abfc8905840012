#include "store/MsgQueue.h"

#include <chrono>

#include "base/GlobalLock.h"
#include "store/Db.h"
#include "store/SystemConfig.h"

namespace Quorvel {

namespace {

std::shared_ptr<MsgQueue>* theInstance = nullptr;  // guarded by globalLock()
std::function<std::int64_t()> testClock;           // guarded by globalLock()

std::int64_t now() {
  if (testClock) return testClock();
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void deleteRow(int id) {
  getDb()->execute(std::make_shared<SQL>("delete from `msg_queue` where `id`=? ")->bind(id));
}

}  // namespace

std::shared_ptr<MsgQueue> MsgQueue::instance() {
  GlobalGuard hold;
  if (!theInstance) {
    std::shared_ptr<MsgQueue> created(new MsgQueue);
    created->load();
    theInstance = new std::shared_ptr<MsgQueue>(created);  // lives until the process ends
  }
  return *theInstance;
}

MsgQueue::~MsgQueue() = default;

void MsgQueue::setClock(std::function<std::int64_t()> clock) {
  GlobalGuard hold;
  testClock = std::move(clock);
}

void MsgQueue::load() {
  GlobalGuard hold;
  std::unordered_map<int, std::list<MsgEntry>> loaded;
  std::shared_ptr<IDb> db = getDb();
  std::shared_ptr<IDbResult> rows = db->query("select * from `msg_queue` order by `id` asc ");
  while (rows->next()) {
    std::shared_ptr<DbRow> row = rows->fetch();
    MsgEntry entry;
    entry.type = (*row)["type"].toInt();
    entry.create_time = (*row)["create_time"].toInt();
    entry.id = (*row)["id"].toInt();
    entry.error_times = (*row)["error_times"].toInt();
    entry.to = (*row)["to"].toString();
    entry.from = (*row)["from"].toString();
    entry.msg = (*row)["msg"].toString();
    entry.order_id = (*row)["order_id"].toString();
    entry.alipay_id = (*row)["alipay_id"].toString();
    loaded[entry.type].push_back(std::move(entry));
  }
  queues_.swap(loaded);
}

int MsgQueue::add(int type, const std::string& to, const std::string& from, const std::string& msg,
                  const std::string& order_id, const std::string& alipay_id) {
  GlobalGuard hold;
  MsgEntry entry;
  entry.type = type;
  entry.to = to;
  entry.from = from;
  entry.msg = msg;
  entry.order_id = order_id;
  entry.alipay_id = alipay_id;
  entry.error_times = 0;
  entry.create_time = now();

  std::shared_ptr<IDb> db = getDb();
  auto sql = std::make_shared<SQL>(
      "insert into `msg_queue`( `to` , `from` , `msg` , `type` , `error_times` , `create_time` , `order_id` , "
      "`alipay_id` ) values ( ?,?,?,?,?,?,?,? ) ");
  sql->bind(to)->bind(from)->bind(msg)->bind(type)->bind(entry.error_times);
  sql->bind(static_cast<std::int32_t>(entry.create_time))->bind(order_id)->bind(alipay_id);
  db->execute(sql);
  entry.id = db->lastInsertId();
  queues_[type].push_back(entry);
  return entry.id;
}

int MsgQueue::pending() {
  GlobalGuard hold;
  load();
  int count = 0;
  for (const auto& [type, entries] : queues_) {
    if (type != 3) count += static_cast<int>(entries.size());
  }
  return count;
}

bool MsgQueue::peek(int type, MsgEntry& out) {
  GlobalGuard hold;
  auto found = queues_.find(type);
  if (found == queues_.end() || found->second.empty()) {
    out.none = true;
    return false;
  }
  out = found->second.front();
  out.none = false;
  return true;
}

bool MsgQueue::take(int type, MsgEntry& out) {
  GlobalGuard hold;
  if (!peek(type, out)) return false;
  // The row goes first: when its delete fails, the entry stays queued in
  // memory as it does in the table.
  deleteRow(out.id);
  queues_[type].pop_front();
  return true;
}

void MsgQueue::remove(const MsgEntry& entry) {
  GlobalGuard hold;
  deleteRow(entry.id);
  auto found = queues_.find(entry.type);
  if (found == queues_.end()) return;
  found->second.remove_if([&](const MsgEntry& queued) { return queued.id == entry.id; });
}

void sellerNotice(const std::string& text) {
  SystemConfig* config = SystemConfig::instance();
  std::string mailto = config->get("notice_mailto");
  if (!config->flag("notice_type_email") || mailto.find('@') == std::string::npos) return;
  MsgQueue::instance()->add(1, mailto, config->get("email_sender"), text, "", "");
}

}  // namespace Quorvel
