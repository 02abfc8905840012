// The order tick's first two steps on a large shop: a paid-orders list of 200
// orders, then each order's 1 MB detail page and the snapshot pages of its
// two goods lines, read over HTTP from a loopback server and stored in a
// temporary database, as the daemon does. Reports orders per second, and the
// share of that time the page patterns take (the same pages searched again
// in memory, without the network and the database), beside the time the
// pages take to fetch and read without storing anything. The database is in
// the system's temporary folder (TMPDIR): every order's details are one
// commit, so a slow disk shows in the orders per second.
//
//   build/bench/orders/orders_bench [orders [detail page bytes [rounds]]]
//
// Defaults: 200 orders, 1048576 bytes, 3 rounds; the best round is reported.
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/Charset.h"
#include "base/ProcessWide.h"
#include "delivery/OrderIntake.h"
#include "market/CookieJar.h"
#include "market/HttpClient.h"
#include "market/MarketHosts.h"
#include "market/OrderScraper.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"
#include "store/GoodsCategoryMap.h"
#include "store/SystemConfig.h"
#include "store/ThreadConnections.h"

namespace Quorvel {
namespace {

using Steady = std::chrono::steady_clock;

double secondsSince(Steady::time_point start) {
  return std::chrono::duration<double>(Steady::now() - start).count();
}

// Markup and Chinese text of the kind that fills a seller page: rows of other
// trades with links, prices, buyer notes and scripts.
std::string filler(int row) {
  return "<tr class=\"order-row\"><td class=\"item\"><a href=\"http://item.example.com/item.htm?id=" +
         std::to_string(100000 + row) + "\" target=\"_blank\">" + gbk("移动话费充值卡 全国通用 自动发货 秒到") +
         "</a></td>\r\n<td class=\"price\">" + gbk("￥") + "49.50</td><td>" + gbk("买家留言：请尽快发货，谢谢！") +
         "</td>\r\n<td><span class=\"note\">" + gbk("当前状态：交易进行中") + "</span><script>var t" +
         std::to_string(row) + "={a:1,b:'x'};</script></td></tr>\r\n";
}

// The site the scraper reads: list, details, snapshots, on 127.0.0.1.
class Site {
 public:
  Site(int orders, size_t pageBytes) : orders_(orders) {
    for (int row = 0; bulk_.size() < pageBytes; ++row) bulk_ += filler(row);
    server_.Get("/trade/itemlist/list_sold_items.htm", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(list(), "text/html;charset=gbk");
    });
    server_.Get("/trade/detail/trade_item_detail.htm", [this](const httplib::Request& req, httplib::Response& res) {
      res.set_content(detail(req.get_param_value("bizOrderId")), "text/html;charset=gbk");
    });
    server_.Get("/trade/detail/trade_snap.htm", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(snapshot(req.get_param_value("trade_id")), "text/html;charset=gbk");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~Site() {
    server_.stop();
    thread_.join();
  }

  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

  std::string list() const {
    std::string page = "<html><body><table>\r\n";
    for (int order = 0; order < orders_; ++order) {
      for (int row = 0; row < 8; ++row) page += filler(order * 8 + row);
      page += "<a href=\"" + base() + "/trade/detail/trade_item_detail.htm?bizOrderId=" +
              std::to_string(2012000000 + order) + "\" class=\"detail-link\" target=\"_blank\">" + gbk("详情") +
              "</a>\r\n";
    }
    return page + "</table></body></html>";
  }

  // A goods snapshot: the shop's link, then the item's (id 52012345 and the
  // trade id's last four digits).
  static std::string snapshot(const std::string& trade) {
    return "<html><body><a href=\"/shop/view_shop.htm?user_number_id=2012\">shop</a>" + gbk("快照") +
           "<a href=\"/item.htm?id=52012345" + trade.substr(trade.size() - std::min<size_t>(trade.size(), 4)) +
           "\">item</a></body></html>";
  }

  // The bulk of the page first, the parts the scraper reads after it, as on
  // the real detail page.
  std::string detail(const std::string& number) const {
    std::string tail = gbk("当前订单状态：") + "<span class=\"wait\">\r\n\t\t" + gbk("买家已付款，等待卖家发货") +
                       "\t\r\n</span>\r\n";
    for (int line = 0; line < 2; ++line) {
      tail += "<tr><td><a href=\"" + base() + "/trade/detail/trade_snap.htm?trade_id=" + number +
              std::to_string(line) + "\" title=\"" + gbk("淺亄匽 话费充值卡") + std::to_string(line) +
              "\">snap</a></td><td class=\"num\">" + std::to_string(line + 1) +
              "</td><td class=\"total\">9.90</td></tr>\r\n";
    }
    tail += "<span class=\"nickname\">" + gbk("東乛乕") + "</span>" + gbk("邮件：") +
            "<a class=\"mail\" href=\"mailto:b@example.com\"><span>b@example.com</span></a>"
            "<span class=\"J_WangWang\" data-nick=\"" + gbk("東乛乕") + "\" data-display=\"inline\">"
            "<span class=\"alilay-num\">2012120712345</span><span class=\"order-num\">" + number + "</span>";
    return "<html><body>\r\n" + bulk_ + tail + "</body></html>";
  }

 private:
  int orders_;
  std::string bulk_;
  httplib::Server server_;
  std::thread thread_;  // the accept loop, until the destructor stops it
  int port_ = 0;
};

// What the scraper's patterns do for one round, on the pages in memory.
void patternsOnly(const Site& site, int orders) {
  std::vector<std::pair<std::string, std::string>> listed = OrderScraper::listedOrders(site.list());
  for (int order = 0; order < orders; ++order) {
    const std::string number = std::to_string(2012000000 + order);
    DetailPage read = OrderScraper::readDetailPage(order + 1, site.detail(number));
    for (size_t line = 0; line < read.snapshots.size(); ++line) {
      OrderScraper::itemIdOf(Site::snapshot(number + std::to_string(line)));
    }
  }
}

// The same page building without the patterns, to take out of patternsOnly.
void pagesOnly(const Site& site, int orders) {
  volatile size_t bytes = site.list().size();
  for (int order = 0; order < orders; ++order) {
    const std::string number = std::to_string(2012000000 + order);
    bytes = bytes + site.detail(number).size();
    for (int line = 0; line < 2; ++line) bytes = bytes + Site::snapshot(number + std::to_string(line)).size();
  }
}

int run(int orders, size_t pageBytes, int rounds) {
  const auto dir = std::filesystem::temp_directory_path() / ("quorvel-orders-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto options = std::make_shared<DatabaseOptions>();
  options->path = (dir / "vendara2012.db").string();
  options->templatePath = QUORVEL_TEMPLATE_DB;
  Env env;
  env.set(options);
  installProcessWide(std::make_shared<ThreadConnections>(env));
  prepareDatabaseFile();
  CookieJar::instance()->open((dir / "cookie.txt").string());

  Site site(orders, pageBytes);
  SystemConfig::instance()->set(getDb(), "market_base", site.base());
  GoodsCategoryMap::instance()->bind(getDb(), "520123450000", 1);
  std::shared_ptr<IDb> db = getDb();

  double bestPipeline = 1e9;
  for (int round = 0; round < rounds; ++round) {
    db->exec("delete from `orders`; delete from `order_goods`;");
    OrderIntake intake(env);
    Steady::time_point start = Steady::now();
    intake.fetchPaidOrders(db);
    intake.parseNewOrders(db);
    bestPipeline = std::min(bestPipeline, secondsSince(start));
    auto stored = db->query("select count(*) as `num` from `orders` where `status`=1");
    stored->next();
    if ((*stored->fetch())["num"].toInt() != orders) {
      std::fprintf(stderr, "orders_bench: not every order was read\n");
      return 1;
    }
  }
  // The same pages fetched and read, nothing stored.
  double bestFetched = 1e9;
  for (int round = 0; round < rounds; ++round) {
    Steady::time_point start = Steady::now();
    std::vector<std::pair<std::string, std::string>> listed =
        OrderScraper::listedOrders(httpGet(env, MarketHosts::paidOrdersPage()));
    for (size_t order = 0; order < listed.size(); ++order) {
      OrderScraper::parseOrderDetail(env, static_cast<int>(order) + 1, listed[order].second);
    }
    bestFetched = std::min(bestFetched, secondsSince(start));
  }
  double bestPatterns = 1e9;
  double bestPages = 1e9;
  for (int round = 0; round < rounds; ++round) {
    Steady::time_point start = Steady::now();
    patternsOnly(site, orders);
    bestPatterns = std::min(bestPatterns, secondsSince(start));
    start = Steady::now();
    pagesOnly(site, orders);
    bestPages = std::min(bestPages, secondsSince(start));
  }
  const double patterns = std::max(bestPatterns - bestPages, 0.0);

  std::printf("orders: %d, detail page: %zu bytes, goods lines per order: 2, best of %d rounds\n", orders,
              site.detail("2012000000").size(), rounds);
  std::printf("list + details + snapshots + store: %.3f s, %.1f orders/s\n", bestPipeline, orders / bestPipeline);
  std::printf("the same pages fetched and read, nothing stored: %.3f s (%.1f%% of the pipeline)\n", bestFetched,
              100.0 * bestFetched / bestPipeline);
  std::printf("patterns on the same pages alone: %.3f s, %.1f%% of the pipeline\n", patterns,
              100.0 * patterns / bestPipeline);

  db.reset();
  releaseDb();
  resetProcessWide();
  std::filesystem::remove_all(dir);
  return 0;
}

}  // namespace
}  // namespace Quorvel

int main(int argc, char** argv) {
  const int orders = argc > 1 ? std::atoi(argv[1]) : 200;
  const long pageBytes = argc > 2 ? std::atol(argv[2]) : 1024 * 1024;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  if (orders < 1 || orders > 100000 || pageBytes < 1 || rounds < 1) {
    std::fprintf(stderr, "usage: orders_bench [orders [detail page bytes [rounds]]]\n");
    return 2;
  }
  return Quorvel::run(orders, static_cast<size_t>(pageBytes), rounds);
}
