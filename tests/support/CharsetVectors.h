// Test vectors of the GBK / UTF-8 conversion, shared by the Linux tests and
// the Windows tests so that both systems' converters are held to the same
// bytes. Texts are given as bytes, never as literals the compiler would
// convert. Each GBK text is paired with its UTF-8 form; the trap characters
// have a second byte that is an ASCII code (\ | [ { ^ ]).
#pragma once

#include <string>
#include <vector>

namespace Quorvel::testing {

struct CharsetPair {
  const char* name;
  std::string gbk;
  std::string utf8;
};

inline std::vector<CharsetPair> charsetPairs() {
  return {
      {"ascii", "plain ascii 123 {}[]|\\^", "plain ascii 123 {}[]|\\^"},
      {"zhongwen", "\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},                      // 中文
      {"backslash trail", "\x9C\x5C\x81\x5C", "\xE6\xB7\xBA\xE4\xB9\x97"},               // 淺乗
      {"bar trail", "\x96\x7C\x81\x7C", "\xE6\x9D\xB1\xE4\xBA\x85"},                     // 東亅
      {"bracket trails", "\x81\x5B\x81\x5D", "\xE4\xB9\x95\xE4\xB9\x9A"},                // 乕乚
      {"brace and caret trails", "\x81\x7B\x81\x5E", "\xE4\xBA\x84\xE4\xB9\x9B"},        // 亄乛
      {"trap after ascii", "a\\\x85\x5D|b", "a\\\xE5\x8C\xBD|b"},                       // a\匽|b
      {"full-width colon", "\xBF\xA8\xBA\xC5\xA3\xBA" "AB12", "\xE5\x8D\xA1\xE5\x8F\xB7\xEF\xBC\x9A" "AB12"},  // 卡号：AB12
      {"crlf", "\xB6\xA9\xB5\xA5\r\n", "\xE8\xAE\xA2\xE5\x8D\x95\r\n"},                // 订单\r\n
  };
}

// GBK texts that are not GBK.
inline std::vector<std::string> invalidGbk() {
  return {"\xD6", "ok \xD6\xD0\xD6", std::string("\x81\x00", 2), "\x81\x20", "\xFF\xA1"};
}

// UTF-8 texts that are not UTF-8, or have no GBK form.
inline std::vector<std::string> invalidUtf8() {
  return {"\xE4\xB8", "ok \xE4\xB8 more", "\xFF\xFE", "\xC0\xAF", "\xED\xA0\x80", "\xF0\x9F\x98\x80"};
}

}  // namespace Quorvel::testing
