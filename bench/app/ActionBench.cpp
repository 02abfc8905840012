// The web actions' own cost, without sockets: dispatchRequest on a parsed
// request, on the server thread's kept connection, over the database of
// app_bench (100,000 cards, 30 settings). Beside app_bench's figures this
// tells the actions' share of a request from the server's.
//
//   build/bench/app/action_bench
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "api/ItemActions.h"
#include "api/StatusActions.h"
#include "base/Charset.h"
#include "base/ProcessWide.h"
#include "bench/app/BenchDatabase.h"
#include "delivery/Deamon.h"
#include "server/ActionTable.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"
#include "store/ThreadConnections.h"

namespace Quorvel {
namespace {

constexpr int kCards = 100000;

std::filesystem::path benchDir() {
  return std::filesystem::temp_directory_path() / ("vendara-action-bench-" + std::to_string(::getpid()));
}

void prepare() {
  static bool done = false;
  if (done) return;
  done = true;
  bench::prepareBenchDatabase(benchDir(), kCards, QUORVEL_TEMPLATE_DB);
  auto options = std::make_shared<DatabaseOptions>();
  options->path = (benchDir() / "vendara2012.db").string();
  options->templatePath = (benchDir() / "tpl" / "vendara2012.db").string();
  installProcessWide(std::make_shared<ThreadConnections>(Env().set(options)));
  registerStatusActions(Env(), Deamon::instance());
  registerItemActions(Env());
}

// `postData` as parsed from `_postData` (GBK values).
void run(benchmark::State& state, const std::string& action, const std::string& sub, const ParamMap& post) {
  prepare();
  HttpRequest request;
  request.query = {{"do", action}, {"callback", "cb"}};
  if (!sub.empty()) request.query["action"] = sub;
  request.post = post;
  for (auto _ : state) {
    dispatchRequest(request);
    benchmark::DoNotOptimize(request.responseBody);
  }
  if (request.responseBody.find("\"SUCCESS\" : 1") == std::string::npos) state.SkipWithError("the action failed");
}

void GetStatus(benchmark::State& state) { run(state, "getStatus", "", {}); }
BENCHMARK(GetStatus);

void GetConfig(benchmark::State& state) { run(state, "getConfig", "", {}); }
BENCHMARK(GetConfig);

void ItemListLastPage(benchmark::State& state) {
  run(state, "item", "lst", {{"cg_id", "1"}, {"page_num", "20"}, {"page", std::to_string(kCards / 20)}});
}
BENCHMARK(ItemListLastPage);

void ItemAdd(benchmark::State& state) {
  run(state, "item", "add", {{"cg_id", "2"}, {"data1", "ADD-CARD"}, {"data2", "ADD-PWD"}, {"data3", ""}});
}
BENCHMARK(ItemAdd);

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
