// Every two-byte GBK character with its Unicode code point, in both
// directions, for converting text between GBK and UTF-8 without the
// platform's converter (which costs far more per character, and per call,
// than a table). The table is made once, on first use, from the platform's
// own converter, character by character, and every reverse entry is checked
// against that converter, so a conversion through the table gives the very
// bytes the converter gives. Only what the table knows is converted here:
// the caller hands anything else (a byte that is no character, a character
// outside the table, malformed UTF-8) to the platform's converter, which
// then fails or converts as it always did.
//
// Immutable once made; any thread may call it.
#pragma once

#include <cstddef>
#include <string>

namespace Quorvel {

class GbkTable {
 public:
  // The table, made on the first call (a few milliseconds).
  static const GbkTable& instance();

  // Appends the UTF-8 of the GBK text [text, text + size) to `out`; false,
  // with `out` as it was, when a character is not in the table.
  bool appendUtf8(const char* text, std::size_t size, std::string& out) const;

  // Appends the GBK of the UTF-8 text [text, text + size) to `out`; false,
  // with `out` as it was, when the text is not well-formed UTF-8 of
  // characters in the table.
  bool appendGbk(const char* text, std::size_t size, std::string& out) const;

 private:
  GbkTable();

  static constexpr int kLeads = 0xFE - 0x81 + 1;
  static constexpr int kTrails = 0xFE - 0x40 + 1;

  char16_t toUnicode_[kLeads * kTrails];  // 0: no character
  unsigned short fromUnicode_[0x10000];   // GBK lead << 8 | trail; 0: not in the table
};

}  // namespace Quorvel
