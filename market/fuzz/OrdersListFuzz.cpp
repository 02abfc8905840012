// libFuzzer entry: the paid-orders list on an arbitrary page. Every order it
// lists has a numeric order number that its detail address carries.
#include <cstddef>
#include <cstdint>
#include <string>

#include "market/LoginPage.h"
#include "market/OrderScraper.h"
#include "market/fuzz/FuzzMarket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Quorvel;
  const std::string page(reinterpret_cast<const char*>(data), size);
  fuzzing::allowingEngineLimits([&] {
    showsLoginBox(page);
    for (const auto& [number, url] : OrderScraper::listedOrders(page)) {
      if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) __builtin_trap();
      if (url.find("bizOrderId=" + number) == std::string::npos) __builtin_trap();
    }
  });
  return 0;
}
