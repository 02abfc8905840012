// Query strings and form bodies as the simulated marketplace reads them, and
// the escaping of shop data written into its pages. Values are bytes: a
// percent pair becomes exactly that byte, so GBK values arrive unchanged.
//
// Plain functions without state: any thread may call them.
#pragma once

#include <map>
#include <string>

namespace Quorvel {

// Field name to value; a repeated name keeps its last value.
using SimFields = std::map<std::string, std::string>;

// "%41" becomes "A", "+" becomes a space, a stray "%" stays as it is.
std::string simPercentDecode(const std::string& text);

// Every byte but ASCII letters and digits becomes an upper-case percent pair.
std::string simPercentEncode(const std::string& text);

// Splits "a=1&b=2" (empty pieces, as in "a=1&&b=2", are skipped).
SimFields simParseFields(const std::string& text);

// The query fields of a request target such as "/x.htm?a=1".
SimFields simQueryFields(const std::string& target);

// Looks a field up; a missing field reads as empty text.
std::string simField(const SimFields& fields, const std::string& name);

// Escapes & < > " for text and attribute values. GBK trail bytes never take
// these values, so escaping byte by byte keeps every character whole.
std::string simHtmlEscape(const std::string& text);

// Whether the text is a non-empty run of ASCII digits.
bool simIsDigits(const std::string& text);

}  // namespace Quorvel
