#include "base/Charset.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

#include "base/Exception.h"

namespace Quorvel {

namespace {

// Closes the converter on every path out of iconvConvert.
class Converter {
 public:
  Converter(const std::string& toCode, const std::string& fromCode)
      : handle_(iconv_open(toCode.c_str(), fromCode.c_str())) {
    if (handle_ == reinterpret_cast<iconv_t>(-1)) throw Exception("Iconv Lib Init failed!", errno);
  }
  ~Converter() { iconv_close(handle_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  iconv_t get() const { return handle_; }

 private:
  iconv_t handle_;
};

}  // namespace

std::string iconvConvert(const std::string& toCode, const std::string& text, const std::string& fromCode) {
  if (text.empty()) return {};
  Converter converter(toCode, fromCode);

  // Ten output bytes per input byte is more than any of our charsets needs, so
  // one call converts the whole text.
  std::vector<char> output(text.size() * 10);
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* out = output.data();
  size_t outLeft = output.size();
  if (iconv(converter.get(), &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) {
    throw Exception("Iconv ERROR!", errno);
  }
  // Flush any shift state (none for GBK and UTF-8, but it costs nothing).
  if (iconv(converter.get(), nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1)) {
    throw Exception("Iconv ERROR!", errno);
  }
  return std::string(output.data(), output.size() - outLeft);
}

std::string gbkToUtf8(const std::string& text) { return iconvConvert("UTF-8", text, "GBK"); }

std::string utf8ToGbk(const std::string& text) { return iconvConvert("GBK", text, "UTF-8"); }

std::string gbk(const std::string& utf8Literal) { return utf8ToGbk(utf8Literal); }

}  // namespace Quorvel
