// One category holding 1,000,000 cards, the oldest 900,000 delivered: the
// web UI's "item lst" of the first, middle and last page (the whole action,
// with a fresh connection per request as the server makes; each labelled
// with its median request time and whether it is under 5 ms), the
// delivery's unsentCards of 10 cards, and refreshCounters. Each runs on the
// template's schema and on copies without one of the `items` indexes; the
// older statements that the card store no longer runs (counting the cards,
// paging without an order, the middle page by skipping every card before
// it) are timed beside them for comparison.
//
//   build/bench/stock/stock_bench
//
// The stock is built once in a temporary folder (about half a minute).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "api/ItemActions.h"
#include "base/ProcessWide.h"
#include "server/ActionTable.h"
#include "store/Category.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"
#include "store/Item.h"
#include "store/ThreadConnections.h"

namespace Quorvel {
namespace {

constexpr int kCards = 1'000'000;
constexpr int kDelivered = 900'000;
constexpr int kPageSize = 40;
constexpr int kCategory = 1;

// Schema variants: the template as it is, and without one index.
enum Variant { kTemplate = 0, kWithoutCg = 1, kWithoutCgSend = 2 };
const char* const kDropped[] = {nullptr, "items_cg", "items_cg_send"};

std::filesystem::path benchDir() {
  return std::filesystem::temp_directory_path() / ("quorvel-stock-bench-" + std::to_string(::getpid()));
}

// Makes the variant's database the current one (filled on first use).
void useStock(int variant) {
  static bool filled = false;
  const auto dir = benchDir();
  const auto full = dir / "stock-0.db";
  if (!filled) {
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(QUORVEL_TEMPLATE_DB, full, std::filesystem::copy_options::overwrite_existing);
    auto db = std::make_shared<Db>(Env(), full.string())->connect();
    db->begin();
    db->exec("insert into `category` (`id`,`name`) values (" + std::to_string(kCategory) + ",'bench')");
    db->exec("with recursive n(i) as (select 1 union all select i+1 from n where i<" + std::to_string(kCards) +
             ") insert into `items` (`cg_id`,`data1`,`data2`,`data3`,`send_order_id`) select " +
             std::to_string(kCategory) +
             ", 'CARD-'||i, 'PASS-'||i, '', case when i<=" + std::to_string(kDelivered) +
             " then 'order '||(100000000+i) else '' end from n");
    db->commit();
    db->close();
    for (int v = 1; v <= 2; ++v) {
      const auto copy = dir / ("stock-" + std::to_string(v) + ".db");
      std::filesystem::copy_file(full, copy, std::filesystem::copy_options::overwrite_existing);
      std::make_shared<Db>(Env(), copy.string())->connect()->exec(std::string("drop index `") + kDropped[v] + "`");
    }
    filled = true;
  }
  releaseDb();
  resetProcessWide();
  auto options = std::make_shared<DatabaseOptions>();
  options->path = (dir / ("stock-" + std::to_string(variant) + ".db")).string();
  installProcessWide(std::make_shared<ThreadConnections>(Env().set(options)));
}

// The whole "item lst" action for page `state.range(1)` of 25,000. The label
// gives the median time of one request over the run's iterations and whether
// it is under 5 ms.
void ItemLstPage(benchmark::State& state) {
  useStock(static_cast<int>(state.range(0)));
  registerItemActions(Env());
  const int page = static_cast<int>(state.range(1));
  HttpRequest request;
  request.query["do"] = "item";
  request.query["action"] = "lst";
  request.query["callback"] = "cb";
  request.post["cg_id"] = std::to_string(kCategory);
  request.post["page_num"] = std::to_string(kPageSize);
  request.post["page"] = std::to_string(page);
  std::vector<double> times;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    dispatchRequest(request);  // releases the connection, as after every request
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    benchmark::DoNotOptimize(request.responseBody);
  }
  const std::string first = "CARD-" + std::to_string((page - 1) * kPageSize + 1) + "\"";
  if (request.responseBody.find("\"PAGE\" : " + std::to_string(page)) == std::string::npos ||
      request.responseBody.find(first) == std::string::npos) {
    state.SkipWithError("not the page asked for");
    return;
  }
  std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
  const double median = times[times.size() / 2];
  char label[80];
  std::snprintf(label, sizeof label, "median %.3f ms, under 5 ms: %s", median, median < 5.0 ? "yes" : "no");
  state.SetLabel(label);
}
BENCHMARK(ItemLstPage)
    ->ArgNames({"variant", "page"})
    ->Args({kTemplate, 1})
    ->Args({kTemplate, kCards / kPageSize / 2})
    ->Args({kTemplate, kCards / kPageSize})
    ->Args({kWithoutCg, kCards / kPageSize})
    ->Unit(benchmark::kMillisecond);

// For comparison: the middle page by skipping every card before it in id
// order (the statement the card store ran before it kept range counts).
void MiddlePageBySkipping(benchmark::State& state) {
  useStock(kTemplate);
  for (auto _ : state) {
    auto rows = getDb()->query(std::make_shared<SQL>("select `id`,`cg_id`,`data1`,`data2`,`data3`,`send_order_id` "
                                                     "from `items` where `cg_id`=? order by `id` limit ?,?")
                                   ->bind(kCategory)
                                   ->bind(kCards / 2)
                                   ->bind(kPageSize));
    while (rows->next()) benchmark::DoNotOptimize(rows->textAt(2));
  }
}
BENCHMARK(MiddlePageBySkipping)->Unit(benchmark::kMillisecond);

void TakeTenUnsent(benchmark::State& state) {
  useStock(static_cast<int>(state.range(0)));
  std::shared_ptr<Item> items = Item::instance();
  const std::shared_ptr<IDb> db = getDb();
  for (auto _ : state) benchmark::DoNotOptimize(items->unsentCards(db, kCategory, 10));
  if (items->unsentCards(db, kCategory, 10).size() != 10u) state.SkipWithError("no ten unsent cards");
}
BENCHMARK(TakeTenUnsent)->ArgName("variant")->Arg(kTemplate)->Arg(kWithoutCgSend)->Unit(benchmark::kMillisecond);

void RefreshCounters(benchmark::State& state) {
  useStock(kTemplate);
  std::shared_ptr<Item> items = Item::instance();
  const std::shared_ptr<IDb> db = getDb();
  for (auto _ : state) items->refreshCounters(db, kCategory);
  CategoryRecord now = Category::instance()->get(kCategory);
  if (now.store_total_num != kCards || now.store_num != kCards - kDelivered) state.SkipWithError("wrong counters");
}
BENCHMARK(RefreshCounters)->Unit(benchmark::kMillisecond);

// For comparison: what refreshCounters would cost by counting the cards.
void CountCardsInstead(benchmark::State& state) {
  useStock(kTemplate);
  for (auto _ : state) {
    for (const char* sql : {"select count(*) as `num` from `items` where `cg_id`=?",
                            "select count(*) as `num` from `items` where `cg_id`=? and `send_order_id`=''"}) {
      auto rows = getDb()->query(std::make_shared<SQL>(sql)->bind(kCategory));
      rows->next();
      benchmark::DoNotOptimize((*rows->fetch())["num"].toInt());
    }
  }
}
BENCHMARK(CountCardsInstead)->Unit(benchmark::kMillisecond);

// For comparison: the last page by skipping from the first card, without an
// order (the rows then come in index order, not id order).
void LastPageBySkipping(benchmark::State& state) {
  useStock(kTemplate);
  for (auto _ : state) {
    auto rows = getDb()->query(std::make_shared<SQL>("select * from `items` where `cg_id`=? limit ?,?")
                                   ->bind(kCategory)
                                   ->bind(kCards - kPageSize)
                                   ->bind(kPageSize));
    while (rows->next()) benchmark::DoNotOptimize(rows->fetch());
  }
}
BENCHMARK(LastPageBySkipping)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace Quorvel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Quorvel::releaseDb();
  std::error_code ignored;
  std::filesystem::remove_all(Quorvel::benchDir(), ignored);
  return 0;
}
