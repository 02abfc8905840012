// OrderScraper: the marketplace's side of the first two steps of the order
// worker's tick. listPaidOrders reads the sold-items list of paid orders;
// parseOrderDetail reads one order's detail page (buyer, payment number,
// marketplace state, goods lines with their item ids from the snapshot
// pages). It only reads pages: recording the orders, binding their lines and
// telling the seller is the delivery's intake (delivery/OrderIntake.h).
// parseOrderDetail is also what the delivery reads again just before it
// delivers.
//
// Pure page reading without state: any thread may call it. The pages are
// fetched with the Env it is given (market/HttpClient.h).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/Env.h"
#include "store/Order.h"

namespace Quorvel {

// A detail page read without its snapshot pages: the order's fields, its goods
// lines with names and quantities, and each line's snapshot address.
struct DetailPage {
  OrderInfo info;
  std::vector<std::string> snapshots;  // one per goods line, in page order
};

// One order on the paid-orders list: its number and its detail page.
struct ListedOrder {
  std::string number;
  std::string url;
};

class OrderScraper {
 public:
  // The paid orders listed on the marketplace, in page order. Raises
  // AuthException("请重新登录", 1) when the list shows the login box.
  static std::vector<ListedOrder> listPaidOrders(const Env& env);

  // Fetches and reads the order's detail page and the snapshot page of each
  // goods line. Fields the pages do not show stay at their defaults. Raises
  // CurlException, with the client's reason, when a page cannot be fetched
  // (no answer, or not a 2xx answer), and AuthException when the detail page
  // shows the login box.
  static OrderInfo parseOrderDetail(const Env& env, int id, const std::string& url);

  // Reads one detail page body (GBK) without fetching anything.
  static DetailPage readDetailPage(int id, const std::string& page);
  // The item id a snapshot page links to; empty when it links none.
  static std::string itemIdOf(const std::string& snapshotPage);
  // The order numbers and detail addresses on one paid-orders list body, in
  // page order (links without an order number left out).
  static std::vector<std::pair<std::string, std::string>> listedOrders(const std::string& page);
};

}  // namespace Quorvel
