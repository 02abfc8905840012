// One-card paid orders delivered end to end against market-sim in this
// process: order ticks (paid list, detail and snapshot pages, then the
// delivery: detail read again, reservation, consign page and POST, finish,
// memo) until every order is delivered. Reports orders per second and how
// the wall time splits between the marketplace requests (the client's whole
// request time, the simulator's work included) and everything else (the
// database with its synced commits, the page patterns, the texts). The
// database is in the system's temporary folder (TMPDIR): every order costs
// several synced commits, so TMPDIR=/dev/shm leaves the disk out. The file
// runs in write-ahead-log mode, as the program's does.
//
//   build/bench/delivery/delivery_bench [orders]
//
// Default: 1000 orders. The run checks that every order ended delivered and
// was consigned once.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "base/Charset.h"
#include "base/ProcessWide.h"
#include "delivery/MarketPipeline.h"
#include "market/CookieJar.h"
#include "market/HttpClient.h"
#include "sim/MarketSim.h"
#include "store/Category.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"
#include "store/GoodsCategoryMap.h"
#include "store/Item.h"
#include "store/SystemConfig.h"
#include "store/ThreadConnections.h"

namespace Quorvel {
namespace {

using Steady = std::chrono::steady_clock;

double secondsSince(Steady::time_point start) { return std::chrono::duration<double>(Steady::now() - start).count(); }

int count(const std::shared_ptr<IDb>& db, const std::string& sql) {
  auto rows = db->query(sql);
  return rows->next() ? (*rows->fetch())["num"].toInt() : -1;
}

int run(int orders) {
  const auto dir = std::filesystem::temp_directory_path() / ("quorvel-delivery-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto options = std::make_shared<DatabaseOptions>();
  options->path = (dir / "vendara2012.db").string();
  options->templatePath = QUORVEL_TEMPLATE_DB;
  // The program's parts as main() builds them: one Env for the connections
  // and the pipeline, whose HttpTotals count the pipeline's requests.
  Env env;
  env.set(options);
  installProcessWide(std::make_shared<ThreadConnections>(env));
  prepareDatabaseFile();
  CookieJar::instance()->open((dir / "cookie.txt").string());

  SimOptions simOptions;
  simOptions.open = true;
  simOptions.demoShop = false;
  MarketSim sim(simOptions);
  sim.start(0);
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  config->set(getDb(), "market_base", sim.baseUrl());
  config->set(getDb(), "notice_type_email", "1");
  config->set(getDb(), "notice_mailto", "seller@example.com");
  config->set(getDb(), "notice_success_order", "1");

  std::shared_ptr<IDb> db = getDb();
  CategoryRecord category;
  category.name = gbk("话费卡");
  category.type = CategoryType::kCards;
  category.flg = CategorySwitch::kOn;
  category.tpl = gbk(R"({"cardTpl":"卡号：{数据1} 密码：{数据2}\r\n","goodsTpl":"{卡密内容}"})");
  category.ext = R"({"email":1})";
  Category::instance()->add(getDb(), category);
  db->exec("begin transaction");
  for (int k = 0; k < orders; ++k) {
    CardRecord card;
    card.cg_id = category.id;
    card.data1 = "CARD" + std::to_string(100000 + k);
    card.data2 = "PW" + std::to_string(900000 + k);
    Item::instance()->add(getDb(), card);
  }
  db->exec("commit transaction");
  const std::string item = sim.shop().addItem({"", gbk("移动话费充值卡 淺東"), "98.50", ""}).id;
  GoodsCategoryMap::instance()->bind(getDb(), item, category.id);
  for (int k = 0; k < orders; ++k) {
    SimOrderRequest wanted;
    wanted.buyer = gbk("買家") + std::to_string(k);
    wanted.email = "buyer" + std::to_string(k) + "@example.com";
    wanted.lines = {{item, 1}};
    sim.shop().addOrder(wanted);
  }

  std::shared_ptr<HttpTotals> http = env.get<HttpTotals>();
  const std::int64_t requestsBefore = http->requests.load();
  const std::int64_t nanosBefore = http->nanoseconds.load();
  MarketPipeline pipeline(env);
  int ticks = 0;
  // Per step of the tick: wall time, and time in marketplace requests.
  double stepWall[3] = {0, 0, 0};
  double stepRequests[3] = {0, 0, 0};
  auto timed = [&](int step, const std::function<void()>& work) {
    const std::int64_t nanos = http->nanoseconds.load();
    const Steady::time_point begun = Steady::now();
    work();
    stepWall[step] += secondsSince(begun);
    stepRequests[step] += (http->nanoseconds.load() - nanos) / 1e9;
  };
  const Steady::time_point start = Steady::now();
  // The paid list shows 20 orders a page: each tick delivers the next ones.
  while (count(db, "select count(*) as `num` from `orders` where `status`=2") < orders && ticks < orders + 10) {
    timed(0, [&] { pipeline.fetchPaidOrders(db); });
    timed(1, [&] { pipeline.parseNewOrders(db); });
    timed(2, [&] { pipeline.deliverOrders(db); });
    ++ticks;
  }
  const double wall = secondsSince(start);
  const double inRequests = (http->nanoseconds.load() - nanosBefore) / 1e9;
  const std::int64_t requests = http->requests.load() - requestsBefore;

  const int delivered = count(db, "select count(*) as `num` from `orders` where `status`=2");
  const size_t consigned = sim.shop().consignments().size();
  std::printf("orders: %d one-card orders, %d ticks, database in %s\n", orders, ticks, dir.parent_path().c_str());
  std::printf("delivered: %d, consigned: %zu, marketplace requests: %lld (%.1f per order)\n", delivered, consigned,
              static_cast<long long>(requests), static_cast<double>(requests) / orders);
  std::printf("wall time: %.3f s, %.1f orders/s\n", wall, orders / wall);
  const double localShare = 100.0 * (wall - inRequests) / wall;
  std::printf("in marketplace requests: %.3f s (%.1f%%); outside them: %.3f s (%.1f%%), %.2f ms per order\n",
              inRequests, 100.0 * inRequests / wall, wall - inRequests, localShare,
              1000.0 * (wall - inRequests) / orders);
  std::printf("local work: %.1f%% of the wall time (goal < 20 %%: %s)\n", localShare,
              localShare < 20.0 ? "met" : "missed");
  const char* steps[] = {"discovery", "details", "delivery"};
  for (int step = 0; step < 3; ++step) {
    std::printf("  %-9s %.3f s, of which requests %.3f s; outside them %.2f ms per order\n", steps[step],
                stepWall[step], stepRequests[step], 1000.0 * (stepWall[step] - stepRequests[step]) / orders);
  }

  sim.stop();
  db.reset();
  releaseDb();
  resetProcessWide();
  std::filesystem::remove_all(dir);
  if (delivered != orders || consigned != static_cast<size_t>(orders)) {
    std::fprintf(stderr, "delivery_bench: not every order was delivered once\n");
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace Quorvel

int main(int argc, char** argv) {
  const int orders = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (orders < 1 || orders > 100000) {
    std::fprintf(stderr, "usage: delivery_bench [orders]\n");
    return 2;
  }
  return Quorvel::run(orders);
}
