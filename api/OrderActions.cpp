#include "api/OrderActions.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <string_view>

#include "api/ActionDispatch.h"
#include "api/ItemActions.h"
#include "api/RequestIds.h"
#include "api/SubActions.h"
#include "base/Charset.h"
#include "base/Exception.h"
#include "base/GbkText.h"
#include "delivery/OrderStatusText.h"
#include "port/LocalTime.h"
#include "store/Db.h"
#include "store/Item.h"
#include "store/Order.h"
#include "store/OrderLog.h"
#include "store/OrderStatus.h"
#include "store/Savepoint.h"

namespace Quorvel {

namespace {

// The orders to list: the post parameter `status` exactly when it is sent at
// all (an empty value is 0); else the group named by `group`; else every
// order. An unknown group is refused.
StatusRange statusFilter(const ActionContext& context) {
  if (context.hasPostParam("status")) return StatusRange::exactly(toNumber(context.postParam("status")));
  if (!context.hasPostParam("group")) return StatusRange::all();
  static const std::map<std::string, StatusRange> groups = {
      {"new", StatusRange::exactly(kOrderFound)},
      {"waiting", StatusRange::exactly(kOrderDetailsRead)},
      {"delivering", StatusRange::exactly(kOrderDelivering)},
      {"delivered", StatusRange::exactly(kOrderDelivered)},
      {"failed", StatusRange{kOrderFailed, std::numeric_limits<int>::max()}},
      {"all", StatusRange::all()},
  };
  auto found = groups.find(context.postParam("group"));
  if (found == groups.end()) {
    throw Exception(gbk("未知的订单分组：") + context.postParam("group").substr(0, 40) +
                    gbk("（可选 new、waiting、delivering、delivered、failed、all）"));
  }
  return found->second;
}

constexpr std::size_t kMaxDateBytes = 10;

// The post parameter `name` as a local date "YYYY-MM-DD" (a real day), or
// nothing when it is empty.
std::optional<port::LocalDate> dateParam(const ActionContext& context, const std::string& name, const char* label) {
  const std::string& text = context.postParam(name);
  if (text.empty()) return std::nullopt;
  port::LocalDate date;
  const bool shaped = text.size() == kMaxDateBytes && text[4] == '-' && text[7] == '-' &&
                      std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
  if (shaped) {
    date = {std::stoi(text.substr(0, 4)), std::stoi(text.substr(5, 2)), std::stoi(text.substr(8, 2))};
    const port::LocalDate back = port::localDateOf(port::localDayStart(date));
    if (date.year >= 1970 && back.year == date.year && back.month == date.month && back.day == date.day) return date;
  }
  throw Exception(gbk(label) + gbk("必须是“年-月-日”格式的日期（例如 2026-12-08）：") +
                  gbkPrefix(text, 20) + gbk("，未查询。"));
}

// The orders the request asks for: the group or status of statusFilter, the
// text `q` (spaces around it dropped), and the local days `from` to `to`,
// both included.
OrderFilter filterOf(const ActionContext& context) {
  OrderFilter filter;
  filter.statuses = statusFilter(context);
  std::string text = context.postParam("q");
  const std::size_t first = text.find_first_not_of(" \t");
  text = first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t") + 1 - first);
  if (text.size() > OrderFilter::kMaxTextBytes) {
    throw Exception(gbk("搜索内容太长（最多 ") + std::to_string(OrderFilter::kMaxTextBytes) + gbk(" 字节），未查询。"));
  }
  filter.text = text;
  const std::optional<port::LocalDate> from = dateParam(context, "from", "开始日期");
  const std::optional<port::LocalDate> to = dateParam(context, "to", "结束日期");
  if (from) filter.from = port::localDayStart(*from);
  if (to) filter.to = port::localDayStart({to->year, to->month, to->day + 1});
  if (from && to && filter.from >= filter.to) throw Exception(gbk("开始日期晚于结束日期，未查询。"));
  return filter;
}

// Every number at least 1; a page past the last shows the last page, and no
// matching order answers page 0 with a null list. Each order carries its
// status in words ("status_text"). The count and the page come from one
// snapshot.
void listOrders(ActionContext& context, Json::Value& reply) {
  const OrderFilter filter = filterOf(context);
  const int pageSize = std::max(toNumber(context.postParam("page_num")), 1);
  int page = std::max(toNumber(context.postParam("page")), 1);
  std::shared_ptr<Order> orders = Order::instance();
  Savepoint snapshot(context.db);
  const int pages = orders->pageCount(context.db, filter, pageSize);
  page = std::min(page, pages);
  const std::vector<OrderRecord> shown = orders->list(context.db, filter, page, pageSize, pages);
  snapshot.release();
  Json::Value list;  // null when there is no order
  for (const OrderRecord& order : shown) {
    Json::Value json = Order::toJson(order);
    json["status_text"] = orderStatusText(order.status);
    list.append(std::move(json));
  }
  reply["LIST"] = std::move(list);
  reply["PAGE_NUM"] = pageSize;
  reply["PAGE"] = page;
  reply["PAGE_MAX"] = pages;
}

// The categories of the order's goods lines.
std::vector<int> categoriesOf(const OrderRecord& order) {
  std::vector<int> categories;
  for (const OrderGoods& line : order.goods) {
    if (line.category_id != 0) categories.push_back(line.category_id);
  }
  return categories;
}

// A text from the marketplace (buyer, e-mail, goods title) that a
// spreadsheet would run as a formula is shown as text.
std::string plainCell(const std::string& text) {
  if (!text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos) return "'" + text;
  return text;
}

// "YYYY-MM-DD HH:MM:SS" in local time.
std::string localTimeText(std::int64_t seconds) {
  const port::LocalDate date = port::localDateOf(seconds);
  const std::int64_t into = std::clamp<std::int64_t>(seconds - port::localDayStart(date), 0, 86399);
  char clock[16];
  std::snprintf(clock, sizeof clock, " %02d:%02d:%02d", static_cast<int>(into / 3600),
                static_cast<int>(into / 60 % 60), static_cast<int>(into % 60));
  return port::dateText(date) + clock;
}

// The orders of the request's filter (as "lst") as CSV, newest first, the
// first kMaxExported of them; "COUNT" of them in "CSV", "TOTAL" matching.
constexpr int kMaxExported = 50000;

void exportOrders(ActionContext& context, Json::Value& reply) {
  const OrderFilter filter = filterOf(context);
  std::shared_ptr<Order> orders = Order::instance();
  std::shared_ptr<Item> items = Item::instance();
  Savepoint snapshot(context.db);
  const int total = orders->countOf(context.db, filter);
  const std::vector<OrderRecord> chosen = orders->matching(context.db, filter, kMaxExported);
  std::string csv = gbk("时间,订单号,买家,买家邮箱,宝贝,状态,发货卡密\r\n");
  for (const OrderRecord& order : chosen) {
    std::string goods;
    for (const OrderGoods& line : order.goods) {
      if (!goods.empty()) goods += "\n";
      goods += plainCell(line.goods_name) + gbk(" × ") + std::to_string(line.num);
    }
    std::string cards;
    for (const CardRecord& card : items->cardsOfOrder(context.db, order.order_id, categoriesOf(order))) {
      if (!cards.empty()) cards += "\n";
      std::string shown = card.data1;
      for (const std::string* more : {&card.data2, &card.data3}) {
        if (!more->empty()) shown += " " + *more;
      }
      cards += shown;
    }
    csv += csvField(localTimeText(order.time)) + "," + csvField(order.order_id) + "," +
           csvField(plainCell(order.buyer)) + "," + csvField(plainCell(order.buyer_email)) + "," + csvField(goods) +
           "," + csvField(orderStatusText(order.status)) + "," + csvField(cards) + "\r\n";
  }
  snapshot.release();
  reply["CSV"] = std::move(csv);
  reply["COUNT"] = static_cast<int>(chosen.size());
  reply["TOTAL"] = total;
}

// The cards that went out with the order `id` (or are reserved for it), in
// id order: "LIST" (an array, empty when none) and the order number as
// "ORDER_ID". An id without an order is refused.
void orderCards(ActionContext& context, Json::Value& reply) {
  const int id = requireId(context, "id");
  OrderRecord order = Order::instance()->get(context.db, id);
  if (order.id == 0) throw Exception(gbk("订单不存在（ID ") + std::to_string(id) + gbk("），可能已被删除。"));
  order.goods = Order::instance()->goodsOf(context.db, id);
  Json::Value list(Json::arrayValue);
  for (const CardRecord& card : Item::instance()->cardsOfOrder(context.db, order.order_id, categoriesOf(order))) {
    list.append(cardJson(card));
  }
  reply["ORDER_ID"] = order.order_id;
  reply["LIST"] = std::move(list);
}

// A delete that fails answers "SUCCESS": 0 with the reason; an id without an
// order deletes nothing and succeeds.
void removeOrder(ActionContext& context, Json::Value&) { Order::instance()->remove(context.db, requireId(context, "id")); }

void resetOrder(ActionContext& context, Json::Value&) { Order::instance()->reset(context.db, requireId(context, "id")); }

// The order numbers the seller deleted, newest first (at most 500): "LIST"
// of {"order_id", "time"}. A deleted order stays away however often the
// marketplace lists it, until "undelete" with its `order_id`.
void deletedOrders(ActionContext& context, Json::Value& reply) {
  Json::Value list(Json::arrayValue);
  for (const Order::DeletedOrder& row : Order::instance()->deletedOrders(context.db, 500)) {
    Json::Value item(Json::objectValue);
    item["order_id"] = row.order_id;
    item["time"] = static_cast<Json::Int64>(row.time);
    list.append(std::move(item));
  }
  reply["LIST"] = std::move(list);
}

void undeleteOrder(ActionContext& context, Json::Value&) {
  const std::string number = context.postParam("order_id");
  if (number.empty() || number.size() > 64) throw Exception(gbk("请给出订单号。"));
  if (!Order::instance()->forgetDeleted(context.db, number)) {
    throw Exception(gbk("订单 ") + number + gbk(" 不在已删除的订单中。"));
  }
}

// The order's delivery log, oldest step first: "LIST" (an array, empty when
// nothing happened yet) and the marketplace number as "ORDER_ID". An id
// without an order is refused.
void orderLog(ActionContext& context, Json::Value& reply) {
  const int id = requireId(context, "id");
  const OrderRecord order = Order::instance()->get(context.db, id);
  if (order.id == 0) throw Exception(gbk("订单不存在（ID ") + std::to_string(id) + gbk("），可能已被删除。"));
  Json::Value list(Json::arrayValue);
  for (const OrderLogRow& row : OrderLog::instance()->of(context.db, order.order_id)) list.append(OrderLog::toJson(row));
  reply["ORDER_ID"] = order.order_id;
  reply["LIST"] = std::move(list);
}

void order(ActionContext& context) {
  static const SubActionTable table = {
      {"lst", listOrders},
      {"del", removeOrder},
      {"reset", resetOrder},
      {"log", orderLog},
      {"export", exportOrders},
      {"cards", orderCards},
      {"deleted", deletedOrders},
      {"undelete", undeleteOrder},
  };
  answerSubAction(context, table);
}

}  // namespace

void registerOrderActions(const Env& env) { registerAction(env, "order", order); }

}  // namespace Quorvel
