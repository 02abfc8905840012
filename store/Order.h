// Order: the paid marketplace orders the program handles, table `orders`,
// with one row of `order_goods` per goods line. The order pipeline records
// every paid order it finds, stores its details, and advances it through the
// processing statuses (OrderStatus in store/OrderStatus.h); the web UI pages through
// the orders, deletes them and sends one back for another delivery.
//
// Every statement on the two tables is here. No cache. Every operation works
// on the connection it is given: the web action's, or the one of the thread
// that runs the pipeline (the order worker's), so that it belongs to
// whatever transaction is open there. Any thread may
// call any operation; SQLite's locking (with the busy timeout) is the only
// coordination between the server thread and the order worker.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "store/OrderStatus.h"

namespace Quorvel {

class IDb;

// One goods line of an order.
struct OrderGoods {
  std::string item_id;  // marketplace item id (decimal digits; empty when the page gave none)
  std::string goods_name;
  int num = 0;           // quantity bought
  std::string text_msg;  // the line's delivery text
  int category_id = 0;   // bound card category; 0 = none
};

// One order as the pipeline handles it: all numbers 0 and all texts empty by
// default.
struct OrderInfo {
  int id = 0;  // `orders`.`id`
  std::string order_id;  // marketplace order number
  std::string alipay_id;  // payment transaction number
  MarketState order_status = MarketState::kUnknown;  // the marketplace's own state
  int status = 0;        // processing status
  std::vector<OrderGoods> goods;
  std::string send_msg;
  std::string text_msg;
  std::string buyer;
  std::string buyer_email;
  std::string buyer_ww;
};

// One row of `orders` with its goods lines.
struct OrderRecord : OrderInfo {
  std::string order_url;  // the order's detail page
  int time = 0;           // seconds since 1970, as stored
};

// The processing statuses an order list shows: from `low` to `high`, both
// included.
struct StatusRange {
  int low = std::numeric_limits<int>::min();
  int high = std::numeric_limits<int>::max();
  // Every order.
  static StatusRange all() { return {}; }
  static StatusRange exactly(int status) { return {status, status}; }
  // -1: every order; any other number: that status.
  static StatusRange of(int status) { return status == -1 ? all() : exactly(status); }
  bool isAll() const { return *this == all(); }
  bool operator==(const StatusRange&) const = default;
};

// The orders a list, a count or an export shows: processing statuses, a
// range of order times, and a search text; by default every order.
struct OrderFilter {
  StatusRange statuses;
  std::int64_t from = std::numeric_limits<std::int64_t>::min();  // `time` at least this
  std::int64_t to = std::numeric_limits<std::int64_t>::max();    // `time` below this
  // Empty: no condition. Else an order whose number, buyer or buyer e-mail
  // starts with this text (GBK), or that received a delivered card whose
  // data1 starts with it. Compared character for character, case included;
  // no character is a wildcard. Each of the four is an index range.
  std::string text;
  static constexpr std::size_t kMaxTextBytes = 100;
};

class Order {
 public:
  // The store (processWide), built on first use.
  static std::shared_ptr<Order> instance();
  static std::shared_ptr<Order> makeProcessWide();

  virtual ~Order();

  // The web UI's side, on the connection it is given.

  // Pages of `pageSize` (below 1 counts as 1) the orders of processing
  // status `status` fill, rounded up; -1 counts every order.
  int pageCount(const std::shared_ptr<IDb>& db, int status, int pageSize);
  int pageCount(const std::shared_ptr<IDb>& db, StatusRange statuses, int pageSize);
  // Page `page` (from 1; below 1 the first, past `pages` the last) of those
  // orders, newest first, each with its goods lines; `pages` is pageCount
  // with the same page size.
  std::vector<OrderRecord> list(const std::shared_ptr<IDb>& db, int status, int page, int pageSize, int pages);
  std::vector<OrderRecord> list(const std::shared_ptr<IDb>& db, StatusRange statuses, int page, int pageSize, int pages);
  // The same for the orders `filter` lets through, newest first.
  int pageCount(const std::shared_ptr<IDb>& db, const OrderFilter& filter, int pageSize);
  std::vector<OrderRecord> list(const std::shared_ptr<IDb>& db, const OrderFilter& filter, int page, int pageSize, int pages);
  // How many orders `filter` lets through.
  int countOf(const std::shared_ptr<IDb>& db, const OrderFilter& filter);
  // The first `limit` of them, newest first, each with its goods lines.
  std::vector<OrderRecord> matching(const std::shared_ptr<IDb>& db, const OrderFilter& filter, int limit);
  // The goods lines of the order, in table order.
  std::vector<OrderGoods> goodsOf(const std::shared_ptr<IDb>& db, int orderId);

  // Orders delivered (status 2) and failed (any failure) per period: period
  // k runs from boundaries[k] (included) to boundaries[k + 1] (excluded),
  // by the orders' `time`. The boundaries ascend; n boundaries make n - 1
  // periods. Read from the index on (`time`, `status`) alone.
  struct Outcomes {
    int delivered = 0;
    int failed = 0;
  };
  std::vector<Outcomes> outcomesBetween(const std::shared_ptr<IDb>& db, const std::vector<std::int64_t>& boundaries);
  // Deletes the order and its goods lines together, and keeps its number
  // among the deleted ones, so that the marketplace listing it again as paid
  // does not bring it back (addFound) until forgetDeleted. A failure raises
  // and leaves the tables unchanged; an id without an order changes nothing.
  // An order being delivered (status 3: its cards are reserved and the
  // marketplace may be shipping it) is refused with an Exception.
  void remove(const std::shared_ptr<IDb>& db, int orderId);
  struct DeletedOrder {
    std::string order_id;
    std::int64_t time = 0;  // when it was deleted
  };
  // The numbers kept by remove, newest first, at most `limit`.
  std::vector<DeletedOrder> deletedOrders(const std::shared_ptr<IDb>& db, int limit);
  // Lets the number be recorded again by the next tick that lists it;
  // false when it was not kept.
  bool forgetDeleted(const std::shared_ptr<IDb>& db, const std::string& orderId);
  // Puts the order back to status 1 with both message texts emptied, so the
  // delivery takes it up again; its goods lines stay. An order being
  // delivered (status 3) is refused with an Exception, changing nothing.
  void reset(const std::shared_ptr<IDb>& db, int orderId);

  // {"id", "order_id", "status", "order_status", "time", "buyer",
  //  "buyer_mail" (the buyer's e-mail), "buyer_ww", "send_msg", "text_msg",
  //  "goods": [{"category_id", "item_id" (a 64-bit integer), "num", "name"}]}
  static Json::Value toJson(const OrderRecord& order);

  // The pipeline's side, on the connection `db` of the calling thread.

  // The row id of the order with marketplace number `orderId`; -1 when it is
  // not recorded.
  int idOf(const std::shared_ptr<IDb>& db, const std::string& orderId);
  // Records a paid order seen on the marketplace, with status 0 and the
  // current time. A number already recorded, or deleted by the seller (see
  // remove), is left as it is (neither a second row nor a reset); returns
  // whether the order is new.
  bool addFound(const std::shared_ptr<IDb>& db, const std::string& orderId, const std::string& url);
  // Orders of status 0 (id and detail page), in id order.
  std::vector<OrderRecord> found(const std::shared_ptr<IDb>& db);
  // Writes what the detail page told (payment number, marketplace state,
  // buyer fields, the current time) with status 1, and replaces the order's
  // goods lines by `order.goods`. The caller makes it one unit. Returns
  // false, writing nothing, when the order is no longer recorded (the web UI
  // deleted it while its pages were read): its goods lines would be left
  // without an order.
  bool storeDetails(const std::shared_ptr<IDb>& db, const OrderInfo& order);
  // The goods lines of the order, in table order.
  std::vector<OrderGoods> loadOrderGoods(const std::shared_ptr<IDb>& db, int orderId);
  // Orders of status 1 (id, order number and detail page), in id order.
  std::vector<OrderRecord> detailsRead(const std::shared_ptr<IDb>& db);
  // Orders of status 3, being delivered (id, order number and detail page),
  // in id order.
  std::vector<OrderRecord> delivering(const std::shared_ptr<IDb>& db);
  // The order's row (every column, goods lines not read); the fresh record
  // (id 0) when there is none.
  OrderRecord get(const std::shared_ptr<IDb>& db, int orderId);
  // The order's processing status; -1 when there is no such order.
  int statusOf(const std::shared_ptr<IDb>& db, int orderId);
  // Writes the goods lines' delivery texts, one per line in table order
  // (lines past the end of `texts` get the empty text).
  void setLineTexts(const std::shared_ptr<IDb>& db, int orderId, const std::vector<std::string>& texts);
  // Sets the processing status.
  void setStatus(const std::shared_ptr<IDb>& db, int orderId, int status);
  // Writes the delivery texts with the current time.
  void setDeliveryText(const std::shared_ptr<IDb>& db, int orderId, const std::string& textMsg,
                       const std::string& sendMsg);
  // Records a failed delivery: status 1000 + code, and the reason.
  void setFailed(const std::shared_ptr<IDb>& db, int orderId, int status, const std::string& reason);
  // Records a delivery that failed after its cards were reserved: the
  // failure as setFailed, and the texts of the attempt emptied (the buyer's
  // text and the lines'), as if it had never been made.
  void setReleased(const std::shared_ptr<IDb>& db, int orderId, int status, const std::string& reason);

 private:
  Order() = default;

  // Up to this many matching orders are found through an index and sorted;
  // more are found walking the table from the newest.
  static constexpr std::int64_t kSortedAtMost = 2000;
  struct Condition;
  // How a filter's orders are found: through the search text's indexes (or,
  // without a text, the time or the status index), through the time index
  // testing the text on each order of the range, or walking the table.
  enum class Reading { kIndexes, kTimeRange, kWalk };
  Reading readingOf(const std::shared_ptr<IDb>& db, const OrderFilter& filter);
  // The WHERE clause of `filter` for that reading.
  static Condition conditionOf(const OrderFilter& filter, Reading reading);
  // Up to `count` orders `filter` lets through from `offset` on, newest
  // first, with their goods lines.
  std::vector<OrderRecord> read(const std::shared_ptr<IDb>& db, const OrderFilter& filter, std::int64_t offset, int count, bool walk);
};

}  // namespace Quorvel
