#include "base/Percent.h"

#include <utility>

namespace Quorvel {

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentEncode(const std::string& text) { return percentEncode(text, std::string_view(), true); }

std::string percentEncode(const std::string& text, std::string_view kept, bool keepAlnum) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size() * 3);
  for (unsigned char byte : text) {
    bool alnum = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
    if ((keepAlnum && alnum) || kept.find(static_cast<char>(byte)) != std::string_view::npos) {
      encoded += static_cast<char>(byte);
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  return encoded;
}

std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      int high = hexDigitValue(text[i + 1]);
      int low = hexDigitValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(c == '+' ? ' ' : c);
  }
  return out;
}

// Pieces are views into `text`: a large body is copied once, into its
// decoded value, and not once more per step.
void splitForm(std::string_view text, const FormRules& rules,
               const std::function<void(std::string name, std::string value)>& onField) {
  if (text.empty()) return;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('&', start);
    const std::string_view piece =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!piece.empty() || !rules.skipEmptyPieces) {
      const size_t equals = piece.find('=');
      const std::string_view name = piece.substr(0, equals);
      std::string value;
      if (equals != std::string_view::npos) {
        value = percentDecode(piece.substr(equals + 1));
      } else if (rules.bareNameIsValue) {
        value = percentDecode(piece);
      }
      onField(rules.decodeNames ? percentDecode(name) : std::string(name), std::move(value));
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

}  // namespace Quorvel
