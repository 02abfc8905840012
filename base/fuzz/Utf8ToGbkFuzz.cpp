// libFuzzer entry: arbitrary bytes read as UTF-8. The conversion either fails
// with the family's exception or gives exactly what one whole iconv call
// gives; what GBK can hold comes back unchanged through GBK.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Charset.h"
#include "base/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Quorvel;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string whole;
  bool wholeOk = true;
  try {
    whole = iconvConvert("GBK", text, "UTF-8");
  } catch (Exception) {
    wholeOk = false;
  }
  std::string gbkText;
  try {
    gbkText = utf8ToGbk(text);
  } catch (Exception) {
    if (wholeOk) __builtin_trap();
    return 0;
  }
  if (!wholeOk || gbkText != whole) __builtin_trap();
  std::string back;
  try {
    back = gbkToUtf8(gbkText);
  } catch (Exception) {
    __builtin_trap();
  }
  if (back != text) __builtin_trap();
  return 0;
}
