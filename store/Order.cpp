#include "store/Order.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>

#include "base/Charset.h"
#include "base/Clock.h"
#include "base/ProcessWide.h"
#include "store/Db.h"
#include "store/Item.h"
#include "store/Savepoint.h"

namespace Quorvel {

namespace {

// The time columns hold seconds as 32-bit numbers.
std::int32_t nowSeconds(const std::shared_ptr<IDb>& db) { return static_cast<std::int32_t>(db->env().clock().now()); }

// `item_id` has INTEGER affinity: the digits bound as text come back as a
// number, of the int64 kind once past 32 bits. A line stored without an item
// id holds the empty text.
std::string itemIdText(const IValue& value) {
  switch (value.kind()) {
    case ValueKind::Int:
      return std::to_string(value.toInt());
    case ValueKind::Int64:
      return std::to_string(value.toInt64());
    default:
      return value.toString();  // raises "Value Type Error!" for NULL and the like
  }
}

// The decimal item id as a JSON integer; 0 when the line has none.
Json::Value itemIdJson(const std::string& itemId) {
  if (itemId.empty() || itemId.size() > 18 || !std::all_of(itemId.begin(), itemId.end(), [](char c) {
        return c >= '0' && c <= '9';
      })) {
    return Json::Value(Json::Int64(0));
  }
  return Json::Value(Json::Int64(std::stoll(itemId)));
}

OrderGoods readGoods(const DbRow& row) {
  OrderGoods line;
  line.item_id = itemIdText(row.at("item_id"));
  line.category_id = row.at("category_id").toInt();
  line.goods_name = row.at("goods_name").toString();
  line.num = row.at("num").toInt();
  line.text_msg = row.at("text_msg").toString();
  return line;
}

// The columns the order list shows.
OrderRecord readListed(const DbRow& row) {
  OrderRecord order;
  order.buyer = row.at("buyer").toString();
  order.buyer_email = row.at("buyer_email").toString();
  order.buyer_ww = row.at("buyer_ww").toString();
  order.order_id = row.at("order_id").toString();
  order.send_msg = row.at("send_msg").toString();
  order.text_msg = row.at("text_msg").toString();
  order.id = row.at("id").toInt();
  order.order_status = static_cast<MarketState>(row.at("order_status").toInt());
  order.status = row.at("status").toInt();
  order.time = row.at("time").toInt();
  return order;
}

// Rows of a pipeline selection: the id, and the order number and detail page
// when the statement names them.
std::vector<OrderRecord> readQueued(const std::shared_ptr<IDbResult>& rows, int status) {
  std::vector<OrderRecord> orders;
  while (rows->next()) {
    std::shared_ptr<DbRow> row = rows->fetch();
    OrderRecord order;
    order.id = row->at("id").toInt();
    order.status = status;
    order.order_url = row->at("order_url").toString();
    if (row->count("order_id") != 0) order.order_id = row->at("order_id").toString();
    orders.push_back(std::move(order));
  }
  return orders;
}

// The characters of a GBK text once stored (UTF-8 in the database).
std::int64_t storedLength(const std::string& text) {
  std::int64_t characters = 0;
  for (unsigned char c : gbkToUtf8(text)) characters += (c & 0xC0) != 0x80;
  return characters;
}

}  // namespace

// A WHERE clause ("" for none) with its values in placeholder order.
struct Order::Condition {
  std::string text;
  std::vector<IValue> values;
};

Order::Reading Order::readingOf(const std::shared_ptr<IDb>& db, const OrderFilter& filter) {
  const bool timed = filter.from != std::numeric_limits<std::int64_t>::min() ||
                     filter.to != std::numeric_limits<std::int64_t>::max();
  if (filter.text.empty() || !timed) return Reading::kIndexes;
  // A text that many orders start with (a buyer's first characters) is
  // tested on the orders of the time range instead; finding that out reads
  // at most kSortedAtMost + 1 entries of the text's indexes.
  OrderFilter text;
  text.text = filter.text;
  const Condition condition = conditionOf(text, Reading::kIndexes);
  auto sql = std::make_shared<SQL>("select count(*) as `num` from (select 1 from `orders`" + condition.text +
                                   " limit " + std::to_string(kSortedAtMost + 1) + ")");
  for (const IValue& value : condition.values) sql->bind(value);
  std::shared_ptr<IDbResult> rows = db->query(sql);
  const int found = rows->next() ? (*rows->fetch())["num"].toInt() : 0;
  return found > kSortedAtMost ? Reading::kTimeRange : Reading::kIndexes;
}

Order::Condition Order::conditionOf(const OrderFilter& filter, Reading reading) {
  const bool walk = reading == Reading::kWalk;
  std::vector<std::string> terms;
  Condition condition;
  const bool timed = filter.from != std::numeric_limits<std::int64_t>::min() ||
                     filter.to != std::numeric_limits<std::int64_t>::max();
  // Which index a search reads: the search text's ranges when there is a
  // text, else the index on (`time`, `status`) when there is a time range,
  // else the status index; none for a walk. A "+" keeps the planner from a
  // column's index, which for a large group or a long range would read most
  // of the table.
  const bool byText = !filter.text.empty() && reading == Reading::kIndexes;
  const std::string status = walk || byText || timed ? "+`status`" : "`status`";
  const std::string time = walk || byText ? "+`time`" : "`time`";
  const std::string indexed = byText ? "" : "+";
  if (!filter.statuses.isAll()) {
    terms.push_back(status + " between ? and ?");
    condition.values.emplace_back(static_cast<std::int32_t>(filter.statuses.low));
    condition.values.emplace_back(static_cast<std::int32_t>(filter.statuses.high));
  }
  if (filter.from != std::numeric_limits<std::int64_t>::min()) {
    terms.push_back(time + ">=?");
    condition.values.emplace_back(filter.from);
  }
  if (filter.to != std::numeric_limits<std::int64_t>::max()) {
    terms.push_back(time + "<?");
    condition.values.emplace_back(filter.to);
  }
  if (!filter.text.empty()) {
    // Every text that starts with `text` sorts between `text` and `text`
    // followed by the greatest character, so each test is one range of an
    // index (`orders_order_id`, `orders_buyer`, `orders_buyer_email`,
    // `items_data`), and the text's characters are never a pattern.
    const std::string startsWith = " between ? and ?||char(1114111)";
    const std::string mark = Item::deliveredMark("");
    terms.push_back("(" + indexed + "`order_id`" + startsWith + " or " + indexed + "`buyer`" + startsWith + " or " +
                    indexed + "`buyer_email`" + startsWith + " or " + indexed + "`order_id` in (select substr(`send_order_id`,?) from `items` where `data1`" + startsWith +
                    " and `send_order_id`" + startsWith + "))");
    for (int k = 0; k < 6; ++k) condition.values.emplace_back(filter.text);
    condition.values.emplace_back(storedLength(mark) + 1);
    condition.values.emplace_back(filter.text);
    condition.values.emplace_back(filter.text);
    condition.values.emplace_back(mark);
    condition.values.emplace_back(mark);
  }
  for (std::size_t k = 0; k < terms.size(); ++k) condition.text += (k == 0 ? " where " : " and ") + terms[k];
  return condition;
}

std::shared_ptr<Order> Order::instance() { return processWide<Order>(); }

std::shared_ptr<Order> Order::makeProcessWide() { return std::shared_ptr<Order>(new Order); }

Order::~Order() = default;

int Order::pageCount(const std::shared_ptr<IDb>& db, int status, int pageSize) { return pageCount(db, StatusRange::of(status), pageSize); }

int Order::pageCount(const std::shared_ptr<IDb>& db, StatusRange statuses, int pageSize) {
  OrderFilter filter;
  filter.statuses = statuses;
  return pageCount(db, filter, pageSize);
}

std::vector<OrderRecord> Order::list(const std::shared_ptr<IDb>& db, int status, int page, int pageSize, int pages) {
  return list(db, StatusRange::of(status), page, pageSize, pages);
}

std::vector<OrderRecord> Order::list(const std::shared_ptr<IDb>& db, StatusRange statuses, int page, int pageSize, int pages) {
  OrderFilter filter;
  filter.statuses = statuses;
  return list(db, filter, page, pageSize, pages);
}

int Order::countOf(const std::shared_ptr<IDb>& db, const OrderFilter& filter) {
  const Condition condition = conditionOf(filter, readingOf(db, filter));
  auto sql = std::make_shared<SQL>("select count(*) as `num` from `orders`" + condition.text);
  for (const IValue& value : condition.values) sql->bind(value);
  std::shared_ptr<IDbResult> rows = db->query(sql);
  return rows->next() ? (*rows->fetch())["num"].toInt() : 0;
}

int Order::pageCount(const std::shared_ptr<IDb>& db, const OrderFilter& filter, int pageSize) {
  pageSize = std::max(pageSize, 1);
  const std::int64_t count = countOf(db, filter);
  return static_cast<int>((count + pageSize - 1) / pageSize);
}

std::vector<OrderRecord> Order::list(const std::shared_ptr<IDb>& db, const OrderFilter& filter, int page, int pageSize, int pages) {
  pageSize = std::max(pageSize, 1);
  int p = std::max(page - 1, 0);
  if (p >= pages) p = pages - 1;
  // No page at all (pages 0) reads from the start.
  const std::int64_t offset = std::max<std::int64_t>(static_cast<std::int64_t>(p) * pageSize, 0);
  return read(db, filter, offset, pageSize, static_cast<std::int64_t>(pages) * pageSize > kSortedAtMost);
}

std::vector<OrderRecord> Order::matching(const std::shared_ptr<IDb>& db, const OrderFilter& filter, int limit) {
  return read(db, filter, 0, std::max(limit, 0), countOf(db, filter) > kSortedAtMost);
}

std::vector<OrderRecord> Order::read(const std::shared_ptr<IDb>& db, const OrderFilter& filter, std::int64_t offset,
                                     int count, bool walk) {
  const Condition condition = conditionOf(filter, walk ? Reading::kWalk : readingOf(db, filter));
  // A few orders are found through an index and sorted ("+": without it the
  // planner, not knowing how many the limit takes, would walk the table);
  // many are met soon enough walking the table from the newest.
  const std::string order = walk || condition.text.empty() ? " order by `id` desc" : " order by +`id` desc";
  auto sql = std::make_shared<SQL>("select * from `orders`" + condition.text + order + " limit ?,?");
  for (const IValue& value : condition.values) sql->bind(value);
  sql->bind(offset)->bind(static_cast<std::int64_t>(count));
  std::vector<OrderRecord> orders;
  std::shared_ptr<IDbResult> rows = db->query(sql);
  while (rows->next()) orders.push_back(readListed(*rows->fetch()));
  rows.reset();
  for (OrderRecord& order : orders) order.goods = loadOrderGoods(db, order.id);
  return orders;
}

std::vector<Order::Outcomes> Order::outcomesBetween(const std::shared_ptr<IDb>& db, const std::vector<std::int64_t>& boundaries) {
  if (boundaries.size() < 2) return {};
  std::vector<Outcomes> periods(boundaries.size() - 1);
  std::shared_ptr<IDbResult> rows = db->query(
      std::make_shared<SQL>("select `time`,`status` from `orders` where `time`>=? and "
                            "`time`<? and (`status`=? or `status`>=?)")
          ->bind(boundaries.front())
          ->bind(boundaries.back())
          ->bind(static_cast<int>(kOrderDelivered))
          ->bind(static_cast<int>(kOrderFailed)));
  while (rows->next()) {
    const std::int64_t time = rows->intAt(0);
    const int status = rows->intAt(1);
    const auto after = std::upper_bound(boundaries.begin(), boundaries.end(), time);
    Outcomes& period = periods[static_cast<std::size_t>(after - boundaries.begin()) - 1];
    ++(status == kOrderDelivered ? period.delivered : period.failed);
  }
  return periods;
}

std::vector<OrderGoods> Order::goodsOf(const std::shared_ptr<IDb>& db, int orderId) { return loadOrderGoods(db, orderId); }

std::vector<OrderGoods> Order::loadOrderGoods(const std::shared_ptr<IDb>& db, int orderId) {
  std::vector<OrderGoods> lines;
  std::shared_ptr<IDbResult> rows =
      db->query(std::make_shared<SQL>("select * from `order_goods` where `o_id`=?")->bind(orderId));
  while (rows->next()) lines.push_back(readGoods(*rows->fetch()));
  return lines;
}

void Order::remove(const std::shared_ptr<IDb>& db, int orderId) {
  // Both deletes or neither: a failure rolls the unit back and reaches the
  // caller, so the page can say the order is still there. The unit writes
  // first, so it holds the write lock before it reads.
  Savepoint unit(db);
  db->execute(std::make_shared<SQL>("insert or replace into `deleted_orders` (`order_id`,`time`) select `order_id`, ? "
                                    "from `orders` where `id`=? and `status`<>?")
                  ->bind(nowSeconds(db))
                  ->bind(orderId)
                  ->bind(static_cast<int>(kOrderDelivering)));
  auto sql = std::make_shared<SQL>("delete from `orders` where `id`=? and `status`<>?");
  db->execute(sql->bind(orderId)->bind(static_cast<int>(kOrderDelivering)));
  if (statusOf(db, orderId) == kOrderDelivering) throw Exception(gbk("该订单正在发货中，请等发货结束后再删除。"));
  sql = std::make_shared<SQL>("delete from `order_goods` where `o_id`=?");
  db->execute(sql->bind(orderId));
  unit.release();
}

std::vector<Order::DeletedOrder> Order::deletedOrders(const std::shared_ptr<IDb>& db, int limit) {
  std::vector<DeletedOrder> list;
  std::shared_ptr<IDbResult> rows = db->query(
      std::make_shared<SQL>("select `order_id`, `time` from `deleted_orders` order by `time` desc, `rowid` desc limit ?")
          ->bind(limit));
  while (rows->next()) {
    auto row = rows->fetch();
    list.push_back({(*row)["order_id"].toString(), (*row)["time"].toInt()});
  }
  return list;
}

bool Order::forgetDeleted(const std::shared_ptr<IDb>& db, const std::string& orderId) {
  std::shared_ptr<IDbResult> rows = db->query(
      std::make_shared<SQL>("select count(*) as `num` from `deleted_orders` where `order_id`=?")->bind(orderId));
  const bool kept = rows->next() && (*rows->fetch())["num"].toInt() > 0;
  rows.reset();
  if (kept) db->execute(std::make_shared<SQL>("delete from `deleted_orders` where `order_id`=?")->bind(orderId));
  return kept;
}

void Order::reset(const std::shared_ptr<IDb>& db, int orderId) {
  Savepoint unit(db);
  db->execute(std::make_shared<SQL>(
                  "update `orders` set `status`=1 , `text_msg`='' , `send_msg`='' where `id`=? and `status`<>?")
                  ->bind(orderId)
                  ->bind(static_cast<int>(kOrderDelivering)));
  if (statusOf(db, orderId) == kOrderDelivering) throw Exception(gbk("该订单正在发货中，请等发货结束后再重新发货。"));
  unit.release();
}

Json::Value Order::toJson(const OrderRecord& order) {
  Json::Value json(Json::objectValue);
  json["id"] = order.id;
  json["order_id"] = order.order_id;
  json["status"] = order.status;
  json["order_status"] = static_cast<int>(order.order_status);
  json["time"] = order.time;
  json["buyer"] = order.buyer;
  json["buyer_mail"] = order.buyer_email;
  json["buyer_ww"] = order.buyer_ww;
  json["send_msg"] = order.send_msg;
  json["text_msg"] = order.text_msg;
  Json::Value goods(Json::arrayValue);
  for (const OrderGoods& line : order.goods) {
    Json::Value item(Json::objectValue);
    item["category_id"] = line.category_id;
    item["item_id"] = itemIdJson(line.item_id);
    item["num"] = line.num;
    item["name"] = line.goods_name;
    goods.append(item);
  }
  json["goods"] = goods;
  return json;
}

int Order::idOf(const std::shared_ptr<IDb>& db, const std::string& orderId) {
  std::shared_ptr<IDbResult> rows =
      db->query(std::make_shared<SQL>("select `id` from `orders` where `order_id`=?")->bind(orderId));
  if (!rows->next()) return -1;
  return (*rows->fetch())["id"].toInt();
}

bool Order::addFound(const std::shared_ptr<IDb>& db, const std::string& orderId, const std::string& url) {
  // Every tick lists the orders already recorded: look the number up rather
  // than let the unique index refuse a second row.
  if (idOf(db, orderId) >= 0) return false;
  std::shared_ptr<IDbResult> deleted = db->query(
      std::make_shared<SQL>("select count(*) as `num` from `deleted_orders` where `order_id`=?")->bind(orderId));
  const bool wasDeleted = deleted->next() && (*deleted->fetch())["num"].toInt() > 0;
  deleted.reset();
  if (wasDeleted) return false;
  try {
    db->execute(std::make_shared<SQL>("insert into `orders` (`order_id`,`order_url`,`time`) values( ? , ? , ?)")
                    ->bind(orderId)
                    ->bind(url)
                    ->bind(nowSeconds(db)));
  } catch (DbException e) {
    // Another connection (a replaced worker finishing its tick) recorded the
    // same number between the look-up and the insert.
    if ((e.code() & 0xff) != SQLITE_CONSTRAINT) throw;
    return false;
  }
  return true;
}

std::vector<OrderRecord> Order::found(const std::shared_ptr<IDb>& db) {
  return readQueued(db->query("select `id`, `order_url` from `orders` where `status` = 0 order by `id` asc"), 0);
}

bool Order::storeDetails(const std::shared_ptr<IDb>& db, const OrderInfo& order) {
  std::shared_ptr<IDbResult> stored =
      db->query(std::make_shared<SQL>("select `id` from `orders` where `id`=?")->bind(order.id));
  if (!stored->next()) return false;
  stored.reset();
  auto sql = std::make_shared<SQL>(
      "update `orders` set `alipay_id`=?, `status` = ? , `order_status` = ? , `buyer`=? , `buyer_email`=? , "
      "`buyer_ww` = ? , `time` = ? where `id` = ?");
  sql->bind(order.alipay_id)->bind(1)->bind(static_cast<int>(order.order_status))->bind(order.buyer)->bind(order.buyer_email);
  sql->bind(order.buyer_ww)->bind(nowSeconds(db))->bind(order.id);
  db->execute(sql);
  sql->setSql("delete from `order_goods` where `o_id`=?");
  db->execute(sql->bind(order.id));
  for (const OrderGoods& line : order.goods) {
    sql->setSql(
        "insert into `order_goods` ( `o_id` , `item_id` , `category_id` , `goods_name` , `num` , `text_msg` ) "
        "values(?,?,?,?,?,?)");
    sql->bind(order.id)->bind(line.item_id)->bind(line.category_id)->bind(line.goods_name)->bind(line.num);
    db->execute(sql->bind(line.text_msg));
  }
  return true;
}

std::vector<OrderRecord> Order::detailsRead(const std::shared_ptr<IDb>& db) {
  return readQueued(
      db->query("select `id`, `order_id` , `order_url` from `orders` where `status` = 1 order by `id` asc"), 1);
}

std::vector<OrderRecord> Order::delivering(const std::shared_ptr<IDb>& db) {
  return readQueued(
      db->query("select `id`, `order_id` , `order_url` from `orders` where `status` = 3 order by `id` asc"),
      kOrderDelivering);
}

OrderRecord Order::get(const std::shared_ptr<IDb>& db, int orderId) {
  std::shared_ptr<IDbResult> rows =
      db->query(std::make_shared<SQL>("select * from `orders` where `id`=?")->bind(orderId));
  if (!rows->next()) return OrderRecord();
  std::shared_ptr<DbRow> row = rows->fetch();
  OrderRecord order = readListed(*row);
  order.order_url = row->at("order_url").toString();
  order.alipay_id = row->at("alipay_id").toString();
  return order;
}

int Order::statusOf(const std::shared_ptr<IDb>& db, int orderId) {
  std::shared_ptr<IDbResult> rows =
      db->query(std::make_shared<SQL>("select `status` from `orders` where `id`=?")->bind(orderId));
  return rows->next() ? (*rows->fetch())["status"].toInt() : -1;
}

void Order::setLineTexts(const std::shared_ptr<IDb>& db, int orderId, const std::vector<std::string>& texts) {
  // Lines have no id of their own: they are told apart by their row ids, in
  // the order loadOrderGoods reads them.
  std::vector<std::int64_t> rowIds;
  std::shared_ptr<IDbResult> rows = db->query(
      std::make_shared<SQL>("select `rowid` as `line` from `order_goods` where `o_id`=? order by `rowid`")
          ->bind(orderId));
  while (rows->next()) {
    std::shared_ptr<DbRow> row = rows->fetch();
    const IValue& line = (*row)["line"];
    rowIds.push_back(line.kind() == ValueKind::Int ? line.toInt() : line.toInt64());
  }
  rows.reset();
  auto sql = std::make_shared<SQL>("");
  for (size_t k = 0; k < rowIds.size(); ++k) {
    sql->setSql("update `order_goods` set `text_msg`=? where `rowid`=?");
    db->execute(sql->bind(k < texts.size() ? texts[k] : std::string())->bind(rowIds[k]));
  }
}

void Order::setStatus(const std::shared_ptr<IDb>& db, int orderId, int status) {
  db->execute(std::make_shared<SQL>("update `orders` set `status` = ? where `id`=?")->bind(status)->bind(orderId));
}

void Order::setDeliveryText(const std::shared_ptr<IDb>& db, int orderId, const std::string& textMsg,
                            const std::string& sendMsg) {
  db->execute(std::make_shared<SQL>("update `orders` set `text_msg`=? , `send_msg`=? , `time`=? where `id`=?")
                  ->bind(textMsg)
                  ->bind(sendMsg)
                  ->bind(nowSeconds(db))
                  ->bind(orderId));
}

void Order::setFailed(const std::shared_ptr<IDb>& db, int orderId, int status, const std::string& reason) {
  db->execute(std::make_shared<SQL>("update `orders` set `status` = ? , `text_msg` = ? where `id`=?")
                  ->bind(status)
                  ->bind(reason)
                  ->bind(orderId));
}

void Order::setReleased(const std::shared_ptr<IDb>& db, int orderId, int status, const std::string& reason) {
  db->execute(std::make_shared<SQL>("update `orders` set `status` = ? , `text_msg` = ? , `send_msg` = '' where `id`=?")
                  ->bind(status)
                  ->bind(reason)
                  ->bind(orderId));
  db->execute(std::make_shared<SQL>("update `order_goods` set `text_msg`='' where `o_id`=?")->bind(orderId));
}

}  // namespace Quorvel
