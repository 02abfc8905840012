#include "sim/SimShop.h"

#include <algorithm>
#include <chrono>
#include <random>

#include "base/Charset.h"
#include "base/Exception.h"
#include "sim/SimForm.h"

namespace Quorvel {

namespace {

uint64_t randomSeed() {
  std::random_device device;
  return (static_cast<uint64_t>(device()) << 32) ^ device() ^
         static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

std::string hex64(uint64_t value) {
  static const char kHex[] = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4) out[i] = kHex[value & 15];
  return out;
}

int64_t nowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

bool simIsOrderState(int state) {
  return state == kSimWaitingPayment || state == kSimPaid || state == kSimShipped || state == kSimCompleted ||
         state == kSimClosed;
}

SimShop::SimShop(std::string account, std::string password)
    : account_(std::move(account)), password_(std::move(password)), formToken_(hex64(randomSeed())),
      captchaCode_(hex64(randomSeed()).substr(0, 4)),
      tokenSeed_(randomSeed()) {}

std::string SimShop::newToken() {
  // splitmix64: cheap, and good enough for cookies nobody attacks.
  tokenSeed_ += 0x9E3779B97F4A7C15ULL;
  uint64_t z = tokenSeed_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  return hex64(z) + hex64(z * 0x2545F4914F6CDD1DULL + tokenSeed_);
}

SimLoginResult SimShop::login(const std::string& account, const std::string& password, const std::string& code) {
  MutexLock lock(mutex_);
  SimLoginResult result;
  const bool codeRight = !(captcha_ || failedLogins_ >= kCodeAfterFailures) || code == captchaCode_;
  if (account == account_ && password == password_ && codeRight) {
    failedLogins_ = 0;
    result.ok = true;
    result.token = newToken();
    sessions_.push_back(result.token);
  } else {
    result.failures = ++failedLogins_;
    result.codeNeeded = captcha_ || failedLogins_ >= kCodeAfterFailures;
  }
  return result;
}

bool SimShop::codeNeeded() const {
  MutexLock lock(mutex_);
  return captcha_ || failedLogins_ >= kCodeAfterFailures;
}

void SimShop::setCaptcha(bool on) {
  MutexLock lock(mutex_);
  captcha_ = on;
}

bool SimShop::captcha() const {
  MutexLock lock(mutex_);
  return captcha_;
}

bool SimShop::hasSession(const std::string& token) const {
  MutexLock lock(mutex_);
  return !token.empty() && std::find(sessions_.begin(), sessions_.end(), token) != sessions_.end();
}

void SimShop::endSessions() {
  MutexLock lock(mutex_);
  sessions_.clear();
}

int SimShop::sessionCount() const {
  MutexLock lock(mutex_);
  return static_cast<int>(sessions_.size());
}

SimItem SimShop::addItem(SimItem item) {
  if (item.title.empty()) throw Exception("item title is empty", 1);
  MutexLock lock(mutex_);
  if (item.id.empty()) {
    do {
      item.id = std::to_string(nextItemId_++);
    } while (std::any_of(items_.begin(), items_.end(), [&](const SimItem& i) { return i.id == item.id; }));
  } else if (!simIsDigits(item.id)) {
    throw Exception("item id must be digits", 1);
  } else if (std::any_of(items_.begin(), items_.end(), [&](const SimItem& i) { return i.id == item.id; })) {
    throw Exception("item id " + item.id + " exists", 1);
  }
  if (item.price.empty()) item.price = "1.00";
  items_.push_back(item);
  return item;
}

std::vector<SimItem> SimShop::items() const {
  MutexLock lock(mutex_);
  return items_;
}

std::optional<SimItem> SimShop::item(const std::string& id) const {
  MutexLock lock(mutex_);
  for (const SimItem& i : items_) {
    if (i.id == id) return i;
  }
  return std::nullopt;
}

SimOrder SimShop::addOrder(const SimOrderRequest& wanted) {
  if (wanted.buyer.empty()) throw Exception("buyer is empty", 1);
  if (wanted.lines.empty()) throw Exception("order has no goods line", 1);
  if (!simIsOrderState(wanted.state)) throw Exception("unknown order state " + std::to_string(wanted.state), 1);
  MutexLock lock(mutex_);
  SimOrder order;
  for (const auto& [itemId, num] : wanted.lines) {
    auto found = std::find_if(items_.begin(), items_.end(), [&id = itemId](const SimItem& i) { return i.id == id; });
    if (found == items_.end()) throw Exception("unknown item " + itemId, 1);
    if (num < 1) throw Exception("quantity must be at least 1", 1);
    SimLine line;
    line.itemId = itemId;
    line.title = found->title;
    line.price = found->price;
    line.num = num;
    order.lines.push_back(line);
  }
  for (SimLine& line : order.lines) line.snapshotId = std::to_string(nextSnapshotId_++);
  order.id = std::to_string(nextOrderId_++);
  order.alipayId = std::to_string(nextAlipayId_++);
  order.buyer = wanted.buyer;
  order.email = wanted.email;
  order.ww = wanted.ww.empty() ? wanted.buyer : wanted.ww;
  order.state = wanted.state;
  order.archive = wanted.archive;
  order.created = nowSeconds();
  orders_.push_back(order);
  return order;
}

std::vector<SimOrder> SimShop::orders() const {
  MutexLock lock(mutex_);
  return std::vector<SimOrder>(orders_.rbegin(), orders_.rend());
}

std::optional<SimOrder> SimShop::order(const std::string& id) const {
  MutexLock lock(mutex_);
  const SimOrder* o = const_cast<SimShop*>(this)->findLocked(id);
  if (!o) return std::nullopt;
  return *o;
}

SimOrder* SimShop::findLocked(const std::string& id) {
  for (SimOrder& o : orders_) {
    if (o.id == id) return &o;
  }
  return nullptr;
}

std::optional<std::pair<SimOrder, size_t>> SimShop::orderOfSnapshot(const std::string& snapshotId) const {
  MutexLock lock(mutex_);
  for (const SimOrder& o : orders_) {
    for (size_t k = 0; k < o.lines.size(); ++k) {
      if (o.lines[k].snapshotId == snapshotId) return std::make_pair(o, k);
    }
  }
  return std::nullopt;
}

bool SimShop::setOrderState(const std::string& id, int state) {
  if (!simIsOrderState(state)) return false;
  MutexLock lock(mutex_);
  SimOrder* o = findLocked(id);
  if (!o) return false;
  o->state = state;
  return true;
}

bool SimShop::consign(const std::string& orderId, const std::string& note, const std::string& postedTo,
                      std::map<std::string, std::string> fields) {
  MutexLock lock(mutex_);
  SimOrder* o = findLocked(orderId);
  if (!o || o->state != kSimPaid) return false;
  o->state = kSimShipped;
  consignments_.push_back({orderId, note, postedTo, std::move(fields)});
  return true;
}

bool SimShop::scheduleStateChange(const std::string& id, int state, int afterRequests) {
  if (!simIsOrderState(state) || afterRequests < 0) return false;
  MutexLock lock(mutex_);
  if (!findLocked(id)) return false;
  stateChanges_.push_back({id, state, afterRequests});
  return true;
}

void SimShop::sellerPageServed() {
  MutexLock lock(mutex_);
  std::erase_if(stateChanges_, [this](SimStateChange& change) REQUIRES(mutex_) {
    if (change.afterRequests-- > 0) return false;
    if (SimOrder* o = findLocked(change.orderId)) o->state = change.state;
    return true;
  });
}

bool SimShop::writeMemo(const std::string& orderId, const std::string& flag, const std::string& memo) {
  MutexLock lock(mutex_);
  SimOrder* o = findLocked(orderId);
  if (!o) return false;
  o->memo = memo;
  o->memoFlag = flag;
  memos_.push_back({orderId, flag, memo});
  return true;
}

bool SimShop::rate(const std::string& tradeId, const std::string& rating, const std::string& comment) {
  MutexLock lock(mutex_);
  SimOrder* o = findLocked(tradeId);
  if (!o || o->rated || (o->state != kSimShipped && o->state != kSimCompleted)) return false;
  o->rated = true;
  ratings_.push_back({tradeId, rating, comment});
  return true;
}

void SimShop::openChat(const std::string& touid) {
  MutexLock lock(mutex_);
  chats_.push_back(touid);
}

std::vector<SimConsignment> SimShop::consignments() const {
  MutexLock lock(mutex_);
  return consignments_;
}

std::vector<SimMemo> SimShop::memos() const {
  MutexLock lock(mutex_);
  return memos_;
}

std::vector<SimRating> SimShop::ratings() const {
  MutexLock lock(mutex_);
  return ratings_;
}

std::vector<std::string> SimShop::chats() const {
  MutexLock lock(mutex_);
  return chats_;
}

void SimShop::setOpen(bool open) {
  MutexLock lock(mutex_);
  open_ = open;
}

bool SimShop::open() const {
  MutexLock lock(mutex_);
  return open_;
}

void SimShop::setConsignVariant(int variant) {
  if (variant != 1 && variant != 2) throw Exception("consign form variant must be 1 or 2", 1);
  MutexLock lock(mutex_);
  consignVariant_ = variant;
}

int SimShop::consignVariant() const {
  MutexLock lock(mutex_);
  return consignVariant_;
}

void SimShop::setConsignDummy(std::optional<std::string> value) {
  MutexLock lock(mutex_);
  consignDummy_ = std::move(value);
}

std::optional<std::string> SimShop::consignDummy() const {
  MutexLock lock(mutex_);
  return consignDummy_;
}

void SimShop::setGoodsPageSize(int size) {
  if (size < 1) throw Exception("goods page size must be at least 1", 1);
  MutexLock lock(mutex_);
  goodsPageSize_ = size;
}

int SimShop::goodsPageSize() const {
  MutexLock lock(mutex_);
  return goodsPageSize_;
}

void SimShop::setArchivePrefix(const std::string& prefix) {
  bool ok = prefix.empty() || (prefix.size() > 1 && prefix[0] == '/');
  for (size_t k = 1; ok && k < prefix.size(); ++k) {
    char c = prefix[k];
    ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
  }
  if (!ok) throw Exception("archive prefix must be empty or \"/\" and a name", 1);
  MutexLock lock(mutex_);
  archivePrefix_ = prefix;
}

std::string SimShop::archivePrefix() const {
  MutexLock lock(mutex_);
  return archivePrefix_;
}

void SimShop::setFaults(const SimFaults& faults) {
  MutexLock lock(mutex_);
  faults_ = faults;
  if (faults_.slowMillis < 0) faults_.slowMillis = 0;
  if (faults_.consignAnswerDelayMillis < 0) faults_.consignAnswerDelayMillis = 0;
}

SimFaults SimShop::faults() const {
  MutexLock lock(mutex_);
  return faults_;
}

void SimShop::addDemoShop() {
  // Names carry GBK characters whose second byte is an ASCII code that
  // escaping or a pattern treats specially: 淺 \, 東 |, 乛 ^, 乕 [, 亄 {, 匽 ].
  // One title and one buyer end in 淺, so a string ends in a backslash byte.
  const char* titles[][2] = {
      {"移动话费充值卡100元 卡密自动发货【淺東】", "98.50"}, {"游戏点卡50点 卡号密码秒发 乛乕亄匽", "4.80"},
      {"网络电视会员月卡 激活码", "15.00"},                 {"杀毒软件一年授权 激活码 淺", "39.00"},
      {"在线词典高级版 兑换码 東乛乕亄匽淺", "9.90"},       {"云盘扩容卡1TB一年 激活码", "59.00"},
  };
  std::vector<SimItem> added;
  for (const auto& t : titles) added.push_back(addItem({"", gbk(t[0]), t[1], ""}));

  SimOrderRequest paid;
  paid.buyer = gbk("快乐的小买家東乛淺");
  paid.email = "buyer01@example.com";
  paid.ww = gbk("快乐淺東乛");
  paid.lines = {{added[0].id, 1}};
  addOrder(paid);

  SimOrderRequest done;
  done.buyer = gbk("老顾客阿明乕亄匽");
  done.email = "buyer02@example.com";
  done.lines = {{added[1].id, 2}, {added[4].id, 1}};
  done.state = kSimCompleted;
  done.archive = true;
  addOrder(done);
}

}  // namespace Quorvel
