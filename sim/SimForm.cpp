#include "sim/SimForm.h"

#include "base/Percent.h"

namespace Quorvel {

std::string simPercentDecode(const std::string& text) { return percentDecode(text); }

std::string simPercentEncode(const std::string& text) { return percentEncode(text); }

SimFields simParseFields(const std::string& text) {
  SimFields fields;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    std::string piece = text.substr(start, end - start);
    if (!piece.empty()) {
      size_t eq = piece.find('=');
      if (eq == std::string::npos) {
        fields[simPercentDecode(piece)] = "";
      } else {
        fields[simPercentDecode(piece.substr(0, eq))] = simPercentDecode(piece.substr(eq + 1));
      }
    }
    start = end + 1;
  }
  return fields;
}

SimFields simQueryFields(const std::string& target) {
  size_t q = target.find('?');
  if (q == std::string::npos) return {};
  return simParseFields(target.substr(q + 1));
}

std::string simField(const SimFields& fields, const std::string& name) {
  auto it = fields.find(name);
  return it == fields.end() ? std::string() : it->second;
}

std::string simHtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

bool simIsDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace Quorvel
