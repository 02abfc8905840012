#include "delivery/OrderDelivery.h"

#include <cstdio>
#include <exception>
#include <mutex>
#include <set>

#include "base/Charset.h"
#include "base/Mutex.h"
#include "base/ProcessWide.h"
#include "base/Registry.h"
#include "delivery/DeliveryProbe.h"
#include "delivery/DeliveryTexts.h"
#include "delivery/MarketSteps.h"
#include "delivery/OrderException.h"
#include "delivery/PurchaseLimits.h"
#include "market/AuthException.h"
#include "market/OrderScraper.h"
#include "store/Db.h"
#include "store/GoodsCategoryMap.h"
#include "store/Item.h"
#include "store/MsgQueue.h"
#include "store/MsgType.h"
#include "store/OrderLog.h"
#include "store/OrderStatus.h"
#include "store/SystemConfig.h"
#include "store/WriteTransaction.h"

namespace Quorvel {

namespace {

// The orders some thread of this process is delivering right now.
struct DeliveryClaims {
  static std::shared_ptr<DeliveryClaims> instance() { return processWide<DeliveryClaims>(); }
  Mutex mutex;
  std::set<int> orders GUARDED_BY(mutex);  // guarded by mutex
};

// Holds an order for the calling thread while it lives; `held()` is false
// when another thread has it.
class Claim {
 public:
  explicit Claim(int orderId) : claims_(DeliveryClaims::instance()), orderId_(orderId) {
    MutexLock hold(claims_->mutex);
    held_ = claims_->orders.insert(orderId).second;
  }
  ~Claim() {
    if (!held_) return;
    MutexLock hold(claims_->mutex);
    claims_->orders.erase(orderId_);
  }
  Claim(const Claim&) = delete;
  Claim& operator=(const Claim&) = delete;
  bool held() const { return held_; }

 private:
  std::shared_ptr<DeliveryClaims> claims_;
  int orderId_;
  bool held_ = false;
};

// Sets the calling thread's low-stock flag for one card update, as asked.
class LowStockWatch {
 public:
  explicit LowStockWatch(bool on) : on_(on) {
    if (on_) Item::instance()->setLowStockFlag(true);
  }
  ~LowStockWatch() {
    if (on_) Item::instance()->setLowStockFlag(false);
  }
  LowStockWatch(const LowStockWatch&) = delete;
  LowStockWatch& operator=(const LowStockWatch&) = delete;

 private:
  bool on_;
};

void report(const std::string& text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

// The card numbers (data1) of the cards, for the order's log: the seller
// looks a card up by its number, never by the program's row id.
const std::string& cardSeparator() {
  static const std::string separator = gbk("、");
  return separator;
}

std::string cardNumbers(const std::shared_ptr<IDb>& db, const std::shared_ptr<Item>& items,
                        const std::vector<int>& ids) {
  std::string text;
  for (int id : ids) {
    if (!text.empty()) text += cardSeparator();
    const CardRecord card = items->get(db, id);
    text += card.id != 0 ? card.data1 : "#" + std::to_string(id);
  }
  return text;
}

// An order being delivered: the row, the order as its detail page shows it
// now (with the stored order number and texts), and what the seller notices
// need.
struct Attempt {
  OrderRecord row;
  OrderInfo order;
  std::string summary;          // the goods summary of the lines reached
  std::set<int> touched;        // categories whose cards this attempt changed
  std::string stockNotice;      // queued after the rollback that follows it
  const std::string& number() const { return row.order_id; }
};

// Whether the marketplace state means the order has been shipped.
bool shippedState(MarketState state) { return isShipped(state); }

// The detail page showed no state it names (an empty or unexpected page): it
// tells nothing about whether the order was shipped.
bool unknownState(MarketState state) { return state == MarketState::kUnknown; }

// The goods lines of the order with their stored texts, and their summary.
std::vector<OrderGoods> storedLines(const std::shared_ptr<IDb>& db, Attempt& attempt) {
  std::vector<OrderGoods> lines = Order::instance()->loadOrderGoods(db, attempt.row.id);
  attempt.summary.clear();
  for (const OrderGoods& line : lines) attempt.summary += summaryOf(line);
  return lines;
}

// The categories of the lines that were delivered (the only ones whose
// cards can carry this order's reserved mark).
std::set<int> deliveredCategories(const std::vector<OrderGoods>& lines) {
  std::set<int> categories;
  for (const OrderGoods& line : lines) {
    if (!line.text_msg.empty() && line.category_id != 0) categories.insert(line.category_id);
  }
  return categories;
}

class Delivery {
 public:
  Delivery(const Env& env, std::shared_ptr<IDb> db)
      : env_(env), probe_(env.get<DeliveryProbe>()), db_(std::move(db)), orders_(Order::instance()),
        items_(Item::instance()), log_(OrderLog::instance()), config_(SystemConfig::instance()) {}

  void deliver(const OrderRecord& row);
  void recover(const OrderRecord& row);
  void writeDueMemos();

 private:
  enum class Reserved { kNotFound, kEnded, kInFlight };

  Reserved reserve(Attempt& attempt);
  void consignAndFinish(Attempt& attempt);
  bool finish(Attempt& attempt, const std::string& consigned);
  void release(Attempt& attempt, int code, const std::string& message, const std::string& logText);
  void fail(Attempt& attempt, int code, const std::string& message);
  // After a rollback: the category cache does not follow one, so the
  // counters of the categories a transaction changed are read again.
  void refreshCounters(const std::set<int>& categories);
  void writeMemo(const OrderInfo& order);
  // Writes a log row on its own; a failure is only reported. `once` leaves
  // out a row that repeats the order's latest one (a step retried at every
  // tick).
  void logAlone(const std::string& number, const char* step, const std::string& text, bool once = false);
  void notice(const char* flag, const std::string& text) {
    if (config_->flag(flag)) sellerNotice(db_, text);
  }
  void reached(const char* point, const std::string& orderNumber) { probe_->reached(point, orderNumber); }

  const Env& env_;
  std::shared_ptr<DeliveryProbe> probe_;
  std::shared_ptr<IDb> db_;
  std::shared_ptr<Order> orders_;
  std::shared_ptr<Item> items_;
  std::shared_ptr<OrderLog> log_;
  std::shared_ptr<SystemConfig> config_;
};

void Delivery::logAlone(const std::string& number, const char* step, const std::string& text, bool once) {
  try {
    if (once) {
      log_->addOnce(db_, number, step, text);
    } else {
      log_->add(db_, number, step, text);
    }
  } catch (Exception e) {
    report("The log of order " + number + " misses a step (" + step + "): " + e.message());
  }
}

void Delivery::deliver(const OrderRecord& row) {
  Attempt attempt;
  attempt.row = row;
  // Read again just before the delivery: buyer, payment number and state are
  // current. A page that cannot be read ends the step.
  attempt.order = OrderScraper::parseOrderDetail(env_, row.id, row.order_url);
  attempt.order.order_id = row.order_id;
  if (reserve(attempt) != Reserved::kInFlight) return;
  reached("reserved", attempt.number());
  consignAndFinish(attempt);
}

Delivery::Reserved Delivery::reserve(Attempt& attempt) {
  const int id = attempt.row.id;
  std::shared_ptr<Category> categories = Category::instance();
  const bool watchStock = config_->flag("notice_store_enable");
  try {
    WriteTransaction unit(db_);
    // Another thread, or the web UI, may have taken the order meanwhile.
    if (orders_->statusOf(db_, id) != kOrderDetailsRead) return Reserved::kNotFound;
    if (attempt.order.order_status != MarketState::kPaid) throw OrderException(gbk("错误的订单状态"), kWrongOrderState);

    std::vector<OrderGoods> lines = orders_->loadOrderGoods(db_, id);
    // A line that was not bound when the order was read takes the binding
    // the seller made since (an order sent again after binding its goods).
    for (OrderGoods& line : lines) {
      if (line.category_id == 0 && !line.item_id.empty()) {
        line.category_id = GoodsCategoryMap::instance()->categoryOf(line.item_id);
      }
    }
    std::vector<std::string> lineTexts(lines.size());
    std::string takenNumbers;  // the log's card numbers, as cardNumbers gives them
    std::string text;
    const std::string mark = Item::reservedMark(attempt.number());
    for (size_t k = 0; k < lines.size(); ++k) {
      const OrderGoods& line = lines[k];
      attempt.summary += summaryOf(line);
      if (line.category_id == 0) continue;
      const CategoryRecord category = categories->get(line.category_id);
      if (category.id == 0 || category.flg == CategorySwitch::kOff) continue;
      const DeliveryTemplates templates = templatesOf(category);
      std::string lineText = lineHeader(line.goods_name);
      checkPurchaseLimits(category, attempt.order, line);
      // Read now, while a switch of the wrong kind can still fail the order
      // before anything is shipped.
      channelsOf(category);
      if (category.type == CategoryType::kCards) {
        std::vector<CardRecord> cards = items_->unsentCards(db_, category.id, line.num);
        if (static_cast<int>(cards.size()) < line.num) {
          if (watchStock) {
            attempt.stockNotice = gbk("商品：") + line.goods_name + gbk("库存不足，现有") +
                                  std::to_string(cards.size()) + gbk("件，需要 ") + std::to_string(line.num) +
                                  gbk("件");
          }
          throw OrderException(gbk("库存不足"), kOutOfStock);
        }
        std::string cardsText;
        for (CardRecord& card : cards) {
          cardsText += fillCard(templates.cardTpl, card);
          card.send_order_id = mark;
          attempt.touched.insert(category.id);
          LowStockWatch watch(watchStock);
          items_->update(db_, card);
          if (!takenNumbers.empty()) takenNumbers += cardSeparator();
          takenNumbers += card.data1;
        }
        lineText += fillGoods(templates.goodsTpl, cardsText);
      } else if (category.type == CategoryType::kText) {
        lineText += templates.goodsTpl;
      } else {
        continue;
      }
      text += lineText + "\r\n";
      lineTexts[k] = lineText;
    }

    if (text.empty()) {
      // Nothing of the order is bound to an enabled category: nothing was
      // sent and the marketplace still shows it paid. It is no delivery; it
      // waits, failed, until the seller binds its goods and sends it again.
      throw OrderException(gbk("未绑定，未发货"), kNotBound);
    }
    attempt.order.text_msg = attempt.order.send_msg = text;
    orders_->setDeliveryText(db_, id, text, text);
    orders_->setLineTexts(db_, id, lineTexts);
    orders_->setStatus(db_, id, kOrderDelivering);
    // The cards were just read and updated with their own numbers: no need
    // to read them again.
    log_->add(db_, attempt.number(), OrderLog::kReserved, takenNumbers);
    unit.commitDurable();
  } catch (Exception e) {
    fail(attempt, e.code(), e.message());
    return Reserved::kEnded;
  } catch (const std::exception& e) {
    // A template or switch of the wrong kind, and the like: this order
    // fails, the next ones go on.
    fail(attempt, 0, e.what());
    return Reserved::kEnded;
  }
  return Reserved::kInFlight;
}

void Delivery::refreshCounters(const std::set<int>& categories) {
  for (int category : categories) {
    try {
      items_->refreshCounters(db_, category);
    } catch (Exception e) {
      report("The stock counters of category " + std::to_string(category) + " are refreshed at its next change: " +
             e.message());
    }
  }
}

void Delivery::fail(Attempt& attempt, int code, const std::string& message) {
  // The transaction is rolled back; the category cache does not follow a
  // rollback, so the counters of the categories touched are read again.
  refreshCounters(attempt.touched);
  try {
    WriteTransaction unit(db_);
    orders_->setFailed(db_, attempt.row.id, orderFailed(code), message);
    log_->add(db_, attempt.number(), OrderLog::kFailed, std::to_string(orderFailed(code)) + " " + message);
    unit.commit();
  } catch (Exception e) {
    report("Order " + attempt.number() + " failed (" + message + ") and its failure cannot be recorded: " +
           e.message());
  }
  if (!attempt.stockNotice.empty()) sellerNotice(db_, attempt.stockNotice);
  notice("notice_failed_order", gbk("订单：") + attempt.number() + gbk("发货失败，原因：") + message +
                                    gbk("含商品：") + attempt.summary);
}

void Delivery::consignAndFinish(Attempt& attempt) {
  reached("consigning", attempt.number());
  ConsignOutcome outcome;
  try {
    consignForDelivery(env_, attempt.number(), attempt.order.send_msg, outcome);
  } catch (OrderException e) {
    const std::string failure = e.message() + (outcome.reason.empty() ? "" : " (" + outcome.reason + ")");
    if (e.code() == kConsignRefused && outcome.posted && !outcome.answered) {
      // The form went out and no answer came back: the site may have shipped
      // it. Its state tells.
      logAlone(attempt.number(), OrderLog::kConsignUnanswered, failure, true);
      MarketState state = MarketState::kUnknown;
      try {
        state = OrderScraper::parseOrderDetail(env_, attempt.row.id, attempt.row.order_url).order_status;
      } catch (AuthException) {
        throw;
      } catch (Exception read) {
        report("Order " + attempt.number() + " stays in delivery until its state can be read: " + read.message());
        return;
      }
      if (shippedState(state)) {
        if (finish(attempt, gbk("发货请求没有得到回应；订单状态已是卖家已发货"))) writeMemo(attempt.order);
        return;
      }
      if (unknownState(state)) {
        report("Order " + attempt.number() + " stays in delivery until its detail page shows its state");
        return;
      }
    }
    release(attempt, e.code(), e.message(), failure);
    return;
  } catch (AuthException) {
    throw;
  } catch (Exception e) {
    release(attempt, e.code(), e.message(), e.message());
    return;
  }
  reached("consigned", attempt.number());
  if (finish(attempt, outcome.confirmation)) writeMemo(attempt.order);
}

bool Delivery::finish(Attempt& attempt, const std::string& consigned) {
  const std::string& number = attempt.number();
  try {
    WriteTransaction unit(db_);
    if (orders_->statusOf(db_, attempt.row.id) != kOrderDelivering) return false;
    const std::vector<OrderGoods> lines = storedLines(db_, attempt);
    std::vector<int> cards;
    for (int category : deliveredCategories(lines)) {
      attempt.touched.insert(category);
      for (int card : items_->remark(db_, category, Item::reservedMark(number), Item::deliveredMark(number))) {
        cards.push_back(card);
      }
    }
    log_->add(db_, number, OrderLog::kConsigned, consigned);
    std::shared_ptr<Category> categories = Category::instance();
    for (const OrderGoods& line : lines) {
      if (line.text_msg.empty()) continue;
      std::vector<QueuedMessage> queued;
      try {
        queued = queueBuyerMessages(db_, categories->get(line.category_id), attempt.order, line.text_msg);
      } catch (const std::exception& e) {
        // The category was changed to a switch of the wrong kind after the
        // reservation: the order is shipped, so it is finished all the same.
        log_->add(db_, number, OrderLog::kRefused, gbk("消息未能排队：") + e.what());
        continue;
      }
      for (const QueuedMessage& message : queued) {
        log_->add(db_, number, OrderLog::kQueued,
                  "#" + std::to_string(message.id) + " " + msgTypeName(message.type) + " " + message.to);
      }
    }
    orders_->setStatus(db_, attempt.row.id, kOrderDelivered);
    log_->add(db_, number, OrderLog::kDelivered, cardNumbers(db_, items_, cards));
    log_->add(db_, number, OrderLog::kMemoDue, "");
    notice("notice_success_order", gbk("订单：") + number + gbk("发货成功，含商品：") + attempt.summary);
    unit.commitDurable();
  } catch (Exception e) {
    // Shipped but not finished here: the order stays at 3 and the next tick
    // finishes it.
    report("Order " + number + " is shipped and is finished at the next tick: " + e.message());
    refreshCounters(attempt.touched);
    return false;
  }
  reached("finished", number);
  return true;
}

void Delivery::release(Attempt& attempt, int code, const std::string& message, const std::string& logText) {
  const std::string& number = attempt.number();
  try {
    WriteTransaction unit(db_);
    if (orders_->statusOf(db_, attempt.row.id) != kOrderDelivering) return;
    const std::vector<OrderGoods> lines = storedLines(db_, attempt);
    std::vector<int> cards;
    for (int category : deliveredCategories(lines)) {
      attempt.touched.insert(category);
      for (int card : items_->remark(db_, category, Item::reservedMark(number), "")) cards.push_back(card);
    }
    orders_->setReleased(db_, attempt.row.id, orderFailed(code), message);
    log_->add(db_, number, OrderLog::kConsignFailed, logText);
    log_->add(db_, number, OrderLog::kReleased, cardNumbers(db_, items_, cards));
    log_->add(db_, number, OrderLog::kFailed, std::to_string(orderFailed(code)) + " " + message);
    unit.commit();
  } catch (Exception e) {
    report("Order " + number + " keeps its reserved cards until the next tick: " + e.message());
    refreshCounters(attempt.touched);
    return;
  }
  reached("released", number);
  notice("notice_failed_order",
         gbk("订单：") + number + gbk("发货失败，原因：") + message + gbk("含商品：") + attempt.summary);
}

void Delivery::writeMemo(const OrderInfo& order) {
  reached("memo", order.order_id);
  try {
    const int status = writeSellerMemo(env_, order);
    logAlone(order.order_id, OrderLog::kMemoWritten, "HTTP " + std::to_string(status));
    return;
  } catch (Exception e) {
    // The order stays delivered: the marketplace shows it shipped and the
    // buyer's messages are queued.
    logAlone(order.order_id, OrderLog::kMemoFailed, std::to_string(e.code()) + " " + e.message());
    notice("notice_failed_order", gbk("订单：") + order.order_id + gbk("已发货，但卖家备注写入失败，原因：") +
                                      e.message());
  }
}

void Delivery::recover(const OrderRecord& row) {
  Attempt attempt;
  attempt.row = row;
  const OrderRecord stored = orders_->get(db_, row.id);
  OrderInfo page;
  try {
    page = OrderScraper::parseOrderDetail(env_, row.id, row.order_url);
  } catch (AuthException) {
    throw;
  } catch (Exception e) {
    logAlone(row.order_id, OrderLog::kRecovered, gbk("订单详情无法读取：") + e.message(), true);
    return;
  }
  attempt.order = page;
  attempt.order.order_id = row.order_id;
  attempt.order.send_msg = stored.send_msg;
  attempt.order.text_msg = stored.text_msg;
  if (unknownState(page.order_status)) {
    logAlone(row.order_id, OrderLog::kRecovered, gbk("订单详情页没有显示订单状态，稍后再试"), true);
    return;
  }
  logAlone(row.order_id, OrderLog::kRecovered, gbk("发货中断后恢复，淘宝订单状态：") + std::to_string(static_cast<int>(page.order_status)),
           true);
  // finish and release read the order's lines (and their summary) inside
  // their own transactions.
  if (shippedState(page.order_status)) {
    if (finish(attempt, gbk("订单状态已是卖家已发货"))) writeMemo(attempt.order);
  } else if (page.order_status == MarketState::kPaid) {
    consignAndFinish(attempt);
  } else {
    release(attempt, kWrongOrderState, gbk("错误的订单状态"), gbk("错误的订单状态"));
  }
}

void Delivery::writeDueMemos() {
  std::set<std::string> due;
  for (const std::string& number : log_->memosDue(db_)) {
    if (!due.insert(number).second) continue;
    const int id = orders_->idOf(db_, number);
    if (id < 0) continue;
    Claim claim(id);
    if (!claim.held()) continue;
    const OrderRecord stored = orders_->get(db_, id);
    if (stored.status != kOrderDelivered) continue;
    writeMemo(stored);
  }
}

}  // namespace

void OrderDelivery::deliverOrders(const std::shared_ptr<IDb>& db) {
  Delivery delivery(env_, db);
  if (!memosChecked_.exchange(true)) delivery.writeDueMemos();
  std::shared_ptr<Order> orders = Order::instance();
  for (const OrderRecord& row : orders->delivering(db)) {
    Claim claim(row.id);
    if (claim.held()) delivery.recover(row);
  }
  for (const OrderRecord& row : orders->detailsRead(db)) {
    Claim claim(row.id);
    if (claim.held()) delivery.deliver(row);
  }
}

std::vector<QueuedMessage> queueBuyerMessages(const std::shared_ptr<IDb>& db, const CategoryRecord& category,
                                              const OrderInfo& order, const std::string& text) {
  const BuyerChannels channels = channelsOf(category);
  const std::string account = Registry::instance()->getOr<std::string>("account", "");
  std::shared_ptr<MsgQueue> queue = MsgQueue::instance();
  std::vector<QueuedMessage> queued;
  if (!account.empty() && channels.ww) {
    queued.push_back({queue->add(db, kChat, order.buyer_ww, account, text, order.order_id, ""), kChat, order.buyer_ww});
  }
  if (channels.email) {
    const std::string subject = fillMailSubject(templatesOf(category).mailSubject, order.order_id);
    queued.push_back(
        {queue->add(db, kEmail, order.buyer_email, "", text, order.order_id, "", subject), kEmail, order.buyer_email});
  }
  if (!account.empty() && channels.web) {
    queued.push_back(
        {queue->add(db, kWebMessage, order.buyer, account, text, order.order_id, order.alipay_id), kWebMessage, order.buyer});
  }
  return queued;
}

}  // namespace Quorvel
