#include "store/BlackList.h"

#include <algorithm>

#include "store/SystemConfig.h"

namespace Quorvel {

namespace {

// Leading and trailing ' ' removed (tabs stay). CR, LF and space never occur
// inside a two-byte GBK character, so working byte by byte is safe.
std::string trimSpaces(const std::string& text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

}  // namespace

BlackList::BlackList() : BlackList(SystemConfig::instance()->get("black_list")) {}

BlackList::BlackList(const std::string& text) {
  // Every run of line breaks separates two names. A text that starts with a
  // break gives an empty first name; one that ends with a break gives no
  // empty last name.
  std::string current;
  bool inBreak = false;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!inBreak) names_.push_back(trimSpaces(current));
      current.clear();
      inBreak = true;
    } else {
      current.push_back(c);
      inBreak = false;
    }
  }
  if (!current.empty()) names_.push_back(trimSpaces(current));
}

BlackList::~BlackList() = default;

bool BlackList::contains(const std::string& name) const {
  return std::find(names_.begin(), names_.end(), name) != names_.end();
}

}  // namespace Quorvel
