#include "base/CharsetConverter.h"

#include <windows.h>

#include <cstdint>

namespace Quorvel::port {

namespace {

constexpr UINT kWide = 0;  // UTF-16LE: the system's own text, no code page
constexpr UINT kUnknown = 1;
constexpr UINT kGbk = 936;

UINT codePageOf(const std::string& code) {
  if (code == "GBK" || code == "CP936") return kGbk;
  if (code == "UTF-8") return CP_UTF8;
  if (code == "UTF-16LE") return kWide;
  return kUnknown;
}

// GBK as iconv takes it: ASCII, or a lead byte 0x81-0xFE with a second byte
// 0x40-0x7E or 0x80-0xFE. Code page 936 also takes 0x80 alone (the euro
// sign) and a few bytes more; those are refused here so that both systems
// accept the same texts.
bool isWellFormedGbk(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) continue;
    if (byte == 0x80 || byte == 0xFF || i + 1 == text.size()) return false;
    const auto second = static_cast<unsigned char>(text[++i]);
    if (second < 0x40 || second == 0x7F || second == 0xFF) return false;
  }
  return true;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isWellFormedUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t point = 0;
    if (byte < 0x80) {
      ++i;
      continue;
    } else if (byte >= 0xC2 && byte <= 0xDF) {
      length = 2;
      point = byte & 0x1F;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      length = 3;
      point = byte & 0x0F;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      length = 4;
      point = byte & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    if ((length == 3 && point < 0x800) || (length == 4 && (point < 0x10000 || point > 0x10FFFF))) return false;
    if (point >= 0xD800 && point <= 0xDFFF) return false;
    i += length;
  }
  return true;
}

Converted invalid() { return {ConvertStatus::kInvalidInput, {}, static_cast<int>(ERROR_NO_UNICODE_TRANSLATION)}; }

}  // namespace

Converted convertCharset(const std::string& toCode, std::string_view text, const std::string& fromCode) {
  if (text.empty()) return {};
  const UINT from = codePageOf(fromCode);
  const UINT to = codePageOf(toCode);
  if (from == kUnknown || to == kUnknown) return {ConvertStatus::kUnknownCharset, {}, ERROR_INVALID_PARAMETER};
  if (text.size() > 0x3FFFFFFF) return invalid();

  // Into wide text first.
  std::wstring wide;
  if (from == kWide) {
    if (text.size() % 2 != 0) return invalid();
    wide.resize(text.size() / 2);
    for (std::size_t i = 0; i < wide.size(); ++i) {
      wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[2 * i]) |
                                     (static_cast<unsigned char>(text[2 * i + 1]) << 8));
    }
  } else {
    if (from == kGbk ? !isWellFormedGbk(text) : !isWellFormedUtf8(text)) return invalid();
    const int inLength = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), inLength, nullptr, 0);
    if (units <= 0) return {ConvertStatus::kInvalidInput, {}, static_cast<int>(GetLastError())};
    wide.resize(static_cast<std::size_t>(units));
    if (MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), inLength, wide.data(), units) != units) {
      return {ConvertStatus::kInvalidInput, {}, static_cast<int>(GetLastError())};
    }
  }

  // Then out of it.
  std::string output;
  if (to == kWide) {
    output.resize(wide.size() * 2);
    for (std::size_t i = 0; i < wide.size(); ++i) {
      output[2 * i] = static_cast<char>(wide[i] & 0xFF);
      output[2 * i + 1] = static_cast<char>((wide[i] >> 8) & 0xFF);
    }
    return {ConvertStatus::kDone, std::move(output), 0};
  }
  const int units = static_cast<int>(wide.size());
  // A character the target has no form for (a lone surrogate, a character
  // outside GBK) fails the whole text, as iconv does, instead of becoming "?".
  const DWORD flags = to == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultOut = to == CP_UTF8 ? nullptr : &usedDefault;
  const int bytes = WideCharToMultiByte(to, flags, wide.data(), units, nullptr, 0, nullptr, usedDefaultOut);
  if (bytes <= 0 || usedDefault) return invalid();
  output.resize(static_cast<std::size_t>(bytes));
  if (WideCharToMultiByte(to, flags, wide.data(), units, output.data(), bytes, nullptr, usedDefaultOut) != bytes ||
      usedDefault) {
    return invalid();
  }
  // Code page 936 writes some characters it cannot tell apart as others
  // without saying so; what does not come back the same way is refused.
  if (to == kGbk && !isWellFormedGbk(output)) return invalid();
  return {ConvertStatus::kDone, std::move(output), 0};
}

}  // namespace Quorvel::port
