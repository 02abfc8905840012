// The styled JSON text of the JSONP answers: members one per line in ascending
// byte order of their keys, three-space indentation, short arrays of scalars on
// one line when they fit in a right margin of 74, a line end at the end. This
// is jsoncpp's StyledWriter layout, except that strings are read as GBK: a
// two-byte character is written unchanged (its second byte may have the code
// of a backslash or another ASCII character, and is never escaped), because
// the whole answer is converted to UTF-8 afterwards. Pure functions, any
// thread.
#pragma once

#include <json/value.h>

#include <string>

namespace Quorvel {

// Raises Exception when a string or key is not well-formed GBK (see
// quoteJsonString).
std::string styledJson(const Json::Value& value);

// The quoted and escaped form of one GBK string; two-byte characters and the
// single bytes 0x80 and 0xFF are copied unchanged. A lead byte (0x81-0xFE)
// without a valid second byte raises Exception: written alone it could join
// the backslash of a following escape into another character.
std::string quoteJsonString(const std::string& text);

// quoteJsonString's text appended to `out` (on a failure `out` may hold part
// of it).
void appendJsonString(std::string& out, const std::string& text);

}  // namespace Quorvel
