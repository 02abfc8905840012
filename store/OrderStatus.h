// The numbers an order's row carries: where the program stands with the order
// (column `orders`.`status`) and the marketplace's own state of it (column
// `orders`.`order_status`). The order store writes and selects by them; the
// order pipeline (market/, delivery/) and the web UI's order actions read
// them. The delivery's reason codes, which a failed status adds to
// kOrderFailed, are the delivery's own (delivery/OrderException.h).
// Constants only; any thread.
#pragma once

namespace Quorvel {

// Where the program stands with one marketplace order. A failed delivery is
// kOrderFailed + its reason code.
enum OrderStatus : int {
  kOrderFound = 0,        // seen on the paid-orders list
  kOrderDetailsRead = 1,  // buyer and goods lines read, waiting for delivery
  kOrderDelivered = 2,    // cards taken, consigned, messages queued
  kOrderDelivering = 3,   // cards reserved, the marketplace not yet confirmed
  kOrderFailed = 1000,
};
constexpr int orderFailed(int reasonCode) { return kOrderFailed + reasonCode; }
constexpr bool isOrderFailed(int status) { return status >= kOrderFailed; }

// The marketplace's state of an order, as its detail page names it; the
// stored number is the value. A page that names none gives kUnknown.
enum class MarketState : int {
  kUnknown = 0,
  kAwaitingPayment = 1,  // "宝贝已买下，等待付款。"
  kPaid = 2,             // "买家已付款，等待卖家发货": the only state a delivery ships
  kShipped = 3,          // "卖家已发货，等待买家确认"
  kCompleted = 9,        // "交易成功"
  kClosed = 10,          // "交易关闭"
};

// Whether the marketplace shows the order shipped (waiting for the buyer, or
// completed).
constexpr bool isShipped(MarketState state) { return state == MarketState::kShipped || state == MarketState::kCompleted; }

}  // namespace Quorvel
