#include "market/MarketHosts.h"

#include <mutex>

#include "market/PageText.h"

namespace Quorvel {

// The production source of the settings (MarketSettings.cpp).
std::string marketEndpointSetting(const std::string& key);

namespace {

std::string setting(const std::string& key) { return marketEndpointSetting(key); }

std::string base(const std::string& key) {
  std::string value = setting("market_base");
  if (value.empty()) value = setting(key);
  if (value.find("://") == std::string::npos) value = "http://" + value;
  while (!value.empty() && value.back() == '/') value.pop_back();
  return value;
}

const char kSoldItemsPath[] = "/trade/itemlist/list_sold_items.htm";

}  // namespace

std::string MarketHosts::loginBase() { return base("market_login_host"); }
std::string MarketHosts::sellerBase() { return base("market_seller_host"); }
std::string MarketHosts::tradeBase() { return base("market_trade_host"); }
std::string MarketHosts::tradeArchiveBase() { return base("market_trade_archive_host"); }
std::string MarketHosts::itemBase() { return base("market_item_host"); }
std::string MarketHosts::logisticsBase() { return base("market_logistics_host"); }
std::string MarketHosts::rateBase() { return base("market_rate_host"); }
std::string MarketHosts::webImBase() { return base("market_webim_host"); }

std::string MarketHosts::loginPage() { return loginBase() + "/member/login.jhtml"; }

std::string MarketHosts::goodsOnSalePage(int page) {
  return sellerBase() + "/auction/goods/goods_on_sale.htm?page=" + std::to_string(page);
}

std::string MarketHosts::paidOrdersPage() {
  return tradeBase() + kSoldItemsPath +
         "?action=itemlist%2FQueryAction&auctionStatus=PAID&bizOrderHourBegin=00&bizOrderHourEnd=00"
         "&closeorder_flag=1&commentStatus=ALL&event_submit_do_query=1&fromTag=true&isArchive=false"
         "&isArchiveDefault=0&isOwnOfficialShop=false&logisticsService=ALL&order=desc&order_type=orderList"
         "&pageNum=1&queryTag=0&shopName=All&tradeDissension=ALL&user_type=1";
}

std::string MarketHosts::unratedOrdersPage() {
  return tradeBase() + kSoldItemsPath +
         "?action=itemlist%2FQueryAction&auctionStatus=ALL&auctionTitle=&bizOrderHourBegin=00"
         "&bizOrderHourEnd=00&bizOrderMinBegin=00&bizOrderMinEnd=00&closeorder_flag=1"
         "&commentStatus=I_HAS_NOT_COMMENT&event_submit_do_query=1&fromTag=true&isArchive=false"
         "&isArchiveDefault=0&isOwnOfficialShop=false&isQueryMore=false&logisticsService=ALL&order=desc"
         "&order_type=orderList&pageNum=1&queryTag=0&shopName=All&tradeDissension=ALL&user_type=1";
}

std::string MarketHosts::consignPage(const std::string& orderId) {
  return logisticsBase() + "/user/consign.htm?trade_id=" + orderId;
}

std::string MarketHosts::sellerMemoPage(const std::string& orderId) {
  return tradeBase() + "/trade/memo/update_sell_memo.htm?user_type=1&biz_order_id=" + orderId;
}

std::string MarketHosts::rateFormPage(const std::string& tradeId) {
  return rateBase() + "/remark_buyer.jhtml?tradeID=" + tradeId;
}

std::string MarketHosts::rateSubmitPage() { return rateBase() + "/remarkBuyer.htm"; }

std::string MarketHosts::webImPage(const std::string& encodedChatName) {
  // The doubled "&" belongs to the address the IM client expects.
  return webImBase() + "/webww/?ver=1&&touid=cntaobao" + encodedChatName + "&siteid=cntaobao&status=1";
}

std::string MarketHosts::hostPattern(const std::string& base) {
  size_t scheme = base.find("://");
  std::string hostPort = scheme == std::string::npos ? base : base.substr(scheme + 3);
  return "https?://" + quotePattern(hostPort);
}

std::string MarketHosts::snapshotLinkPattern() {
  std::string trade = hostPattern(tradeBase());
  std::string archive = hostPattern(tradeArchiveBase());
  return "<a href=\"((?:" + trade + "|(" + archive + "))/trade/detail/trade_snap\\.htm\\?trade_id=([0-9]+))\" "
         "title=\"([^\"]+)\"";
}

}  // namespace Quorvel
