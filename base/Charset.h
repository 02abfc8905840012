// Conversion between the program's in-memory charset (GBK, code page 936) and
// UTF-8, used where text crosses the database file, the JSONP answers, the
// `_postData` parameter and the forms posted to the maker's messaging service.
//
// The conversion itself is the system's (base/CharsetConverter.h: iconv on
// Linux, the code pages on Windows); any thread may call these.
#pragma once

#include <string>

namespace Quorvel {

// Converts `text` from `fromCode` to `toCode` (code names such as "GBK",
// "UTF-8" and "UTF-16LE"). Raises Exception("Iconv Lib Init failed!") when the converter
// cannot be opened and Exception("Iconv ERROR!") when the input is not valid in
// the source charset (no partial result). Empty input gives empty output.
std::string iconvConvert(const std::string& toCode, const std::string& text, const std::string& fromCode);

std::string gbkToUtf8(const std::string& text);
std::string utf8ToGbk(const std::string& text);

// The program's own Chinese texts are written in the sources as UTF-8 and
// held in memory as GBK: gbk("更新完成") gives the GBK bytes.
std::string gbk(const std::string& utf8Literal);

}  // namespace Quorvel
