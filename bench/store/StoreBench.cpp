// The card queries of the delivery path on a large stock (200,000 cards in
// 20 categories, one in ten unsent), with the template's index on
// `items` (`cg_id`, `send_order_id`) and without it; and the cost of fetching
// rows of ASCII and of Chinese text through the charset boundary.
//
//   build/bench/store/store_bench
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "base/Charset.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"

namespace Quorvel {
namespace {

constexpr int kCards = 200000;

std::filesystem::path benchDir() {
  return std::filesystem::temp_directory_path() / ("quorvel-bench-" + std::to_string(::getpid()));
}

// A filled copy of the template, with or without the card index.
std::shared_ptr<IDb> stock(bool indexed) {
  static std::shared_ptr<IDb> databases[2];
  std::shared_ptr<IDb>& db = databases[indexed];
  if (db) return db;
  auto dir = benchDir();
  std::filesystem::create_directories(dir);
  auto file = dir / (indexed ? "indexed.db" : "plain.db");
  std::filesystem::remove(file);
  std::filesystem::copy_file(QUORVEL_TEMPLATE_DB, file);
  db = std::make_shared<Db>(Env(), file.string())->connect();
  if (!indexed) db->exec("drop index `items_cg_send`");
  db->exec("with recursive n(i) as (select 1 union all select i+1 from n where i<" + std::to_string(kCards) +
           ") insert into `items` (`cg_id`,`data1`,`data2`,`data3`,`send_order_id`) "
           "select i%20, 'CARD'||i, 'PWD'||i, '', case when i%10=0 then '' else 'order '||i end from n");
  db->exec("insert into `sys_config` (`key`,`value`) values ('ascii','" + std::string(40, 'x') + "')");
  db->execute(std::make_shared<SQL>("insert into `sys_config` (`key`,`value`) values ('gbk',?)")
                  ->bind(gbk("中文的卡密说明，共二十个汉字左右的一段文字")));
  return db;
}

void CountUnsent(benchmark::State& state) {
  auto db = stock(state.range(0) != 0);
  for (auto _ : state) {
    auto rows = db->query(
        std::make_shared<SQL>("select count(*) as `num` from `items` where `cg_id`=? and `send_order_id`=''")->bind(7));
    rows->next();
    benchmark::DoNotOptimize((*rows->fetch())["num"].toInt());
  }
}
BENCHMARK(CountUnsent)->ArgName("indexed")->Arg(0)->Arg(1);

void TakeFiveUnsent(benchmark::State& state) {
  auto db = stock(state.range(0) != 0);
  for (auto _ : state) {
    auto rows = db->query(
        std::make_shared<SQL>("select * from `items` where `cg_id`=? and `send_order_id`='' limit 0,?")->bind(7)->bind(5));
    while (rows->next()) benchmark::DoNotOptimize(rows->fetch());
  }
}
BENCHMARK(TakeFiveUnsent)->ArgName("indexed")->Arg(0)->Arg(1);

void FetchTextRow(benchmark::State& state) {
  auto db = stock(true);
  auto key = std::string(state.range(0) ? "gbk" : "ascii");
  for (auto _ : state) {
    auto rows = db->query(std::make_shared<SQL>("select `value` from `sys_config` where `key`=?")->bind(key));
    rows->next();
    benchmark::DoNotOptimize((*rows->fetch())["value"].toString());
  }
}
BENCHMARK(FetchTextRow)->ArgName("chinese")->Arg(0)->Arg(1);

}  // namespace
}  // namespace Quorvel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(Quorvel::benchDir(), ignored);
  return 0;
}
