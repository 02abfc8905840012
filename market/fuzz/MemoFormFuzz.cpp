// libFuzzer entry: the seller memo page on arbitrary bytes. Reading its form
// either gives the form's inputs or fails with the memo's own reasons.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Charset.h"
#include "base/OrderException.h"
#include "market/SellerMemo.h"
#include "market/fuzz/FuzzMarket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Quorvel;
  static const std::string noForm = gbk("查询表单失败");
  const std::string page(reinterpret_cast<const char*>(data), size);
  fuzzing::allowingEngineLimits([&] {
    try {
      for (const auto& [name, value] : readMemoForm(page)) {
        if (name.empty()) __builtin_trap();
      }
    } catch (OrderException e) {
      if (e.message() != noForm && e.code() != kFormWithoutInputs) __builtin_trap();
    }
  });
  return 0;
}
