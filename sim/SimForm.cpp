#include "sim/SimForm.h"

#include <utility>

#include "base/Percent.h"

namespace Quorvel {

std::string simPercentEncode(const std::string& text) { return percentEncode(text); }

SimFields simParseFields(const std::string& text) {
  static constexpr FormRules kSimForm{.decodeNames = true, .skipEmptyPieces = true, .bareNameIsValue = false};
  SimFields fields;
  splitForm(text, kSimForm, [&fields](std::string name, std::string value) { fields[std::move(name)] = std::move(value); });
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
