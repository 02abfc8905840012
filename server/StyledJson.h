// The styled JSON text of the JSONP answers: members one per line in ascending
// byte order of their keys, three-space indentation, short arrays of scalars on
// one line when they fit in a right margin of 74, a line end at the end. This
// is jsoncpp's StyledWriter layout, except that string bytes of 0x80 and above
// are written unchanged: our strings are GBK, and the whole answer is
// converted to UTF-8 afterwards. Pure function, any thread.
#pragma once

#include <json/value.h>

#include <string>

namespace Quorvel {

std::string styledJson(const Json::Value& value);

// The quoted and escaped form of one string, bytes of 0x80 and above unchanged.
std::string quoteJsonString(const std::string& text);

}  // namespace Quorvel
