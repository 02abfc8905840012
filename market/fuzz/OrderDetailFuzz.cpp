// libFuzzer entry: the order detail page on arbitrary bytes. It gives one
// snapshot address per goods line, every one on the trade or archive host,
// quantities that are never negative, and a known state code.
#include <cstddef>
#include <cstdint>
#include <string>

#include "market/OrderScraper.h"
#include "market/fuzz/FuzzMarket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Quorvel;
  fuzzing::useSimulatorHosts();
  const std::string page(reinterpret_cast<const char*>(data), size);
  fuzzing::allowingEngineLimits([&] {
    const DetailPage read = OrderScraper::readDetailPage(7, page);
    if (read.info.id != 7 || read.snapshots.size() != read.info.goods.size()) __builtin_trap();
    for (const std::string& snapshot : read.snapshots) {
      if (snapshot.find("/trade/detail/trade_snap.htm?trade_id=") == std::string::npos) __builtin_trap();
    }
    for (const OrderGoods& line : read.info.goods) {
      if (line.num < 0 || line.goods_name.empty()) __builtin_trap();
    }
    const int state = static_cast<int>(read.info.order_status);
    if (state != 0 && state != 1 && state != 2 && state != 3 && state != 9 && state != 10) __builtin_trap();
  });
  return 0;
}
