// Decoding of query strings and form bodies. Pure functions, any thread.
#pragma once

#include <string>

#include "server/HttpRequest.h"

namespace Quorvel {

// Splits `text` at "&"; each piece is key "=" value, the key taken as is and
// the value decoded with percentDecode (base/Percent.h). A piece without "="
// is stored with the whole piece as key and its decoded form as value; an
// empty piece is the key "" with an empty value. Existing keys are
// overwritten; the map is not cleared first.
void parseForm(ParamMap& map, const std::string& text);

}  // namespace Quorvel
