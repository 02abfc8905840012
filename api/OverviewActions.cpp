#include "api/OverviewActions.h"

#include <json/value.h>

#include <cstdint>
#include <vector>

#include "api/ActionDispatch.h"
#include "base/Clock.h"
#include "port/LocalTime.h"
#include "store/Category.h"
#include "store/Db.h"
#include "store/Order.h"
#include "store/OrderStatus.h"
#include "store/Savepoint.h"
#include "store/SystemConfig.h"

namespace Quorvel {

namespace {

Json::Value outcomeJson(const Order::Outcomes& outcomes) {
  Json::Value json(Json::objectValue);
  json["DELIVERED"] = outcomes.delivered;
  json["FAILED"] = outcomes.failed;
  return json;
}

// The orders of the last kOverviewDays local days and the waiting ones.
void orderFigures(Clock& clock, const std::shared_ptr<IDb>& db, Json::Value& reply) {
  const port::LocalDate today = port::localDateOf(clock.now());
  std::vector<std::int64_t> boundaries;
  std::vector<std::string> days;
  for (int back = kOverviewDays - 1; back >= -1; --back) {
    const std::int64_t start = port::localDayStart({today.year, today.month, today.day - back});
    boundaries.push_back(start);
    if (back >= 0) days.push_back(port::dateText(port::localDateOf(start)));
  }
  std::shared_ptr<Order> orders = Order::instance();
  Savepoint snapshot(db);  // every figure from one state of the table
  const std::vector<Order::Outcomes> perDay = orders->outcomesBetween(db, boundaries);
  const int waiting = orders->pageCount(db, StatusRange{kOrderFound, kOrderDetailsRead}, 1) +
                      orders->pageCount(db, StatusRange::exactly(kOrderDelivering), 1);
  snapshot.release();

  Json::Value list(Json::arrayValue);
  for (std::size_t k = 0; k < perDay.size(); ++k) {
    Json::Value day = outcomeJson(perDay[k]);
    day["DAY"] = days[k];
    list.append(std::move(day));
  }
  Json::Value todays = outcomeJson(perDay.back());
  todays["WAITING"] = waiting;
  reply["TODAY"] = std::move(todays);
  reply["DAYS"] = std::move(list);
}

void stockFigures(Json::Value& reply) {
  const int threshold = SystemConfig::instance()->number("notice_store_num");
  Json::Value stock(Json::arrayValue);
  for (const CategoryRecord& record : Category::instance()->all()) {
    Json::Value row(Json::objectValue);
    row["id"] = record.id;
    row["name"] = record.name;
    row["store_num"] = record.store_num;
    row["store_total_num"] = record.store_total_num;
    row["low"] = record.store_num < threshold;
    stock.append(std::move(row));
  }
  reply["STOCK"] = std::move(stock);
  reply["LOW_STOCK"] = threshold;
}

}  // namespace

void getOverview(ActionContext& context) {
  Json::Value reply(Json::objectValue);
  reply["SUCCESS"] = 1;
  context.answerJsonp(reply, [&context](Json::Value& reply) {
    orderFigures(context.env.clock(), context.db, reply);
    stockFigures(reply);
  });
}

}  // namespace Quorvel
