// OrderDelivery: the third step of the order tick, which delivers every paid
// order whose details are read (status 1): it takes unsent cards of each
// goods line's category, fills the category's templates, checks the purchase
// limit and the blacklist, consigns the order on the marketplace, queues the
// buyer's messages on the channels the category enables, writes the seller
// memo, and tells the seller how it went. Every step is written to the order
// log (store/OrderLog.h).
//
// No transaction is ever open during a marketplace request. A delivery is
// three short transactions around the requests, with status 3 ("发货中") as
// the durable record of an order in flight:
//   1. reserve: after the detail page is read again, one transaction checks
//      the state (code 5), the limits (6, 7) and the stock (1), takes the
//      cards and marks them reserved ("发货中：订单号：" + number), writes the
//      texts and sets status 3; it is committed durably before the
//      consignment. An order without a deliverable line fails here as
//      not bound (code 8, "未绑定，未发货"): nothing was sent.
//   2. consign, with no transaction open. A refusal releases exactly the
//      cards this attempt reserved (the cards of an earlier delivery of the
//      same order keep their mark) and records 1000 + code; a POST that got
//      no answer is settled by reading the order's state again.
//   3. finish: one transaction gives the reserved cards their final mark
//      ("已发货：订单号：" + number), queues the buyer's messages, sets status
//      2 and queues the success notice; committed durably. Then the memo,
//      with no transaction open: its failure is logged and told to the
//      seller, and the order stays delivered.
// Every call starts with recovery: an order found at status 3 that no thread
// of this process is delivering (the process died in flight, or a write after
// a marketplace step failed) has its detail page read again: shipped (3, or
// 9 completed) is finished, paid (2) is consigned and finished, any other
// state the page names releases its cards with code 5; a page that names no
// state (empty, or not the detail page) leaves the order in flight for the
// next tick, since it tells nothing about a shipment. The first call of a process also writes the
// memos a crash left unwritten.
//
// Built with the Env whose client reaches the marketplace and whose
// DeliveryProbe sees each delivery pass its points (delivery/DeliveryProbe.h).
// Called by the daemon's order worker with its own connection (getDb); a
// replaced worker still finishing its tick may run at the same time as its
// successor: an order is delivered by one thread at a time (a process-wide
// claim), and every transaction re-checks the order's status.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/Env.h"
#include "store/Category.h"
#include "store/Order.h"

namespace Quorvel {

class IDb;

// One buyer message queued by queueBuyerMessages.
struct QueuedMessage {
  int id = 0;
  int type = 0;  // MsgType
  std::string to;
};

class OrderDelivery {
 public:
  explicit OrderDelivery(const Env& env) : env_(env) {}

  // Recovers the orders in flight, then delivers every order of status 1, in
  // id order, on `db` (the calling thread's connection). A failure of one
  // order is recorded on it and the next goes on; a detail page that cannot
  // be read ends the step (AuthException and CurlException escape), and the
  // remaining orders wait for the next tick.
  void deliverOrders(const std::shared_ptr<IDb>& db);

 private:
  const Env env_;
  std::atomic<bool> memosChecked_{false};
};

// Queues `text` for the buyer on the channels the category's ext switches on
// ("ww": an IM message to order.buyer_ww, "email": an e-mail to
// order.buyer_email, "web": a web message to order.buyer), through `db`.
// IM and web messages go out from the seller's account (Registry "account")
// and are not queued while it is empty.
std::vector<QueuedMessage> queueBuyerMessages(const std::shared_ptr<IDb>& db, const CategoryRecord& category,
                                              const OrderInfo& order, const std::string& text);

}  // namespace Quorvel
