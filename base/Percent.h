// Percent-encoding of form and query values, byte for byte (no charset is
// assumed), and the one splitter of "name=value&..." texts. Pure functions,
// any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace Quorvel {

// The value of one hexadecimal digit (either case), or -1.
int hexDigitValue(char c);

// ASCII letters and digits stay; every other byte becomes "%XX" (upper case).
std::string percentEncode(const std::string& text);

// Every byte becomes "%XX" (upper case) except the bytes listed in `kept`,
// and ASCII letters and digits when `keepAlnum` is set.
std::string percentEncode(const std::string& text, std::string_view kept, bool keepAlnum);

// "%" followed by two hexadecimal digits gives that byte, "+" gives a space,
// everything else (a "%" without two hex digits included) is copied.
// The only percent-decoder of the program: every query and form value the
// program, its simulators and its tests read is decoded so.
std::string percentDecode(std::string_view text);

// Where the forms that splitForm reads differ. Each reader names its rules:
// the local server keeps names as sent and a bare name as its own value
// (server/Form.cpp); the simulator reads forms the way a web server usually
// does, names decoded and empty pieces skipped (sim/SimForm.cpp).
struct FormRules {
  bool decodeNames = false;      // names pass through percentDecode; otherwise they are taken as sent
  bool skipEmptyPieces = false;  // "a=1&&b=2" has two fields; otherwise the empty piece is a field "" = ""
  bool bareNameIsValue = false;  // "x" gives x = percentDecode("x"); otherwise x = ""
};

// Splits `text` at every "&" and each piece at its first "="; values always
// pass through percentDecode. Calls `onField(name, value)` once per field, in
// text order (a repeated name comes once per piece). An empty text has no
// fields under either rule set.
void splitForm(std::string_view text, const FormRules& rules,
               const std::function<void(std::string name, std::string value)>& onField);

}  // namespace Quorvel
