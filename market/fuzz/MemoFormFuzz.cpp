// libFuzzer entry: the seller memo page on arbitrary bytes. Reading its form
// either gives the form's inputs or names why the page offers none.
#include <cstddef>
#include <cstdint>
#include <string>

#include "market/SellerMemo.h"
#include "market/fuzz/FuzzMarket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Quorvel;
  const std::string page(reinterpret_cast<const char*>(data), size);
  fuzzing::allowingEngineLimits([&] {
    const MemoForm form = readMemoForm(page);
    if (form.refusal == MemoRefusal::kUnanswered) __builtin_trap();
    if (form.refusal != MemoRefusal::kNone && !form.fields.empty()) __builtin_trap();
    for (const auto& [name, value] : form.fields) {
      if (name.empty()) __builtin_trap();
    }
  });
  return 0;
}
