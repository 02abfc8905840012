// OrderIntake: the first two steps of the order worker's tick, the orders'
// way into the program. fetchPaidOrders records every order on the
// marketplace's paid-orders list not seen before; parseNewOrders reads the
// detail page of every order recorded so (market/OrderScraper.h), binds each
// goods line to its card category, stores the details with status 1 and
// queues the seller's notice of the paid order.
//
// An order whose detail page (or a snapshot page) cannot be fetched keeps
// status 0 and is read again at the next tick, while the orders after it go
// on; the reason is written to standard output once for that order, not at
// every tick.
//
// Built with the Env whose client reads the pages (market/HttpClient.h).
// Called by the order worker thread with its own connection; an abandoned
// worker still finishing its tick may overlap with its successor, so the
// record of reported failures has its own lock.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "base/Env.h"
#include "base/Mutex.h"
#include "store/Order.h"

namespace Quorvel {

class IDb;

class OrderIntake {
 public:
  explicit OrderIntake(const Env& env) : env_(env) {}

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

  // "买家" + buyer + "已拍下并付款：" and, per goods line, name + "×" + quantity + " ".
  static std::string paidNotice(const OrderInfo& order);

 private:
  // Writes `text` for the order unless it was written before.
  void reportOnce(int orderId, const std::string& text);
  void forget(int orderId);

  const Env env_;
  Mutex mutex_;
  std::set<int> reported_ GUARDED_BY(mutex_);  // guarded by mutex_; orders whose failure was written
};

}  // namespace Quorvel
