#include "store/OrderLog.h"

#include <cstdint>

#include "base/Clock.h"
#include "base/GbkText.h"
#include "base/ProcessWide.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"

namespace Quorvel {

std::shared_ptr<OrderLog> OrderLog::instance() { return processWide<OrderLog>(); }

std::shared_ptr<OrderLog> OrderLog::makeProcessWide() {
  upgradeDatabase();
  return std::shared_ptr<OrderLog>(new OrderLog);
}

OrderLog::~OrderLog() = default;

void OrderLog::add(const std::shared_ptr<IDb>& db, const std::string& orderNumber, const std::string& step,
                   const std::string& text) {
  db->execute(std::make_shared<SQL>("insert into `order_log` (`order_id`,`time`,`step`,`text`) values (?,?,?,?)")
                  ->bind(orderNumber)
                  ->bind(static_cast<std::int32_t>(db->env().clock().now()))
                  ->bind(step)
                  ->bind(gbkPrefix(text, kMaxText)));
}

void OrderLog::addOnce(const std::shared_ptr<IDb>& db, const std::string& orderNumber, const std::string& step,
                       const std::string& text) {
  std::shared_ptr<IDbResult> latest = db->query(
      std::make_shared<SQL>("select `step`, `text` from `order_log` where `order_id`=? order by `id` desc limit 1")
          ->bind(orderNumber));
  if (latest->next()) {
    std::shared_ptr<DbRow> row = latest->fetch();
    if ((*row)["step"].toString() == step && (*row)["text"].toString() == gbkPrefix(text, kMaxText)) return;
  }
  latest.reset();
  add(db, orderNumber, step, text);
}

std::vector<OrderLogRow> OrderLog::of(const std::shared_ptr<IDb>& db, const std::string& orderNumber) {
  std::vector<OrderLogRow> rows;
  std::shared_ptr<IDbResult> found = db->query(
      std::make_shared<SQL>("select * from `order_log` where `order_id`=? order by `id`")->bind(orderNumber));
  while (found->next()) {
    std::shared_ptr<DbRow> row = found->fetch();
    OrderLogRow entry;
    entry.id = (*row)["id"].toInt();
    entry.order_id = (*row)["order_id"].toString();
    entry.time = (*row)["time"].toInt();
    entry.step = (*row)["step"].toString();
    entry.text = (*row)["text"].toString();
    rows.push_back(std::move(entry));
  }
  return rows;
}

std::vector<std::string> OrderLog::memosDue(const std::shared_ptr<IDb>& db) {
  auto sql = std::make_shared<SQL>(
      "select `order_id` from `order_log` as `due` where `step`=? and not exists (select 1 from `order_log` as "
      "`done` where `done`.`order_id`=`due`.`order_id` and `done`.`id`>`due`.`id` and `done`.`step` in (?,?)) "
      "order by `id`");
  sql->bind(std::string(kMemoDue))->bind(std::string(kMemoWritten))->bind(std::string(kMemoFailed));
  std::vector<std::string> numbers;
  std::shared_ptr<IDbResult> found = db->query(sql);
  while (found->next()) numbers.push_back((*found->fetch())["order_id"].toString());
  return numbers;
}

Json::Value OrderLog::toJson(const OrderLogRow& row) {
  Json::Value json(Json::objectValue);
  json["id"] = row.id;
  json["time"] = row.time;
  json["step"] = row.step;
  json["text"] = row.text;
  return json;
}

}  // namespace Quorvel
