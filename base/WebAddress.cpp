#include "base/WebAddress.h"

#include <string>

namespace Quorvel {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool isLabel(std::string_view label) {
  if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
  for (char c : label) {
    if (!isLetter(c) && !isDigit(c) && c != '-') return false;
  }
  return true;
}

bool isHostName(std::string_view text) {
  if (text.empty() || text.size() > 253) return false;
  std::string_view last;
  size_t start = 0;
  for (;;) {
    size_t dot = text.find('.', start);
    std::string_view label = text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (!isLabel(label)) return false;
    last = label;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  // "1.2.3.999" or "0x7f.1" would be taken for an IPv4 address by a browser.
  return !isDigit(last.front()) || isIpv4Address(text);
}

bool isPort(std::string_view text) {
  if (text.empty() || text.size() > 5) return false;
  long value = 0;
  for (char c : text) {
    if (!isDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= 65535;
}

// Characters allowed after the base address of a page address; "%" is
// checked on its own.
bool isPageCharacter(char c) {
  if (isLetter(c) || isDigit(c)) return true;
  return std::string_view("-._~/?#&=:+,;@").find(c) != std::string_view::npos;
}

// The length of the base address at the start of `text`, or npos.
size_t baseAddressLength(std::string_view text) {
  size_t schemeEnd;
  if (text.substr(0, 7) == "http://") {
    schemeEnd = 7;
  } else if (text.substr(0, 8) == "https://") {
    schemeEnd = 8;
  } else {
    return std::string_view::npos;
  }
  size_t end = text.find_first_of("/?#", schemeEnd);
  if (end == std::string_view::npos) end = text.size();
  return isBaseAddress(text.substr(0, end)) ? end : std::string_view::npos;
}

}  // namespace

bool isIpv4Address(std::string_view text) {
  int parts = 0;
  size_t i = 0;
  for (;;) {
    const size_t start = i;
    int value = 0;
    while (i < text.size() && isDigit(text[i])) {
      if (i - start == 3) return false;
      value = value * 10 + (text[i] - '0');
      ++i;
    }
    if (i == start || value > 255 || (i - start > 1 && text[start] == '0')) return false;
    ++parts;
    if (i == text.size()) break;
    if (text[i] != '.') return false;
    ++i;
  }
  return parts == 4;
}

bool isIpv6Address(std::string_view text) {
  int groups = 0;
  bool compressed = false;
  size_t i = 0;
  if (text.substr(0, 2) == "::") {
    compressed = true;
    i = 2;
    if (i == text.size()) return true;
  } else if (text.empty() || text.front() == ':') {
    return false;
  }
  for (;;) {
    const size_t next = text.find(':', i);
    const std::string_view piece = text.substr(i, next == std::string_view::npos ? std::string_view::npos : next - i);
    if (next == std::string_view::npos && piece.find('.') != std::string_view::npos) {
      if (!isIpv4Address(piece)) return false;
      groups += 2;
      break;
    }
    if (piece.empty() || piece.size() > 4) return false;
    for (char c : piece) {
      if (!isHexDigit(c)) return false;
    }
    ++groups;
    if (next == std::string_view::npos) break;
    i = next + 1;
    if (i == text.size()) return false;  // a single trailing colon
    if (text[i] == ':') {
      if (compressed) return false;
      compressed = true;
      ++i;
      if (i == text.size()) break;
    }
  }
  return compressed ? groups < 8 : groups == 8;
}

bool isHost(std::string_view text) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    return isIpv6Address(text.substr(1, text.size() - 2));
  }
  return isIpv4Address(text) || isHostName(text);
}

bool isBaseAddress(std::string_view text) {
  std::string_view rest;
  if (text.substr(0, 7) == "http://") {
    rest = text.substr(7);
  } else if (text.substr(0, 8) == "https://") {
    rest = text.substr(8);
  } else {
    return false;
  }
  size_t hostEnd;
  if (!rest.empty() && rest.front() == '[') {
    hostEnd = rest.find(']');
    if (hostEnd == std::string_view::npos) return false;
    ++hostEnd;
  } else {
    hostEnd = rest.find(':');
    if (hostEnd == std::string_view::npos) hostEnd = rest.size();
  }
  if (!isHost(rest.substr(0, hostEnd))) return false;
  if (hostEnd == rest.size()) return true;
  return rest[hostEnd] == ':' && isPort(rest.substr(hostEnd + 1));
}

bool isPageAddress(std::string_view text) {
  const size_t base = baseAddressLength(text);
  if (base == std::string_view::npos) return false;
  if (base == text.size()) return true;
  if (text[base] != '/') return false;
  for (size_t i = base; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) return false;
      i += 2;
    } else if (!isPageCharacter(text[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace Quorvel
