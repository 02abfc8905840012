// The system's converter between charsets, under the program's one charset
// routine (base/Charset.h), which is the only caller. Declared here, at the
// ground floor, and defined by the platform layer in a whole file per system
// (port/<system>/CharsetConverter.cpp, built as the library quorvel_charset):
// Linux converts with iconv (any code name it knows); Windows with its code
// pages: "GBK" (and "CP936") is code page 936, "UTF-8" code page 65001,
// "UTF-16LE" the system's wide text; any other name is unknown there.
//
// Raises nothing and depends on nothing else of the program. Any thread.
#pragma once

#include <string>
#include <string_view>

namespace Quorvel::port {

enum class ConvertStatus {
  kDone,            // `text` holds the whole converted input
  kUnknownCharset,  // no converter between the two code names
  kInvalidInput,    // the input is not valid in `fromCode` (or has no form in `toCode`)
};

struct Converted {
  ConvertStatus status = ConvertStatus::kDone;
  std::string text{};  // empty unless kDone
  int error = 0;       // the system's error number when not kDone
};

// Converts the whole of `text` from `fromCode` to `toCode`; never a partial
// result. Empty input gives empty output.
Converted convertCharset(const std::string& toCode, std::string_view text, const std::string& fromCode);

}  // namespace Quorvel::port
