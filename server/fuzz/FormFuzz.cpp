// libFuzzer entry: query and form decoding. Any bytes decode without reading
// past them; a decoded value never grows; encoding a value and decoding it
// gives it back; and a form built from decoded pairs parses back to them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Percent.h"
#include "server/Form.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Quorvel;
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string decoded = percentDecode(text);
  if (decoded.size() > text.size()) __builtin_trap();
  if (percentDecode(percentEncode(text)) != text) __builtin_trap();
  if (percentDecode(percentEncode(text, "-_.~", true)) != text) __builtin_trap();

  ParamMap form;
  parseForm(form, text);
  if (text.empty() != form.empty()) __builtin_trap();
  // Keys are kept as sent; rebuilt with encoded values, the form reads back
  // the same values.
  std::string rebuilt;
  for (const auto& [key, value] : form) {
    if (key.find('&') != std::string::npos || key.find('=') != std::string::npos) continue;
    if (!rebuilt.empty()) rebuilt += '&';
    rebuilt += key + "=" + percentEncode(value);
  }
  ParamMap again;
  parseForm(again, rebuilt);
  for (const auto& [key, value] : again) {
    auto found = form.find(key);
    if (found == form.end() || found->second != value) __builtin_trap();
  }
  return 0;
}
