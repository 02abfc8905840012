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

// Every byte but ASCII letters and digits becomes an upper-case percent pair.
std::string simPercentEncode(const std::string& text);

// Splits "a=1&b=2" as a web server reads a form: names and values are
// percent-decoded (base/Percent.h), empty pieces (as in "a=1&&b=2") are
// skipped and a piece without "=" is a name with an empty value.
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
