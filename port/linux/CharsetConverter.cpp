#include "base/CharsetConverter.h"

#include <iconv.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace Quorvel::port {

namespace {

// One open converter; closed with its owner.
class Converter {
 public:
  explicit Converter(iconv_t handle) : handle_(handle) {}
  ~Converter() { iconv_close(handle_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  iconv_t get() const { return handle_; }

 private:
  iconv_t handle_;
};

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// The calling thread's converter from `fromCode` to `toCode`, opened on first
// use and kept until the thread ends: opening one costs more than converting
// most texts. A handful of pairs are ever used. kNoConverter when iconv has
// none (errno tells why).
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
  iconv_t handle = iconv_open(toCode.c_str(), fromCode.c_str());
  if (handle == kNoConverter) return kNoConverter;
  if (open.size() >= kKept) open.erase(open.begin());
  open.push_back({toCode, fromCode, std::make_unique<Converter>(handle)});
  return handle;
}

// Runs iconv over the input (null: flush the shift state) into `output` from
// `used` on, growing it as needed. The errno of a failure, else 0.
int convertInto(iconv_t converter, char** in, size_t* inLeft, std::string& output, size_t& used) {
  for (;;) {
    char* out = output.data() + used;
    size_t outLeft = output.size() - used;
    size_t rc = iconv(converter, in, inLeft, &out, &outLeft);
    int error = errno;
    used = static_cast<size_t>(out - output.data());
    if (rc != static_cast<size_t>(-1)) return 0;
    if (error != E2BIG) return error;
    output.resize(output.size() * 2 + 16);
  }
}

}  // namespace

Converted convertCharset(const std::string& toCode, std::string_view text, const std::string& fromCode) {
  if (text.empty()) return {};
  iconv_t converter = converterFor(toCode, fromCode);
  if (converter == kNoConverter) return {ConvertStatus::kUnknownCharset, {}, errno};
  // A converter left mid-text by an earlier failure starts over.
  iconv(converter, nullptr, nullptr, nullptr, nullptr);

  // Between GBK and UTF-8 the output is at most one and a half times the
  // input; other charsets grow the buffer when they need to.
  std::string output(text.size() + text.size() / 2 + 16, '\0');
  size_t used = 0;
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  int error = convertInto(converter, &in, &inLeft, output, used);
  // Flush any shift state (none for GBK and UTF-8, but it costs nothing).
  if (error == 0) error = convertInto(converter, nullptr, nullptr, output, used);
  if (error != 0) return {ConvertStatus::kInvalidInput, {}, error};
  output.resize(used);
  return {ConvertStatus::kDone, std::move(output), 0};
}

}  // namespace Quorvel::port
