// The order search of the orders view ("order lst" with `q`, `from`, `to`
// and a group, 20 orders a page) on 100,000 orders (by default) over a year,
// each with one goods line and one delivered card, beside 200,000 unsent
// cards: the whole action as the server runs it (dispatchRequest on a parsed
// request: count, page, goods lines, answer). Each search runs `rounds`
// times; prints the median and the slowest in milliseconds, and whether
// every median stays under 50 ms.
//
//   build/bench/search/order_search_bench [orders [rounds]]
//
// The database sits in TMPDIR; TMPDIR=/dev/shm leaves the disk out.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "api/OrderActions.h"
#include "base/Charset.h"
#include "base/ProcessWide.h"
#include "bench/support/BenchDatabase.h"
#include "port/LocalTime.h"
#include "server/ActionTable.h"
#include "store/Category.h"
#include "store/Db.h"
#include "store/Item.h"

using namespace Quorvel;

namespace {

constexpr double kBoundMs = 50;

struct Search {
  const char* what;
  std::vector<std::pair<std::string, std::string>> form;
};

}  // namespace

int main(int argc, char** argv) {
  const int orders = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 21;
  bench::BenchDatabase database("search");

  // Order i: number 3000000000000000000 + i * 7919, buyer "买家" + i % 20000
  // (five orders each), placed i * 300 s before the newest, mostly
  // delivered, one in fifty failed; card "CARD" + i went out with it.
  const std::int64_t newest = port::localDayStart({2026, 12, 8}) + 12 * 3600;
  const std::string count = std::to_string(orders);
  const std::string mark = Item::deliveredMark("");
  const auto build = std::chrono::steady_clock::now();
  {
    std::shared_ptr<IDb> db = getDb();
    db->begin();
    db->exec("insert into `category` (`id`,`name`) values (1,'cards')");
    db->exec("with recursive n(i) as (select 1 union all select i+1 from n where i<" + count +
             ") insert into `orders` (`id`,`order_id`,`order_url`,`time`,`status`,`order_status`,`buyer`,"
             "`buyer_email`,`buyer_ww`,`text_msg`,`send_msg`) select i, cast(3000000000000000000 + i * 7919 as "
             "text), 'https://trade.example/detail?id='||i, " +
             std::to_string(newest) + " - i * 300, case when i % 50 = 0 then 1001 else 2 end, 2, '" + gbk("买家") +
             "'||(i % 20000), 'buyer'||(i % 20000)||'@example.com', '" + gbk("买家") + "'||(i % 20000), '" +
             gbk("卡号：") + "CARD'||i||' " + gbk("密码：") + "PW'||i, '' from n");
    db->exec("with recursive n(i) as (select 1 union all select i+1 from n where i<" + count +
             ") insert into `order_goods` (`o_id`,`item_id`,`category_id`,`goods_name`,`num`,`text_msg`) "
             "select i, 520000000000 + i % 40, 1, '" + gbk("话费充值卡 100 元") + "', 1, '' from n");
    db->exec("with recursive n(i) as (select 1 union all select i+1 from n where i<" + count +
             ") insert into `items` (`cg_id`,`data1`,`data2`,`send_order_id`) select 1, 'CARD'||i, 'PW'||i, '" +
             mark + "'||cast(3000000000000000000 + i * 7919 as text) from n");
    db->exec("with recursive n(i) as (select 1 union all select i+1 from n where i<200000) insert into `items` "
             "(`cg_id`,`data1`,`data2`) select 1, 'NEW'||i, 'PW'||i from n");
    db->commit();
  }
  Category::instance()->load(getDb());
  registerOrderActions(Env());
  std::printf("%d orders, %d cards built in %.1f s\n", orders, orders + 200000,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - build).count());

  const int middle = orders / 2;
  const std::string number = std::to_string(3000000000000000000LL + static_cast<long long>(middle) * 7919);
  const std::string day = port::dateText(port::localDateOf(newest - static_cast<std::int64_t>(middle) * 300));
  const std::vector<Search> searches = {
      {"whole order number", {{"q", number}}},
      {"first 12 digits of an order number", {{"q", number.substr(0, 12)}}},
      {"buyer (five orders)", {{"q", "买家12345"}}},
      {"buyer prefix (many orders)", {{"q", "买家1"}}},
      {"buyer e-mail", {{"q", "buyer777@example.com"}}},
      {"delivered card", {{"q", "CARD" + std::to_string(middle)}}},
      {"nothing found", {{"q", "no such text"}}},
      {"one day", {{"from", day}, {"to", day}}},
      {"one day, failed", {{"from", day}, {"to", day}, {"group", "failed"}}},
      {"a month, delivered, buyer", {{"from", "2026-11-01"}, {"to", "2026-11-30"}, {"group", "delivered"},
                                     {"q", "买家1"}}},
      {"a year of failed orders, last page", {{"from", "2025-12-08"}, {"group", "failed"}, {"page", "1000000"}}},
      {"all orders, last page", {{"page", "1000000"}}},
      {"delivered, first page", {{"group", "delivered"}}},
      {"failed, first page", {{"group", "failed"}}},
  };
  bool within = true;
  for (const Search& search : searches) {
    HttpRequest request;
    request.query = {{"do", "order"}, {"action", "lst"}, {"callback", "cb"}};
    request.post = {{"page_num", "20"}};
    for (const auto& [key, value] : search.form) request.post[key] = gbk(value);
    std::vector<double> times;
    bool succeeded = true;
    for (int k = 0; k < std::max(rounds, 1); ++k) {
      HttpRequest copy = request;
      const auto start = std::chrono::steady_clock::now();
      dispatchRequest(copy);
      times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      resetDbForNextAction();
      succeeded = succeeded && copy.responseBody.find("\"SUCCESS\" : 1") != std::string::npos;
      if (k == 0 && !succeeded) std::printf("%s\n", copy.responseBody.substr(0, 400).c_str());
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    within = within && succeeded && median < kBoundMs;
    std::printf("%-40s median %7.2f ms  slowest %7.2f ms%s\n", search.what, median, times.back(),
                succeeded ? "" : "  FAILED");
  }
  std::printf("every search %s %.0f ms\n", within ? "under" : "NOT under", kBoundMs);
  releaseDb();
  resetProcessWide();
  return within ? 0 : 1;
}
