#include "market/OrderScraper.h"

#include <charconv>
#include <utility>

#include "base/Charset.h"
#include "market/AuthException.h"
#include "market/CurlException.h"
#include "market/HttpClient.h"
#include "market/LoginPage.h"
#include "market/MarketHosts.h"
#include "market/PageText.h"

namespace Quorvel {

namespace {

AuthException loginLost() { return AuthException(gbk("请重新登录"), 1); }

// The page patterns. Chinese literals are quoted: a GBK trail byte may be a
// pattern character.
std::string detailLinkPattern() {
  return "<a href=\"([^\"]+?)\" class=\"detail-link\" target=\"_blank\">" + quotePattern(gbk("详情")) + "</a>";
}
const char kOrderNumberInUrl[] = "bizOrderId=([0-9]+)";
std::string statePattern() {
  return quotePattern(gbk("当前订单状态：")) + "<span class=\"wait\">\\s*([^\\s<]+)\\s*";
}
const char kQuantityCell[] = "<td class=\"num\">([0-9]+)</td>";
const char kItemLink[] = "item.htm\\?(item_)?id=([0-9]+)";
const char kBuyer[] = "<span class=\"nickname\">([^<]+)</span>";
std::string mailPattern() {
  return quotePattern(gbk("邮件：")) + "<a class=\"mail\" href=\"[^\"]+\"><span>([^<]+)</span>";
}
const char kWangWang[] = "<span class=\"J_WangWang\" data-nick=\"([^\"]+)\" data-display=\"inline\">";
const char kAlipayNumber[] = "<span class=\"alilay-num\">([^<]+)</span>";
const char kOrderNumber[] = "<span class=\"order-num\">([^<]+)</span>";

// The marketplace's state for the text after "当前订单状态："; kUnknown for
// any other.
MarketState orderStateOf(const std::string& text) {
  static const std::pair<MarketState, const char*> kStates[] = {
      {MarketState::kAwaitingPayment, "宝贝已买下，等待付款。"},
      {MarketState::kPaid, "买家已付款，等待卖家发货"},
      {MarketState::kShipped, "卖家已发货，等待买家确认"},
      {MarketState::kCompleted, "交易成功"},
      {MarketState::kClosed, "交易关闭"},
  };
  for (const auto& [state, utf8] : kStates) {
    if (text == gbk(utf8)) return state;
  }
  return MarketState::kUnknown;
}

// Group 1 of the pattern's first match; empty when it does not match.
std::string firstGroup(const std::string& pattern, const std::string& page) {
  std::vector<std::string> groups;
  return regexMatch(pattern, page, groups) ? groups[1] : std::string();
}

// A quantity too large for an int counts as missing.
int quantityOf(const std::string& digits) {
  int value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return error == std::errc() && end == digits.data() + digits.size() ? value : 0;
}

// The page's body, or CurlException with the client's reason.
std::string fetchPage(const Env& env, const std::string& what, const std::string& url) {
  HttpResult result = httpFetch(env, url, {});
  if (!result.ok()) throw CurlException("The " + what + " " + url + " cannot be fetched: " + result.reason(), 1);
  return std::move(result.body);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> OrderScraper::listedOrders(const std::string& page) {
  std::vector<std::pair<std::string, std::string>> orders;
  std::vector<std::vector<std::string>> links;
  regexMatchAll(detailLinkPattern(), page, links);
  std::vector<std::string> number;
  for (const std::vector<std::string>& link : links) {
    if (!regexMatch(kOrderNumberInUrl, link[1], number)) continue;
    orders.emplace_back(number[1], link[1]);
  }
  return orders;
}

std::vector<ListedOrder> OrderScraper::listPaidOrders(const Env& env) {
  const std::string page = httpGet(env, MarketHosts::paidOrdersPage());
  if (showsLoginBox(page)) throw loginLost();
  std::vector<ListedOrder> orders;
  for (auto& [number, url] : listedOrders(page)) orders.push_back({std::move(number), std::move(url)});
  return orders;
}

DetailPage OrderScraper::readDetailPage(int id, const std::string& page) {
  DetailPage read;
  OrderInfo& info = read.info;
  info.id = id;
  info.order_status = orderStateOf(firstGroup(statePattern(), page));

  std::vector<std::vector<std::string>> links;
  regexMatchAll(MarketHosts::snapshotLinkPattern(), page, links);
  for (const std::vector<std::string>& link : links) {
    OrderGoods line;
    line.goods_name = link[4];
    info.goods.push_back(std::move(line));
    read.snapshots.push_back(link[1]);
  }
  std::vector<std::vector<std::string>> cells;
  regexMatchAll(kQuantityCell, page, cells);
  for (size_t k = 0; k < cells.size() && k < info.goods.size(); ++k) info.goods[k].num = quantityOf(cells[k][1]);

  info.buyer = firstGroup(kBuyer, page);
  info.buyer_email = firstGroup(mailPattern(), page);
  info.buyer_ww = firstGroup(kWangWang, page);
  info.alipay_id = firstGroup(kAlipayNumber, page);
  info.order_id = firstGroup(kOrderNumber, page);
  return read;
}

std::string OrderScraper::itemIdOf(const std::string& snapshotPage) {
  std::vector<std::string> groups;
  return regexMatch(kItemLink, snapshotPage, groups) ? groups[2] : std::string();
}

OrderInfo OrderScraper::parseOrderDetail(const Env& env, int id, const std::string& url) {
  const std::string page = fetchPage(env, "order detail page", url);
  // Read from a login page, a paid order would be stored with no state and
  // then refused by the delivery.
  if (showsLoginBox(page)) throw loginLost();
  DetailPage read = readDetailPage(id, page);
  // One more page per goods line. A snapshot that cannot be fetched fails
  // the whole read: a line without its item id would find no category and
  // the order would be finished without its cards.
  for (size_t k = 0; k < read.snapshots.size(); ++k) {
    read.info.goods[k].item_id = itemIdOf(fetchPage(env, "goods snapshot", read.snapshots[k]));
  }
  return std::move(read.info);
}

}  // namespace Quorvel
