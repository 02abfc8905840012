// libFuzzer entry: the buyer rating pages on arbitrary bytes: the trades of
// the list of unrated orders (digits only) and the rating form's inputs.
#include <cstddef>
#include <cstdint>
#include <string>

#include "market/BuyerRating.h"
#include "market/fuzz/FuzzMarket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Quorvel;
  const std::string page(reinterpret_cast<const char*>(data), size);
  fuzzing::allowingEngineLimits([&] {
    for (const std::string& trade : unratedTradesOn(page)) {
      if (trade.empty() || trade.find_first_not_of("0123456789") != std::string::npos) __builtin_trap();
    }
    if (auto form = readRateForm(page)) {
      for (const auto& [name, value] : *form) {
        if (name.empty()) __builtin_trap();
      }
    }
  });
  return 0;
}
