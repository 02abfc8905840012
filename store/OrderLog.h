// OrderLog: what happened to each marketplace order, table `order_log`, one
// row per step with its time: cards reserved (their ids), the marketplace's
// answer to the consignment, the seller memo, every buyer message queued and
// later sent or refused (with the service's or mail server's reply), recovery
// after a restart, the outcome. Rows are keyed by the marketplace order
// number, so the log outlives a deleted and re-found order row. The web UI
// shows an order's rows under it ("order" action, sub-action "log").
//
// add writes through the connection it is given, so a row written inside the
// delivery's transaction stands or falls with it. addOnce leaves out a row
// equal to the order's latest one (same step and text): a message refused at
// every dispatch pass, or a recovery that cannot read its page tick after
// tick, leaves one row. Texts are GBK, cut to kMaxText bytes on a character
// boundary.
//
// Any thread may call any operation; SQLite's locking is the only
// coordination. The store makes sure at its creation that the table exists
// (upgradeDatabase): create it before any thread holds a write transaction.
#pragma once

#include <json/value.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace Quorvel {

class IDb;

struct OrderLogRow {
  int id = 0;
  std::string order_id;  // marketplace order number
  int time = 0;          // seconds since 1970, as stored
  std::string step;      // one of the step names below
  std::string text;
};

class OrderLog {
 public:
  // Step names.
  static constexpr const char* kReserved = "reserved";          // card ids taken, comma-separated
  static constexpr const char* kConsigned = "consigned";        // the marketplace's confirmation
  static constexpr const char* kConsignFailed = "consign_failed";
  static constexpr const char* kConsignUnanswered = "consign_unanswered";  // no answer: state to be read
  static constexpr const char* kQueued = "queued";              // a buyer message queued
  static constexpr const char* kSent = "sent";                  // a queued message sent
  static constexpr const char* kRefused = "refused";            // a queued message refused or not sent
  static constexpr const char* kDelivered = "delivered";        // status 2
  static constexpr const char* kFailed = "failed";              // status 1000 + code
  static constexpr const char* kReleased = "released";          // reserved cards back in stock
  static constexpr const char* kMemoDue = "memo_due";           // the memo is to be written
  static constexpr const char* kMemoWritten = "memo_written";
  static constexpr const char* kMemoFailed = "memo_failed";
  static constexpr const char* kRecovered = "recovered";        // found in flight after a restart

  static constexpr size_t kMaxText = 2000;

  // The store (processWide), built on first use.
  static std::shared_ptr<OrderLog> instance();
  static std::shared_ptr<OrderLog> makeProcessWide();

  virtual ~OrderLog();

  // Writes a row with the current time (the process clock) through `db`.
  void add(const std::shared_ptr<IDb>& db, const std::string& orderNumber, const std::string& step,
           const std::string& text);
  // As add, unless the order's latest row has the same step and text.
  void addOnce(const std::shared_ptr<IDb>& db, const std::string& orderNumber, const std::string& step,
               const std::string& text);

  // The order's rows, oldest first.
  std::vector<OrderLogRow> of(const std::shared_ptr<IDb>& db, const std::string& orderNumber);

  // Order numbers with a memo due and neither written nor failed since.
  std::vector<std::string> memosDue(const std::shared_ptr<IDb>& db);

  // {"id", "time", "step", "text"}
  static Json::Value toJson(const OrderLogRow& row);

 private:
  OrderLog() = default;
};

}  // namespace Quorvel
