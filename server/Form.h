// Decoding of query strings and form bodies. Pure functions, any thread.
#pragma once

#include <string>

#include "server/HttpRequest.h"

namespace Quorvel {

// "%" followed by two hexadecimal digits gives that byte, "+" gives a space,
// everything else (a "%" without two hex digits included) is copied.
std::string urlDecode(const std::string& text);

// Splits `text` at "&"; each piece is key "=" value, the key taken as is and
// the value decoded with urlDecode. A piece without "=" is stored with the
// whole piece as key and its decoded form as value. Existing keys are
// overwritten; the map is not cleared first.
void parseForm(ParamMap& map, const std::string& text);

}  // namespace Quorvel
