#include "base/GbkText.h"

#include "base/Charset.h"

namespace Quorvel {

size_t gbkCharLength(const std::string& text, size_t pos) {
  const auto byte = static_cast<unsigned char>(text[pos]);
  return byte >= 0x81 && byte <= 0xFE && pos + 1 < text.size() ? 2 : 1;
}

std::string gbkPrefix(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t end = 0;
  while (end < text.size()) {
    const size_t next = end + gbkCharLength(text, end);
    if (next > maxBytes) break;
    end = next;
  }
  return text.substr(0, end);
}

size_t gbkFind(const std::string& text, const std::string& needle) {
  if (needle.empty()) return 0;
  for (size_t pos = 0; pos + needle.size() <= text.size(); pos += gbkCharLength(text, pos)) {
    if (text.compare(pos, needle.size(), needle) == 0) return pos;
  }
  return std::string::npos;
}

bool gbkContains(const std::string& text, const std::string& needle) {
  return gbkFind(text, needle) != std::string::npos;
}

std::string gbkReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    if (text.compare(pos, from.size(), from) == 0) {
      out += to;
      pos += from.size();
    } else {
      const size_t length = gbkCharLength(text, pos);
      out.append(text, pos, length);
      pos += length;
    }
  }
  return out;
}

bool holdsChinese(const std::string& text) {
  for (size_t pos = 0; pos < text.size(); pos += gbkCharLength(text, pos)) {
    if (gbkCharLength(text, pos) == 2) return true;
  }
  return false;
}

std::string sellerMessage(const std::string& message) {
  return holdsChinese(message) ? message : gbk(kFailurePrefixUtf8) + message;
}

}  // namespace Quorvel
