// libFuzzer entry: the goods snapshot page on arbitrary bytes. The item id it
// reads is empty or digits only.
#include <cstddef>
#include <cstdint>
#include <string>

#include "market/OrderScraper.h"
#include "market/fuzz/FuzzMarket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Quorvel;
  fuzzing::allowingEngineLimits([&] {
    const std::string id = OrderScraper::itemIdOf(std::string(reinterpret_cast<const char*>(data), size));
    if (id.find_first_not_of("0123456789") != std::string::npos) __builtin_trap();
  });
  return 0;
}
