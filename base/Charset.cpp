#include "base/Charset.h"

#include <iconv.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "base/Exception.h"
#include "base/GbkText.h"

namespace Quorvel {

namespace {

// One open converter; closed with its owner.
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

// The calling thread's converter from `fromCode` to `toCode`, opened on first
// use and kept until the thread ends: opening one costs more than converting
// most texts. A handful of pairs are ever used.
iconv_t converterFor(const std::string& toCode, const std::string& fromCode) {
  struct Open {
    std::string toCode;
    std::string fromCode;
    std::unique_ptr<Converter> converter;
  };
  constexpr std::size_t kKept = 8;
  thread_local std::vector<Open> open;
  for (const Open& entry : open) {
    if (entry.toCode == toCode && entry.fromCode == fromCode) return entry.converter->get();
  }
  auto converter = std::make_unique<Converter>(toCode, fromCode);
  if (open.size() >= kKept) open.erase(open.begin());
  open.push_back({toCode, fromCode, std::move(converter)});
  return open.back().converter->get();
}

// Runs iconv over the input (null: flush the shift state) into `output` from
// `used` on, growing it as needed. Raises Exception("Iconv ERROR!") on input
// that is not valid in the source charset.
void convertInto(iconv_t converter, char** in, size_t* inLeft, std::string& output, size_t& used) {
  for (;;) {
    char* out = output.data() + used;
    size_t outLeft = output.size() - used;
    size_t rc = iconv(converter, in, inLeft, &out, &outLeft);
    int error = errno;
    used = static_cast<size_t>(out - output.data());
    if (rc != static_cast<size_t>(-1)) return;
    if (error != E2BIG) throw Exception("Iconv ERROR!", error);
    output.resize(output.size() * 2 + 16);
  }
}

}  // namespace

std::string iconvConvert(const std::string& toCode, const std::string& text, const std::string& fromCode) {
  if (text.empty()) return {};
  iconv_t converter = converterFor(toCode, fromCode);
  // A converter left mid-text by an earlier failure starts over.
  iconv(converter, nullptr, nullptr, nullptr, nullptr);

  // Between GBK and UTF-8 the output is at most one and a half times the
  // input; other charsets grow the buffer when they need to.
  std::string output(text.size() + text.size() / 2 + 16, '\0');
  size_t used = 0;
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  convertInto(converter, &in, &inLeft, output, used);
  // Flush any shift state (none for GBK and UTF-8, but it costs nothing).
  convertInto(converter, nullptr, nullptr, output, used);
  output.resize(used);
  return output;
}

namespace {

// GBK and UTF-8 share ASCII: a byte below 0x80 that starts a character is the
// same character in both. Such bytes are copied as they are and only the runs
// of other characters go through iconv, which costs far more per byte. In GBK
// a lead byte (0x81-0xFE) takes the byte after it along, whatever that is
// (trail bytes include ASCII codes); in UTF-8 every byte of a multi-byte
// character is 0x80 or above. Invalid input fails as a whole conversion would.
std::string convertMostlyAscii(const char* toCode, const std::string& text, const char* fromCode, bool fromGbk) {
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  if (i == size) return text;
  std::string output;
  output.reserve(size + size / 2 + 16);
  output.append(text, 0, i);
  while (i < size) {
    std::size_t start = i;
    while (i < size && static_cast<unsigned char>(text[i]) < 0x80) ++i;
    output.append(text, start, i - start);
    if (i == size) break;
    start = i;
    while (i < size && static_cast<unsigned char>(text[i]) >= 0x80) {
      i += fromGbk ? gbkCharLength(text, i) : 1;
    }
    output += iconvConvert(toCode, text.substr(start, i - start), fromCode);
  }
  return output;
}

}  // namespace

std::string gbkToUtf8(const std::string& text) { return convertMostlyAscii("UTF-8", text, "GBK", true); }

std::string utf8ToGbk(const std::string& text) { return convertMostlyAscii("GBK", text, "UTF-8", false); }

std::string gbk(const std::string& utf8Literal) { return utf8ToGbk(utf8Literal); }

}  // namespace Quorvel
