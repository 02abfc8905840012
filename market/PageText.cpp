#include "market/PageText.h"

#include <cstring>
#include <string_view>

#include "market/Pattern.h"

namespace Quorvel {

namespace {

std::vector<std::string> groupTexts(const std::string& subject, const MatchSpans& spans) {
  std::vector<std::string> texts;
  texts.reserve(spans.size());
  for (const auto& [begin, end] : spans) {
    if (begin == std::string::npos) {
      texts.emplace_back();
    } else {
      texts.emplace_back(subject, begin, end - begin);
    }
  }
  return texts;
}

}  // namespace

std::vector<std::string> splitString(const std::string& text, const std::string& delimiter, int limit) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  size_t pos = 0;
  for (;;) {
    if (limit > 0 && pieces.size() + 1 == static_cast<size_t>(limit)) break;
    size_t found = delimiter.empty() ? std::string::npos : text.find(delimiter, pos);
    if (found == std::string::npos) break;
    pieces.push_back(text.substr(pos, found - pos));
    pos = found + delimiter.size();
    if (pos == text.size()) return pieces;
  }
  pieces.push_back(text.substr(pos));
  return pieces;
}

bool regexMatch(const std::string& pattern, const std::string& subject, std::vector<std::string>& groups) {
  groups.clear();
  MatchSpans spans;
  if (!Pattern::cached(pattern)->find(subject, 0, false, spans)) return false;
  groups = groupTexts(subject, spans);
  return true;
}

bool regexMatchAll(const std::string& pattern, const std::string& subject,
                   std::vector<std::vector<std::string>>& matches) {
  matches.clear();
  forEachMatch(*Pattern::cached(pattern), subject,
               [&](const MatchSpans& spans) { matches.push_back(groupTexts(subject, spans)); });
  return !matches.empty();
}

std::string regexReplace(const std::string& pattern, const std::string& replacement, const std::string& subject) {
  std::string result;
  size_t copied = 0;
  forEachMatch(*Pattern::cached(pattern), subject, [&](const MatchSpans& spans) {
    result.append(subject, copied, spans[0].first - copied);
    result += replacement;
    copied = spans[0].second;
  });
  result.append(subject, copied, std::string::npos);
  return result;
}

bool containsText(const std::string& needle, const std::string& subject) {
  return std::string_view(subject).find(needle) != std::string_view::npos;
}

std::string quotePattern(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string quoted;
  quoted.reserve(text.size() * 2);
  auto hexByte = [&](unsigned char byte) {
    quoted += "\\x";
    quoted += kHex[byte >> 4];
    quoted += kHex[byte & 0x0F];
  };
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x81 && byte <= 0xFE && i + 1 < text.size()) {
      // A GBK lead byte: its trail byte may be any of 0x40..0xFE, pattern
      // characters included, so both go in as hexadecimal escapes.
      hexByte(byte);
      hexByte(static_cast<unsigned char>(text[++i]));
    } else if (byte >= 0x80) {
      hexByte(byte);
    } else if (std::strchr("\\^$.|?*+()[]{}-/#", byte) && byte != 0) {
      quoted += '\\';
      quoted += static_cast<char>(byte);
    } else if (byte == 0) {
      hexByte(byte);
    } else {
      quoted += static_cast<char>(byte);
    }
  }
  return quoted;
}

}  // namespace Quorvel
