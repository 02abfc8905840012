#include "api/RequestIds.h"

#include <charconv>

#include "base/Exception.h"
#include "server/ActionTable.h"
#include "store/Category.h"

namespace Quorvel {

namespace {

bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

int requireId(const std::string& name) {
  const std::string& text = postParam(name);
  int id = 0;
  if (allDigits(text)) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error == std::errc() && end == text.data() + text.size()) return id;
  }
  throw Exception("The parameter " + name + " must be an id of decimal digits only; nothing was changed.");
}

std::string requireItemId(const std::string& name) {
  const std::string& text = postParam(name);
  if (allDigits(text) && text.size() <= 20) return text;
  throw Exception("The parameter " + name + " must be a marketplace item id of decimal digits only; nothing was changed.");
}

int requireCategory(const std::string& name) {
  const int id = requireId(name);
  if (!Category::instance()->contains(id)) {
    throw Exception("There is no category with id " + std::to_string(id) + " (parameter " + name +
                    "); nothing was changed.");
  }
  return id;
}

}  // namespace Quorvel
