// Percent-encoding of form and query values, byte for byte (no charset is
// assumed). Pure functions, any thread.
#pragma once

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
std::string percentDecode(std::string_view text);

}  // namespace Quorvel
