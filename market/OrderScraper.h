// OrderScraper: the first two steps of the order worker's tick on the
// marketplace. fetchPaidOrders reads the sold-items list of paid orders and
// records every order not seen before; parseNewOrders reads the detail page
// of every order recorded so (buyer, payment number, marketplace state, goods
// lines with their item ids from the snapshot pages), binds each line to its
// card category and marks the order ready for delivery. parseOrderDetail is
// also what the delivery reads again just before it delivers.
//
// An order whose detail page (or a snapshot page) cannot be fetched keeps
// status 0 and is read again at the next tick, while the orders after it go
// on; the reason is written to standard output once for that order, not at
// every tick.
//
// Called by the order worker thread with its own connection; an abandoned
// worker still finishing its tick may overlap with its successor, so the
// record of reported failures has its own lock.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/Mutex.h"
#include "store/Order.h"

namespace Quorvel {

class IDb;

// A detail page read without its snapshot pages: the order's fields, its goods
// lines with names and quantities, and each line's snapshot address.
struct DetailPage {
  OrderInfo info;
  std::vector<std::string> snapshots;  // one per goods line, in page order
};

class OrderScraper {
 public:
  // Records every paid order listed on the marketplace (status 0, the
  // current time); orders already recorded are left alone. Raises
  // AuthException("请重新登录", 1), recording nothing, when the list shows
  // the login box.
  void fetchPaidOrders(const std::shared_ptr<IDb>& db);

  // Reads the details of every order of status 0, in id order, and stores
  // each with status 1 in a unit of its own, with the seller notice of the
  // paid order when "notice_paid_order" is "1". An order that cannot be read
  // or stored stays at 0. Raises AuthException when a detail page shows the
  // login box (the session is gone; the order stays at 0).
  void parseNewOrders(const std::shared_ptr<IDb>& db);

  // Fetches and reads the order's detail page and the snapshot page of each
  // goods line. Fields the pages do not show stay at their defaults. Raises
  // CurlException, with the client's reason, when a page cannot be fetched
  // (no answer, or not a 2xx answer), and AuthException when the detail page
  // shows the login box.
  static OrderInfo parseOrderDetail(int id, const std::string& url);

  // The stored goods lines of the order (the delivery's view of them).
  static std::vector<OrderGoods> loadOrderGoods(const std::shared_ptr<IDb>& db, int orderId);

  // Reads one detail page body (GBK) without fetching anything.
  static DetailPage readDetailPage(int id, const std::string& page);
  // The item id a snapshot page links to; empty when it links none.
  static std::string itemIdOf(const std::string& snapshotPage);
  // The order numbers and detail addresses on one paid-orders list body, in
  // page order (links without an order number left out).
  static std::vector<std::pair<std::string, std::string>> listedOrders(const std::string& page);
  // "买家" + buyer + "已拍下并付款：" and, per goods line, name + "×" + quantity + " ".
  static std::string paidNotice(const OrderInfo& order);

 private:
  // Writes `text` for the order unless it was written before.
  void reportOnce(int orderId, const std::string& text);
  void forget(int orderId);

  Mutex mutex_;
  std::set<int> reported_ GUARDED_BY(mutex_);  // guarded by mutex_; orders whose failure was written
};

}  // namespace Quorvel
