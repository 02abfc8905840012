#include "base/Charset.h"

#include "base/Exception.h"
#include "base/GbkTable.h"
#include "base/GbkText.h"
#include "base/CharsetConverter.h"

namespace Quorvel {

std::string iconvConvert(const std::string& toCode, const std::string& text, const std::string& fromCode) {
  port::Converted converted = port::convertCharset(toCode, text, fromCode);
  switch (converted.status) {
    case port::ConvertStatus::kDone:
      return std::move(converted.text);
    case port::ConvertStatus::kUnknownCharset:
      throw Exception("Iconv Lib Init failed!", converted.error);
    case port::ConvertStatus::kInvalidInput:
      break;
  }
  throw Exception("Iconv ERROR!", converted.error);
}

namespace {

// GBK and UTF-8 share ASCII: a byte below 0x80 that starts a character is the
// same character in both. Such bytes are copied as they are and only the runs
// of other characters go through iconv, which costs far more per byte. In GBK
// a lead byte (0x81-0xFE) takes the byte after it along, whatever that is
// (trail bytes include ASCII codes); in UTF-8 every byte of a multi-byte
// character is 0x80 or above. Invalid input fails as a whole conversion would.
std::string convertMostlyAscii(const char* toCode, const std::string& text, const char* fromCode, bool fromGbk) {
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  if (i == size) return text;
  std::string output;
  output.reserve(size + size / 2 + 16);
  // Most text converts through the table; text it does not know goes the
  // long way below, which converts or fails exactly as it always has.
  const GbkTable& table = GbkTable::instance();
  if (fromGbk ? table.appendUtf8(text.data(), size, output) : table.appendGbk(text.data(), size, output)) {
    return output;
  }
  output.append(text, 0, i);
  while (i < size) {
    std::size_t start = i;
    while (i < size && static_cast<unsigned char>(text[i]) < 0x80) ++i;
    output.append(text, start, i - start);
    if (i == size) break;
    start = i;
    while (i < size && static_cast<unsigned char>(text[i]) >= 0x80) {
      i += fromGbk ? gbkCharLength(text, i) : 1;
    }
    output += iconvConvert(toCode, text.substr(start, i - start), fromCode);
  }
  return output;
}

}  // namespace

std::string gbkToUtf8(const std::string& text) { return convertMostlyAscii("UTF-8", text, "GBK", true); }

std::string utf8ToGbk(const std::string& text) { return convertMostlyAscii("GBK", text, "UTF-8", false); }

std::string gbk(const std::string& utf8Literal) { return utf8ToGbk(utf8Literal); }

}  // namespace Quorvel
