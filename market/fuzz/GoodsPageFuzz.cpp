// libFuzzer entry: the goods-on-sale scraper on an arbitrary page. Every item
// it finds has an item page address on the item host holding its numeric id,
// a title and a picture address.
#include <cstddef>
#include <cstdint>
#include <string>

#include "market/GoodsScraper.h"
#include "market/fuzz/FuzzMarket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Quorvel;
  fuzzing::useSimulatorHosts();
  const std::string page(reinterpret_cast<const char*>(data), size);
  fuzzing::allowingEngineLimits([&] {
    for (const GoodsRecord& item : GoodsScraper::parse(page)) {
      if (item.item_id.empty() || item.item_id.find_first_not_of("0123456789") != std::string::npos) __builtin_trap();
      if (item.url.find("/item.htm?id=" + item.item_id) == std::string::npos) __builtin_trap();
      if (item.name.empty() || item.img_url.empty()) __builtin_trap();
    }
  });
  return 0;
}
