// libFuzzer entry: arbitrary bytes read as GBK. The conversion either fails
// with the family's exception or gives exactly what one whole iconv call
// gives (the ASCII runs are copied without iconv, so their borders must fall
// between characters); valid text comes back unchanged through UTF-8. The
// character-aware helpers keep to character borders on the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Charset.h"
#include "base/Exception.h"
#include "base/GbkText.h"

namespace {

using namespace Quorvel;

void checkHelpers(const std::string& text) {
  // Cuts and finds land on character borders only.
  size_t borders = 0;
  for (size_t pos = 0; pos < text.size(); pos += gbkCharLength(text, pos)) ++borders;
  for (size_t cut : {size_t{0}, size_t{1}, text.size() / 2, text.size()}) {
    const std::string prefix = gbkPrefix(text, cut);
    if (prefix.size() > cut || text.compare(0, prefix.size(), prefix) != 0) __builtin_trap();
    if (prefix.size() + 1 < cut && prefix.size() < text.size()) __builtin_trap();
  }
  if (text.size() >= 2) {
    const std::string needle = text.substr(text.size() / 2, 2);
    const size_t found = gbkFind(text, needle);
    if (found != std::string::npos && text.compare(found, needle.size(), needle) != 0) __builtin_trap();
    const std::string replaced = gbkReplaceAll(text, needle, "");
    if (replaced.size() > text.size()) __builtin_trap();
  }
  (void)borders;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  checkHelpers(text);

  std::string whole;
  bool wholeOk = true;
  try {
    whole = iconvConvert("UTF-8", text, "GBK");
  } catch (Exception) {
    wholeOk = false;
  }
  std::string utf8;
  try {
    utf8 = gbkToUtf8(text);
  } catch (Exception) {
    if (wholeOk) __builtin_trap();  // valid GBK refused
    return 0;
  }
  if (!wholeOk || utf8 != whole) __builtin_trap();  // invalid GBK taken, or another result
  std::string back;
  try {
    back = utf8ToGbk(utf8);
  } catch (Exception) {
    __builtin_trap();  // what came out of GBK must go back into it
  }
  if (back != text) __builtin_trap();
  return 0;
}
