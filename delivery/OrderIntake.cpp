#include "delivery/OrderIntake.h"

#include <cstdio>

#include "base/Charset.h"
#include "market/AuthException.h"
#include "market/OrderScraper.h"
#include "store/Db.h"
#include "store/GoodsCategoryMap.h"
#include "store/MsgQueue.h"
#include "store/Savepoint.h"
#include "store/SystemConfig.h"

namespace Quorvel {

namespace {

// Failures of orders that keep failing are remembered by id; past this many
// the record starts afresh (an order may then be named once more).
constexpr size_t kMaxReported = 10'000;

}  // namespace

void OrderIntake::fetchPaidOrders(const std::shared_ptr<IDb>& db) {
  const std::vector<ListedOrder> listed = OrderScraper::listPaidOrders(env_);
  std::shared_ptr<Order> orders = Order::instance();
  for (const ListedOrder& order : listed) orders->addFound(db, order.number, order.url);
}

std::string OrderIntake::paidNotice(const OrderInfo& order) {
  std::string notice = gbk("买家") + order.buyer + gbk("已拍下并付款：");
  for (const OrderGoods& line : order.goods) notice += line.goods_name + gbk("×") + std::to_string(line.num) + " ";
  return notice;
}

void OrderIntake::parseNewOrders(const std::shared_ptr<IDb>& db) {
  std::shared_ptr<Order> orders = Order::instance();
  for (const OrderRecord& found : orders->found(db)) {
    OrderInfo info;
    try {
      info = OrderScraper::parseOrderDetail(env_, found.id, found.order_url);
    } catch (AuthException) {
      throw;
    } catch (Exception e) {
      reportOnce(found.id, "Order " + std::to_string(found.id) + " stays new, its details are read again at the next "
                               "tick: " + e.message());
      continue;
    }
    std::shared_ptr<GoodsCategoryMap> bindings = GoodsCategoryMap::instance();
    for (OrderGoods& line : info.goods) line.category_id = bindings->categoryOf(line.item_id);
    try {
      Savepoint unit(db);
      // An order deleted meanwhile is not brought back, and not announced.
      if (orders->storeDetails(db, info) && SystemConfig::instance()->flag("notice_paid_order")) {
        sellerNotice(db, paidNotice(info));
      }
      unit.release();
    } catch (Exception e) {
      // Rolled back: the order stays at 0 and is read again next tick.
      reportOnce(found.id, "Order " + std::to_string(found.id) + " stays new, its details are stored again at the "
                               "next tick: " + e.message());
      continue;
    }
    forget(found.id);
  }
}

void OrderIntake::reportOnce(int orderId, const std::string& text) {
  {
    MutexLock hold(mutex_);
    if (reported_.size() >= kMaxReported) reported_.clear();
    if (!reported_.insert(orderId).second) return;
  }
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

void OrderIntake::forget(int orderId) {
  MutexLock hold(mutex_);
  reported_.erase(orderId);
}

}  // namespace Quorvel
