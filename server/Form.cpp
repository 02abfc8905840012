#include "server/Form.h"

namespace Quorvel {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string urlDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      int high = hexValue(text[i + 1]);
      int low = hexValue(text[i + 2]);
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

void parseForm(ParamMap& map, const std::string& text) {
  if (text.empty()) return;
  size_t start = 0;
  for (;;) {
    size_t end = text.find('&', start);
    std::string piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t equals = piece.find('=');
    if (equals == std::string::npos) {
      map[piece] = urlDecode(piece);
    } else {
      map[piece.substr(0, equals)] = urlDecode(piece.substr(equals + 1));
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

}  // namespace Quorvel
