#include "api/BackupActions.h"

#include <json/value.h>

#include "api/ActionDispatch.h"
#include "api/SubActions.h"
#include "base/Charset.h"
#include "base/Exception.h"
#include "base/ProcessWide.h"
#include "store/Backups.h"
#include "store/Category.h"
#include "store/Db.h"
#include "store/Goods.h"
#include "store/GoodsCategoryMap.h"
#include "store/MsgQueue.h"
#include "store/SafeMode.h"
#include "store/SystemConfig.h"

namespace Quorvel {

namespace {

int ordersInFlight(const std::shared_ptr<IDb>& db) {
  auto rows = db->query("select count(*) as `num` from `orders` where `status`=3");
  const int count = rows->next() ? rows->intAt(0) : 0;
  rows.reset();
  db->resetForNextAction();  // keep no read open across the restore
  return count;
}

void refuseWhileInFlight(const std::shared_ptr<IDb>& db) {
  const int count = ordersInFlight(db);
  if (count > 0) {
    throw Exception(gbk("有 ") + std::to_string(count) +
                    gbk(" 个订单正在发货中（状态 3），现在不能恢复备份。请等发货完成（或下次检查订单时自动恢复处理）后再试。"));
  }
}

// The caches of the stores that keep one, read again from the restored file.
void reloadStores(const std::shared_ptr<IDb>& db) {
  SystemConfig::instance()->load(db);
  Category::instance()->load(db);
  Goods::instance()->load(db);
  GoodsCategoryMap::instance()->load(db);
  MsgQueue::instance()->load(db);
}

void listCopies(ActionContext&, Json::Value& reply) {
  std::shared_ptr<Backups> backups = Backups::instance();
  Json::Value list(Json::arrayValue);
  for (const BackupCopy& copy : backups->list()) {
    Json::Value row(Json::objectValue);
    row["NAME"] = copy.name;
    row["TIME"] = static_cast<Json::Int64>(copy.time);
    row["SIZE"] = static_cast<Json::UInt64>(copy.size);
    row["CARDS"] = copy.cards;
    row["UNSENT"] = copy.unsentCards;
    row["ORDERS"] = copy.orders;
    list.append(std::move(row));
  }
  reply["LIST"] = std::move(list);
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::absolute(Backups::folder(), ec);
  reply["FOLDER"] = (ec ? Backups::folder() : folder).string();
  reply["KEEP"] = Backups::keepSetting();
  reply["INTERVAL_HOURS"] = Backups::intervalHoursSetting();
  std::shared_ptr<SafeMode> safe = SafeMode::instance();
  reply["DB_DAMAGED"] = safe->damaged();
  reply["SAFE_MSG"] = safe->message();
}

void backUpNow(ActionContext&, Json::Value& reply) {
  if (SafeMode::instance()->damaged()) {
    throw Exception(gbk("安全模式下不做新备份：现在的数据库只是空的替代品，备份它会挤掉完好的旧备份。请先恢复一个备份。"));
  }
  const BackupCopy copy = Backups::instance()->takeNow();
  reply["NAME"] = copy.name;
  reply["MSG"] = gbk("已备份为 ") + copy.name;
}

}  // namespace

std::string restoreBackup(const std::shared_ptr<IDb>& db, Deamon& daemon, const std::string& name) {
  if (!Backups::isCopyName(name)) throw Exception(gbk("没有这个备份：") + name);
  refuseWhileInFlight(db);
  daemon.hold();
  struct Resume {
    Deamon& daemon;
    ~Resume() { daemon.resume(); }
  } resume{daemon};
  // A tick may have reserved an order between the first look and the hold.
  refuseWhileInFlight(db);
  std::shared_ptr<Backups> backups = Backups::instance();
  BackupCopy before;
  try {
    before = backups->takeNow(-1);  // pruned after the restore, never the copy being restored
  } catch (Exception e) {
    throw Exception(gbk("恢复前没能备份当前的数据库，所以没有恢复：") + e.message());
  }
  backups->restoreFrom(name);
  reloadStores(db);
  backups->prune(Backups::keepSetting());
  std::shared_ptr<SafeMode> safe = SafeMode::instance();
  if (safe->damaged()) {
    safe->leave();
    daemon.start();  // not started in safe mode
  }
  return before.name;
}

void registerBackupActions(const Env& env, std::shared_ptr<Deamon> daemon) {
  SafeMode::instance();
  Backups::instance();
  registerAction(
      env, "backup",
      [daemon](ActionContext& context) {
        const SubActionTable table = {
            {"lst", listCopies},
            {"now", backUpNow},
            {"restore",
             [&daemon](ActionContext& context, Json::Value& reply) {
               const std::string name = context.postParam("name");
               const std::string before = restoreBackup(context.db, *daemon, name);
               reply["BEFORE"] = before;
               reply["MSG"] = gbk("已从备份 ") + name + gbk(" 恢复；恢复前的数据库已备份为 ") + before + gbk("。");
             }},
        };
        answerSubAction(context, table);
      },
      ActionPlace::kOutsideWorker);
}

}  // namespace Quorvel
