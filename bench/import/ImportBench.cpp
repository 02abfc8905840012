// The "item import" action with 100,000 card lines (by default) into a stock
// that already holds 200,000 cards in another category: the whole action as
// the server runs it (dispatchRequest on a parsed request: splitting, the
// duplicate check of every line against the stock, the inserts, the counters
// and the answer). Every thousandth line repeats an earlier one. Prints the
// wall time of the action, cards imported and lines skipped.
//
//   build/bench/import/import_bench [lines [stock cards]]
//
// The database sits in TMPDIR; TMPDIR=/dev/shm leaves the disk out.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "api/ItemActions.h"
#include "base/Charset.h"
#include "base/ProcessWide.h"
#include "bench/support/BenchDatabase.h"
#include "server/ActionTable.h"
#include "store/Category.h"
#include "store/Db.h"

using namespace Quorvel;

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int stock = argc > 2 ? std::atoi(argv[2]) : 200000;
  bench::BenchDatabase database("import");
  {
    std::shared_ptr<IDb> db = getDb();
    db->begin();
    db->exec("insert into `category` (`id`,`name`) values (1,'stock'),(2,'import')");
    db->exec("with recursive n(i) as (select 1 union all select i+1 from n where i<" + std::to_string(stock) +
             ") insert into `items` (`cg_id`,`data1`,`data2`) select 1, 'OLD-'||i, 'PWD-'||i from n");
    db->commit();
  }
  Category::instance()->load(getDb());
  registerItemActions(Env());

  // GBK card numbers whose characters carry "\" and "{" as second bytes.
  std::string text;
  text.reserve(static_cast<std::size_t>(lines) * 40);
  for (int k = 1; k <= lines; ++k) {
    const int number = k % 1000 == 0 ? k - 1 : k;  // every thousandth line repeats the one before
    text += gbk("淺亄卡") + std::to_string(100000000 + number) + "----" + std::to_string(700000 + number) +
            "----note\r\n";
  }
  HttpRequest request;
  request.query = {{"do", "item"}, {"action", "import"}, {"callback", "cb"}};
  request.post = {{"cg_id", "2"}, {"sep", "dash4"}, {"lines", text}};

  const auto start = std::chrono::steady_clock::now();
  dispatchRequest(request);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const CategoryRecord imported = Category::instance()->get(2);
  const bool succeeded = request.responseBody.find("\"SUCCESS\" : 1") != std::string::npos;
  std::printf("import of %d lines into a stock of %d cards: %.2f s, %d cards imported (counter %d), %s\n", lines,
              stock, seconds, imported.store_total_num, imported.store_num, succeeded ? "succeeded" : "FAILED");
  if (!succeeded) std::printf("%s\n", request.responseBody.substr(0, 400).c_str());
  releaseDb();
  resetProcessWide();
  return succeeded ? 0 : 1;
}
