#include "api/OrderActions.h"

#include <algorithm>
#include <limits>
#include <map>

#include "api/RequestIds.h"
#include "api/SubActions.h"
#include "base/Charset.h"
#include "base/Codes.h"
#include "base/Exception.h"
#include "server/ActionTable.h"
#include "store/Db.h"
#include "store/Order.h"
#include "store/OrderLog.h"

namespace Quorvel {

namespace {

// The orders to list: the post parameter `status` exactly when it is sent at
// all (an empty value is 0); else the group named by `group`; else every
// order. An unknown group is refused.
StatusRange statusFilter() {
  if (currentRequest->post.count("status") != 0) return StatusRange::exactly(toNumber(postParam("status")));
  if (currentRequest->post.count("group") == 0) return StatusRange::all();
  static const std::map<std::string, StatusRange> groups = {
      {"new", StatusRange::exactly(kOrderFound)},
      {"waiting", StatusRange::exactly(kOrderDetailsRead)},
      {"delivering", StatusRange::exactly(kOrderDelivering)},
      {"delivered", StatusRange::exactly(kOrderDelivered)},
      {"failed", StatusRange{kOrderFailed, std::numeric_limits<int>::max()}},
      {"all", StatusRange::all()},
  };
  auto found = groups.find(postParam("group"));
  if (found == groups.end()) {
    throw Exception(gbk("未知的订单分组：") + postParam("group").substr(0, 40) +
                    gbk("（可选 new、waiting、delivering、delivered、failed、all）"));
  }
  return found->second;
}

// Every number at least 1; a page past the last shows the last page, and no
// matching order answers page 0 with a null list. Each order carries its
// status in words ("status_text").
void listOrders(Json::Value& reply) {
  const StatusRange statuses = statusFilter();
  const int pageSize = std::max(toNumber(postParam("page_num")), 1);
  int page = std::max(toNumber(postParam("page")), 1);
  std::shared_ptr<Order> orders = Order::instance();
  const int pages = orders->pageCount(statuses, pageSize);
  page = std::min(page, pages);
  Json::Value list;  // null when there is no order
  for (const OrderRecord& order : orders->list(statuses, page, pageSize, pages)) {
    Json::Value json = Order::toJson(order);
    json["status_text"] = Order::statusText(order.status);
    list.append(std::move(json));
  }
  reply["LIST"] = list;
  reply["PAGE_NUM"] = pageSize;
  reply["PAGE"] = page;
  reply["PAGE_MAX"] = pages;
}

// A delete that fails answers "SUCCESS": 0 with the reason; an id without an
// order deletes nothing and succeeds.
void removeOrder(Json::Value&) { Order::instance()->remove(requireId("id")); }

void resetOrder(Json::Value&) { Order::instance()->reset(requireId("id")); }

// The order's delivery log, oldest step first: "LIST" (an array, empty when
// nothing happened yet) and the marketplace number as "ORDER_ID". An id
// without an order is refused.
void orderLog(Json::Value& reply) {
  const int id = requireId("id");
  const OrderRecord order = Order::instance()->get(getDb(), id);
  if (order.id == 0) throw Exception(gbk("订单不存在：") + std::to_string(id));
  Json::Value list(Json::arrayValue);
  for (const OrderLogRow& row : OrderLog::instance()->of(order.order_id)) list.append(OrderLog::toJson(row));
  reply["ORDER_ID"] = order.order_id;
  reply["LIST"] = list;
}

void order() {
  static const SubActionTable table = {
      {"lst", listOrders},
      {"del", removeOrder},
      {"reset", resetOrder},
      {"log", orderLog},
  };
  answerSubAction(table);
}

}  // namespace

void registerOrderActions() { registerAction("order", order); }

}  // namespace Quorvel
