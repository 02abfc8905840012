// The addresses of the marketplace's seller pages and the host parts of the
// page patterns. Every host comes from an endpoint setting (keys
// "market_login_host", "market_seller_host", "market_trade_host",
// "market_trade_archive_host", "market_item_host", "market_logistics_host",
// "market_rate_host", "market_webim_host"); a non-empty "market_base" points
// every one of them at that single address (the simulator). A setting may be
// a bare host name ("trade.example.com", reached over http) or a base address
// with scheme and port ("http://127.0.0.1:18090"); a trailing "/" is dropped.
//
// The settings are read at every call, so a changed setting takes effect on
// the next page. Any thread may call every member.
#pragma once

#include <functional>
#include <string>

namespace Quorvel {

class MarketHosts {
 public:
  // Base addresses: scheme, host and port, without a trailing "/".
  static std::string loginBase();
  static std::string sellerBase();
  static std::string tradeBase();
  static std::string tradeArchiveBase();
  static std::string itemBase();
  static std::string logisticsBase();
  static std::string rateBase();
  static std::string webImBase();

  // Page addresses.
  static std::string loginPage();                                     // /member/login.jhtml
  static std::string goodsOnSalePage(int page);                       // ?page=N
  static std::string paidOrdersPage();                                // sold items, paid
  static std::string unratedOrdersPage();                             // sold items, not yet rated
  static std::string consignPage(const std::string& orderId);         // ?trade_id=
  static std::string sellerMemoPage(const std::string& orderId);      // ?user_type=1&biz_order_id=
  static std::string rateFormPage(const std::string& tradeId);        // ?tradeID=
  static std::string rateSubmitPage();                                // /remarkBuyer.htm
  static std::string webImPage(const std::string& encodedChatName);   // /webww/?ver=1&&touid=cntaobao...

  // A pattern matching the address `base` in a page: "http" or "https",
  // "://", then its host and port quoted. No capture group.
  static std::string hostPattern(const std::string& base);
  static std::string itemHostPattern() { return hostPattern(itemBase()); }

  // The snapshot link of an order detail page: group 1 the snapshot address,
  // group 2 non-empty when it is on the trade archive host, group 3 the trade
  // id, group 4 the link's title.
  static std::string snapshotLinkPattern();
};

}  // namespace Quorvel
