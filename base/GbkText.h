// Character-aware operations on GBK text (the program's in-memory charset).
// A GBK character is one byte, or a lead byte 0x81-0xFE followed by a second
// byte that may be any of 0x40-0xFE, ASCII punctuation such as "\", "{",
// "[" or "|" included. Byte-wise searches can therefore find a needle that
// starts in the middle of a character ("亄" is 0x81 0x7B, its second byte a
// "{"); these functions look for needles only where a character starts, and
// cut text only between characters.
//
// Plain functions without state: any thread may call them.
#pragma once

#include <cstddef>
#include <string>

namespace Quorvel {

// The byte length of the character starting at `pos`: 2 for a lead byte with
// a byte after it, else 1.
size_t gbkCharLength(const std::string& text, size_t pos);

// The longest prefix of `text` of at most `maxBytes` bytes that ends
// between two characters.
std::string gbkPrefix(const std::string& text, size_t maxBytes);

// Where `needle` starts at a character boundary of `text`, or npos. An empty
// needle is found at 0.
size_t gbkFind(const std::string& text, const std::string& needle);
bool gbkContains(const std::string& text, const std::string& needle);

// `text` with every occurrence of `from` that starts at a character boundary
// replaced by `to`, in one pass from left to right (a replacement is never
// searched again). An empty `from` changes nothing.
std::string gbkReplaceAll(const std::string& text, const std::string& from, const std::string& to);

// Whether `text` holds a double-byte character (Chinese text or full-width
// punctuation).
bool holdsChinese(const std::string& text);

// What a seller is shown of a failure: `message` as it is when it holds
// Chinese text, else kFailurePrefixUtf8 (as GBK) followed by it (a database's or a
// library's own English words).
inline constexpr const char* kFailurePrefixUtf8 = "操作失败：";
std::string sellerMessage(const std::string& message);

}  // namespace Quorvel
