// market-sim: a marketplace seller site on 127.0.0.1 for tests and demos. One
// server stands for every marketplace host (login, seller site, trade and its
// archive, item, logistics, rating, web IM): the client's `market_base`
// setting points them all at http://127.0.0.1:PORT. Addresses served:
//
//   /member/login.jhtml                     login page (GET), login form (POST)
//   /auction/goods/goods_on_sale.htm?page=N goods on sale, a few per page
//   /trade/itemlist/list_sold_items.htm?Q   sold items, first page: the paid
//                 orders for Q = kPaidOrdersQuery, the shipped or completed
//                 orders not rated yet for Q = kUnratedOrdersQuery, both byte
//                 for byte; any other query lists no order
//   /trade/detail/trade_item_detail.htm?bizOrderId=N   order detail
//   /trade/detail/trade_snap.htm?trade_id=N            goods snapshot
//   /archive/trade/detail/trade_snap.htm?trade_id=N    the same snapshot on the
//                 trade archive host. The archive host is the base address
//                 followed by the shop's archive prefix: empty by default, so
//                 that a client pointing every host at one base address finds
//                 archived snapshots too; set it to "/archive" (control
//                 setting "archive_prefix") for a client whose archive host
//                 setting is the base address + "/archive". The snapshot of an
//                 archived order links the item page with "item_id=" where
//                 the others use "id="
//   /item.htm?id=N (or item_id=N)           item page
//   /user/consign.htm?trade_id=N            GET redirects (302) to the page's
//                 current address, /logistics/consign/online_consign.htm?
//                 trade_id=N, which serves the "orderForm" form and takes its
//                 POST; a POST to the old address is refused. The POST must
//                 carry the form's token and order, "action", a non-empty
//                 "event_submit_do_dummy", empty "_fmw.f._0.fe",
//                 "_fmw.f._0.fet" and "mailNo", and a note
//                 ("_fmw.n._0.g") of at most 128 bytes; only a paid order
//                 is shipped
//   /trade/memo/update_sell_memo.htm?user_type=1&biz_order_id=N  seller memo
//   /remark_buyer.jhtml?tradeID=N, /remarkBuyer.htm  rating form, submission
//   /webww/?ver=1&&touid=...&siteid=cntaobao&status=1  web IM page
//   /member/jump.htm?to=PATH                the hop of the redirect-loop fault
//   /__sim/...                              the control interface (SimControl)
//
// Seller pages need the session cookie set by a successful login (or the open
// switch); without it they show the login box. Pages are GBK with
// "Content-Type: text/html;charset=gbk". Faults never touch /__sim/.
//
// start, stop, port and baseUrl are for the owning thread; shop() may be used
// from any thread. The server's own threads (cpp-httplib's pool) answer the
// requests; the listening thread is owned by this object and joined by stop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/Mutex.h"
#include "sim/SimShop.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace Quorvel {

struct SimOptions {
  std::string account = "vendara_demo";  // GBK
  std::string password = "demo1234";     // GBK
  bool open = false;                     // every request counts as logged in
  bool demoShop = true;                  // start with the demo items and orders
};

class MarketSim {
 public:
  static constexpr const char* kSessionCookie = "msess";
  // The two queries of the sold-items list the client sends.
  static constexpr const char* kPaidOrdersQuery =
      "action=itemlist%2FQueryAction&auctionStatus=PAID&bizOrderHourBegin=00&bizOrderHourEnd=00"
      "&closeorder_flag=1&commentStatus=ALL&event_submit_do_query=1&fromTag=true&isArchive=false"
      "&isArchiveDefault=0&isOwnOfficialShop=false&logisticsService=ALL&order=desc&order_type=orderList"
      "&pageNum=1&queryTag=0&shopName=All&tradeDissension=ALL&user_type=1";
  static constexpr const char* kUnratedOrdersQuery =
      "action=itemlist%2FQueryAction&auctionStatus=ALL&auctionTitle=&bizOrderHourBegin=00"
      "&bizOrderHourEnd=00&bizOrderMinBegin=00&bizOrderMinEnd=00&closeorder_flag=1"
      "&commentStatus=I_HAS_NOT_COMMENT&event_submit_do_query=1&fromTag=true&isArchive=false"
      "&isArchiveDefault=0&isOwnOfficialShop=false&isQueryMore=false&logisticsService=ALL&order=desc"
      "&order_type=orderList&pageNum=1&queryTag=0&shopName=All&tradeDissension=ALL&user_type=1";

  explicit MarketSim(SimOptions options = {});
  ~MarketSim();
  MarketSim(const MarketSim&) = delete;
  MarketSim& operator=(const MarketSim&) = delete;

  // Listens on 127.0.0.1:port (0 picks a free port) and serves in the
  // background; the port accepts connections when start returns. Raises
  // Exception when the port cannot be taken or the simulator already runs.
  void start(int port);
  // Ends slow answers in progress, stops the server and joins its thread.
  // Safe to call twice.
  void stop();

  int port() const { return port_; }
  std::string baseUrl() const;  // "http://127.0.0.1:PORT"
  SimShop& shop() { return shop_; }
  // Answers the slow fault is holding back right now (any thread).
  int heldAnswers() const { return held_; }

 private:
  void handle(const httplib::Request& req, httplib::Response& res, const std::string& body);
  void serveSite(const httplib::Request& req, httplib::Response& res, const std::string& body,
                 const std::string& base);
  bool loggedIn(const httplib::Request& req) const;
  // Waits, but returns early (false) when the simulator stops.
  bool pause(int millis);

  SimShop shop_;
  std::unique_ptr<httplib::Server> server_;
  std::thread listener_;  // runs the accept loop until stop
  int port_ = 0;

  Mutex stopMutex_;
  std::condition_variable_any stopSignal_;
  bool stopping_ GUARDED_BY(stopMutex_) = false;  // guarded by stopMutex_
  std::atomic<int> held_{0};
  std::atomic<bool> listenerDone_{true};  // set by the listening thread when it ends
};

}  // namespace Quorvel
