// The simulated marketplace's shop: the seller's account and sessions, items
// on sale, orders with their goods lines, and the record of what a client did
// (consignments with their note, seller memos, buyer ratings, web IM chats
// opened), plus the simulator's switches and faults.
//
// Every member function takes the shop's own lock, so the server's request
// threads, the control interface and a test's thread may call them at once.
// Texts are GBK, like everything the program holds in memory; readers get
// copies.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Mutex.h"

namespace Quorvel {

// Marketplace order states as the detail page names them.
enum SimOrderState {
  kSimWaitingPayment = 1,  // 宝贝已买下，等待付款。
  kSimPaid = 2,            // 买家已付款，等待卖家发货
  kSimShipped = 3,         // 卖家已发货，等待买家确认
  kSimCompleted = 9,       // 交易成功
  kSimClosed = 10,         // 交易关闭
};
bool simIsOrderState(int state);

struct SimItem {
  std::string id;  // digits
  std::string title;
  std::string price;    // "98.50"
  std::string picture;  // empty: the simulator's own picture address
};

struct SimLine {
  std::string itemId;
  std::string title;  // the item's title when the order was placed
  std::string price;
  int num = 1;
  std::string snapshotId;  // the goods line's own trade id, shown in snapshot links
};

struct SimOrder {
  std::string id;  // the marketplace order number (bizOrderId, trade_id, tradeID)
  std::string buyer;
  std::string email;
  std::string ww;  // AliWangWang name
  std::string alipayId;
  int state = kSimPaid;
  bool archive = false;  // snapshot links point at the trade archive
  bool rated = false;    // the seller has rated the buyer
  std::string memo;
  std::string memoFlag;
  int64_t created = 0;  // seconds since 1970
  std::vector<SimLine> lines;
};

// What a control request or a test asks for when it places an order.
struct SimOrderRequest {
  std::string buyer;
  std::string email;
  std::string ww;  // empty: the buyer's nickname
  std::vector<std::pair<std::string, int>> lines;  // item id, quantity
  int state = kSimPaid;
  bool archive = false;
};

struct SimConsignment {
  std::string orderId;
  std::string note;      // the "_fmw.n._0.g" field as it arrived
  std::string postedTo;  // path and query the form was posted to
  std::map<std::string, std::string> fields;  // every field posted, as it arrived
};

struct SimMemo {
  std::string orderId;
  std::string flag;
  std::string memo;
};

struct SimRating {
  std::string tradeId;
  std::string rating;
  std::string comment;
};

struct SimFaults {
  bool emptyAnswers = false;     // every page is answered with an empty body
  int slowMillis = 0;            // every page waits this long before its answer
  bool redirectLoop = false;     // every page redirects into an endless loop
  bool loginEverywhere = false;  // every page shows the login box
  bool refuseConsign = false;    // a consign POST is answered with a refusal and changes nothing
  bool bareConsignForm = false;  // the consign page's form holds no input at all
  bool dropMemoForm = false;     // the seller memo page comes without its form
  // A POST to a seller page is carried out, and then the connection is
  // closed without an answer (the site did it, the client never hears).
  bool dropPostAnswers = false;
  // A consign POST is carried out, and its answer is held back this long.
  int consignAnswerDelayMillis = 0;
};

// An order's state that changes once the site has served `afterRequests`
// more seller pages (before the next one is served).
struct SimStateChange {
  std::string orderId;
  int state = 0;
  int afterRequests = 0;
};

struct SimLoginResult {
  bool ok = false;
  std::string token;        // the new session's cookie value
  int failures = 0;         // failed attempts in a row (after this one)
  bool codeNeeded = false;  // the next attempt needs the verification code
};

class SimShop {
 public:
  SimShop(std::string account, std::string password);

  const std::string& account() const { return account_; }
  const std::string& password() const { return password_; }
  // The hidden "_tb_token_" every form of the site carries and wants back.
  const std::string& formToken() const { return formToken_; }

  // Sessions. While a verification code is asked for (the captcha switch,
  // or kCodeAfterFailures failed attempts in a row) a login needs `code`
  // equal to captchaCode() besides the right account and password.
  static constexpr int kCodeAfterFailures = 3;
  SimLoginResult login(const std::string& account, const std::string& password, const std::string& code = "");
  bool codeNeeded() const;
  const std::string& captchaCode() const { return captchaCode_; }
  bool hasSession(const std::string& token) const;
  void endSessions();
  int sessionCount() const;

  // Items on sale. addItem gives the item a fresh id when `item.id` is empty;
  // raises Exception for an id that is not digits or already taken, or an
  // empty title.
  SimItem addItem(SimItem item);
  std::vector<SimItem> items() const;
  std::optional<SimItem> item(const std::string& id) const;

  // Orders. addOrder raises Exception for an unknown item, a quantity below 1,
  // no goods line, an empty buyer or an unknown state.
  SimOrder addOrder(const SimOrderRequest& wanted);
  std::vector<SimOrder> orders() const;  // newest first, as the lists show them
  std::optional<SimOrder> order(const std::string& id) const;
  // The order and line index of a goods line's snapshot id.
  std::optional<std::pair<SimOrder, size_t>> orderOfSnapshot(const std::string& snapshotId) const;
  bool setOrderState(const std::string& id, int state);
  // Changes the order's state once `afterRequests` more seller pages were
  // served (0: before the next one). False for an unknown order or state.
  bool scheduleStateChange(const std::string& id, int state, int afterRequests);
  // Counts one seller page about to be served and applies the changes due.
  void sellerPageServed();

  // What the client does. Each returns false (and records nothing) when the
  // site would refuse: consign only a paid order, rate only a shipped or
  // completed order that is not rated yet, memo any existing order.
  bool consign(const std::string& orderId, const std::string& note, const std::string& postedTo,
               std::map<std::string, std::string> fields = {});
  bool writeMemo(const std::string& orderId, const std::string& flag, const std::string& memo);
  bool rate(const std::string& tradeId, const std::string& rating, const std::string& comment);
  void openChat(const std::string& touid);

  std::vector<SimConsignment> consignments() const;
  std::vector<SimMemo> memos() const;
  std::vector<SimRating> ratings() const;
  std::vector<std::string> chats() const;

  // Switches.
  void setOpen(bool open);
  bool open() const;
  void setConsignVariant(int variant);  // 1 or 2: which of the two consign forms
  int consignVariant() const;
  // The value of the consign form's "event_submit_do_dummy" input; without
  // one, the variant's own ("" for 1, "1" for 2).
  void setConsignDummy(std::optional<std::string> value);
  std::optional<std::string> consignDummy() const;
  void setGoodsPageSize(int size);  // items per on-sale page, at least 1
  int goodsPageSize() const;
  // Path put between the base address and the snapshot path in the links to
  // archived snapshots: "" or "/" followed by letters, digits, "-" or "_".
  void setArchivePrefix(const std::string& prefix);
  std::string archivePrefix() const;
  // The captcha switch: every login page asks for the verification code.
  void setCaptcha(bool on);
  bool captcha() const;
  void setFaults(const SimFaults& faults);
  SimFaults faults() const;

  // A few items over two on-sale pages, one paid order and one completed,
  // unrated order with archive snapshots.
  void addDemoShop();

 private:
  std::string newToken() REQUIRES(mutex_);
  // The order with that number, or null; the caller holds mutex_.
  SimOrder* findLocked(const std::string& id) REQUIRES(mutex_);

  const std::string account_;
  const std::string password_;
  const std::string formToken_;
  const std::string captchaCode_;

  mutable Mutex mutex_;
  std::vector<std::string> sessions_ GUARDED_BY(mutex_);  // guarded by mutex_
  int failedLogins_ GUARDED_BY(mutex_) = 0;               // guarded by mutex_
  std::vector<SimItem> items_ GUARDED_BY(mutex_);         // guarded by mutex_
  std::vector<SimOrder> orders_ GUARDED_BY(mutex_);       // guarded by mutex_, oldest first
  std::vector<SimConsignment> consignments_ GUARDED_BY(mutex_);  // guarded by mutex_
  std::vector<SimMemo> memos_ GUARDED_BY(mutex_);                // guarded by mutex_
  std::vector<SimRating> ratings_ GUARDED_BY(mutex_);            // guarded by mutex_
  std::vector<std::string> chats_ GUARDED_BY(mutex_);            // guarded by mutex_
  uint64_t nextItemId_ GUARDED_BY(mutex_) = 16800000001ULL;      // guarded by mutex_
  uint64_t nextOrderId_ GUARDED_BY(mutex_) = 120815000001ULL;    // guarded by mutex_
  uint64_t nextSnapshotId_ GUARDED_BY(mutex_) = 220815000001ULL; // guarded by mutex_
  uint64_t nextAlipayId_ GUARDED_BY(mutex_) = 2012081500000001ULL;  // guarded by mutex_
  uint64_t tokenSeed_ GUARDED_BY(mutex_);                        // guarded by mutex_
  bool open_ GUARDED_BY(mutex_) = false;                         // guarded by mutex_
  bool captcha_ GUARDED_BY(mutex_) = false;                      // guarded by mutex_
  int consignVariant_ GUARDED_BY(mutex_) = 1;                    // guarded by mutex_
  std::optional<std::string> consignDummy_ GUARDED_BY(mutex_);   // guarded by mutex_
  std::vector<SimStateChange> stateChanges_ GUARDED_BY(mutex_);  // guarded by mutex_
  int goodsPageSize_ GUARDED_BY(mutex_) = 4;                     // guarded by mutex_
  std::string archivePrefix_ GUARDED_BY(mutex_);                 // guarded by mutex_
  SimFaults faults_ GUARDED_BY(mutex_);                          // guarded by mutex_
};

}  // namespace Quorvel
