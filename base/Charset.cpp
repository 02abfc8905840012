#include "base/Charset.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

#include "base/Exception.h"

namespace Quorvel {

namespace {

// The calling thread's converters, one per pair of code names, opened on
// first use and closed when the thread ends. A converter is put back in its
// initial state before each conversion, so one failed conversion never
// leaks into the next. Opening a converter costs far more than converting a
// short text, and the program converts every text it stores or reads.
class Converters {
 public:
  Converters() = default;
  Converters(const Converters&) = delete;
  Converters& operator=(const Converters&) = delete;
  ~Converters() {
    for (Entry& entry : entries_) iconv_close(entry.handle);
  }

  iconv_t get(const std::string& toCode, const std::string& fromCode) {
    for (Entry& entry : entries_) {
      if (entry.to == toCode && entry.from == fromCode) {
        iconv(entry.handle, nullptr, nullptr, nullptr, nullptr);
        return entry.handle;
      }
    }
    iconv_t handle = iconv_open(toCode.c_str(), fromCode.c_str());
    if (handle == reinterpret_cast<iconv_t>(-1)) throw Exception("Iconv Lib Init failed!", errno);
    entries_.push_back({toCode, fromCode, handle});
    return handle;
  }

 private:
  struct Entry {
    std::string to;
    std::string from;
    iconv_t handle;
  };
  std::vector<Entry> entries_;  // the program uses two pairs
};

}  // namespace

std::string iconvConvert(const std::string& toCode, const std::string& text, const std::string& fromCode) {
  if (text.empty()) return {};
  thread_local Converters converters;
  iconv_t converter = converters.get(toCode, fromCode);

  // Ten output bytes per input byte is more than any of our charsets needs, so
  // one call converts the whole text.
  std::vector<char> output(text.size() * 10);
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* out = output.data();
  size_t outLeft = output.size();
  if (iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) {
    throw Exception("Iconv ERROR!", errno);
  }
  // Flush any shift state (none for GBK and UTF-8, but it costs nothing).
  if (iconv(converter, nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1)) {
    throw Exception("Iconv ERROR!", errno);
  }
  return std::string(output.data(), output.size() - outLeft);
}

std::string gbkToUtf8(const std::string& text) { return iconvConvert("UTF-8", text, "GBK"); }

std::string utf8ToGbk(const std::string& text) { return iconvConvert("GBK", text, "UTF-8"); }

std::string gbk(const std::string& utf8Literal) { return utf8ToGbk(utf8Literal); }

}  // namespace Quorvel
