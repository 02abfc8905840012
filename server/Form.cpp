#include "server/Form.h"

#include <utility>

#include "base/Percent.h"

namespace Quorvel {

namespace {

// Keys as sent: the page and the login form forwarded through the server
// were written against these rules.
constexpr FormRules kServerForm{.decodeNames = false, .skipEmptyPieces = false, .bareNameIsValue = true};

}  // namespace

void parseForm(ParamMap& map, const std::string& text) {
  splitForm(text, kServerForm, [&map](std::string name, std::string value) { map[std::move(name)] = std::move(value); });
}

}  // namespace Quorvel
