#include "server/Form.h"

#include "base/Percent.h"

namespace Quorvel {

std::string urlDecode(const std::string& text) { return percentDecode(text); }

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
