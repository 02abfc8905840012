#include "server/Form.h"

#include "base/Percent.h"

#include <string_view>

namespace Quorvel {

std::string urlDecode(const std::string& text) { return percentDecode(text); }

// Pieces are views into `text`: a large body is copied once, into its
// decoded value, and not once more per step.
void parseForm(ParamMap& map, const std::string& text) {
  if (text.empty()) return;
  const std::string_view all(text);
  size_t start = 0;
  for (;;) {
    size_t end = all.find('&', start);
    std::string_view piece = all.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    size_t equals = piece.find('=');
    if (equals == std::string_view::npos) {
      map[std::string(piece)] = percentDecode(piece);
    } else {
      map[std::string(piece.substr(0, equals))] = percentDecode(piece.substr(equals + 1));
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

}  // namespace Quorvel
