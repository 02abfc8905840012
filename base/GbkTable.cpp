#include "base/GbkTable.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/CharsetConverter.h"

namespace Quorvel {

namespace {

constexpr int kFirstLead = 0x81;
constexpr int kFirstTrail = 0x40;
constexpr int kLastByte = 0xFE;

// The BMP character of well-formed UTF-8 at `i`, and in `length` the bytes
// it takes; `length` 0 when the bytes there are anything else (malformed, an
// overlong form, a surrogate, or beyond the BMP).
char16_t readBmp(const unsigned char* bytes, std::size_t i, std::size_t size, std::size_t& length) {
  const unsigned char b = bytes[i];
  length = 0;
  if (b < 0x80) {
    length = 1;
    return b;
  }
  if (b >= 0xC2 && b <= 0xDF && i + 1 < size && (bytes[i + 1] & 0xC0) == 0x80) {
    length = 2;
    return static_cast<char16_t>((b & 0x1F) << 6 | (bytes[i + 1] & 0x3F));
  }
  if (b >= 0xE0 && b <= 0xEF && i + 2 < size && (bytes[i + 1] & 0xC0) == 0x80 && (bytes[i + 2] & 0xC0) == 0x80) {
    const char16_t point = static_cast<char16_t>((b & 0x0F) << 12 | (bytes[i + 1] & 0x3F) << 6 | (bytes[i + 2] & 0x3F));
    if (point < 0x800 || (point >= 0xD800 && point <= 0xDFFF)) return 0;
    length = 3;
    return point;
  }
  return 0;
}

// Writes the UTF-8 of `point` at `to`; where it ends.
char* writeUtf8(char16_t point, char* to) {
  if (point < 0x80) {
    *to++ = static_cast<char>(point);
  } else if (point < 0x800) {
    *to++ = static_cast<char>(0xC0 | point >> 6);
    *to++ = static_cast<char>(0x80 | (point & 0x3F));
  } else {
    *to++ = static_cast<char>(0xE0 | point >> 12);
    *to++ = static_cast<char>(0x80 | (point >> 6 & 0x3F));
    *to++ = static_cast<char>(0x80 | (point & 0x3F));
  }
  return to;
}

// The code points of well-formed UTF-8 of BMP characters; false on anything
// else.
bool decodeBmp(const std::string& utf8, std::vector<char16_t>& points) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  for (std::size_t i = 0, length = 0; i < utf8.size(); i += length) {
    const char16_t point = readBmp(bytes, i, utf8.size(), length);
    if (length == 0) return false;
    points.push_back(point);
  }
  return true;
}

void appendUtf8Of(char16_t point, std::string& out) {
  char bytes[3];
  out.append(bytes, writeUtf8(point, bytes));
}

// The one code point the converter gives for `gbk`, or 0.
char16_t pointOf(const std::string& gbk) {
  port::Converted converted = port::convertCharset("UTF-8", gbk, "GBK");
  std::vector<char16_t> points;
  if (converted.status != port::ConvertStatus::kDone || !decodeBmp(converted.text, points) || points.size() != 1) {
    return 0;
  }
  return points[0];
}

// Where the run of ASCII bytes from `i` ends, eight bytes at a time.
std::size_t asciiRunEnd(const unsigned char* bytes, std::size_t i, std::size_t size) {
  while (i + 8 <= size) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    if (word & 0x8080808080808080ULL) break;
    i += 8;
  }
  while (i < size && bytes[i] < 0x80) ++i;
  return i;
}

}  // namespace

const GbkTable& GbkTable::instance() {
  // Never destroyed: threads still converting while the process ends may use it.
  static const GbkTable* table = new GbkTable;
  return *table;
}

GbkTable::GbkTable() {
  std::memset(toUnicode_, 0, sizeof toUnicode_);
  std::memset(fromUnicode_, 0, sizeof fromUnicode_);
  // One row of characters (a lead byte with every trail byte but 0x7F) per
  // call; a row the converter refuses as a whole goes character by character.
  for (int lead = kFirstLead; lead <= kLastByte; ++lead) {
    std::string row;
    std::vector<int> trails;
    for (int trail = kFirstTrail; trail <= kLastByte; ++trail) {
      if (trail == 0x7F) continue;
      row += static_cast<char>(lead);
      row += static_cast<char>(trail);
      trails.push_back(trail);
    }
    port::Converted converted = port::convertCharset("UTF-8", row, "GBK");
    std::vector<char16_t> points;
    const bool whole = converted.status == port::ConvertStatus::kDone && decodeBmp(converted.text, points) &&
                       points.size() == trails.size();
    for (std::size_t i = 0; i < trails.size(); ++i) {
      char16_t point = whole ? points[i] : pointOf(row.substr(2 * i, 2));
      if (point < 0x80) continue;  // a double-byte form of ASCII is left to the converter
      toUnicode_[(lead - kFirstLead) * kTrails + (trails[i] - kFirstTrail)] = point;
    }
  }

  // The reverse, checked against the converter: where two GBK characters
  // share a code point, the converter's own choice is kept.
  std::vector<char16_t> candidates;
  for (int i = 0; i < kLeads * kTrails; ++i) {
    const char16_t point = toUnicode_[i];
    if (point == 0 || fromUnicode_[point] != 0) continue;
    fromUnicode_[point] = static_cast<unsigned short>((kFirstLead + i / kTrails) << 8 | (kFirstTrail + i % kTrails));
    candidates.push_back(point);
  }
  std::string all;
  for (char16_t point : candidates) appendUtf8Of(point, all);
  port::Converted converted = port::convertCharset("GBK", all, "UTF-8");
  const bool whole = converted.status == port::ConvertStatus::kDone && converted.text.size() == 2 * candidates.size();
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    std::string gbk;
    if (whole) {
      gbk = converted.text.substr(2 * i, 2);
    } else {
      std::string one;
      appendUtf8Of(candidates[i], one);
      port::Converted single = port::convertCharset("GBK", one, "UTF-8");
      if (single.status == port::ConvertStatus::kDone) gbk = single.text;
    }
    const auto lead = gbk.size() == 2 ? static_cast<unsigned char>(gbk[0]) : 0;
    const auto trail = gbk.size() == 2 ? static_cast<unsigned char>(gbk[1]) : 0;
    const bool usable = lead >= kFirstLead && lead <= kLastByte && trail >= kFirstTrail && trail <= kLastByte &&
                        toUnicode_[(lead - kFirstLead) * kTrails + (trail - kFirstTrail)] == candidates[i];
    fromUnicode_[candidates[i]] = usable ? static_cast<unsigned short>(lead << 8 | trail) : 0;
  }
}

// Both directions write into room made at once (a GBK character of two
// bytes is at most three in UTF-8; UTF-8 is never shorter than its GBK) and
// copy ASCII runs whole.
bool GbkTable::appendUtf8(const char* text, std::size_t size, std::string& out) const {
  const std::size_t before = out.size();
  out.resize(before + size + size / 2 + 1);
  char* to = out.data() + before;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; i < size;) {
    if (bytes[i] < 0x80) {
      const std::size_t end = asciiRunEnd(bytes, i + 1, size);
      std::memcpy(to, text + i, end - i);
      to += end - i;
      i = end;
      continue;
    }
    const unsigned char lead = bytes[i];
    const unsigned char trail = i + 1 < size ? bytes[i + 1] : 0;
    const char16_t point = lead >= kFirstLead && lead <= kLastByte && trail >= kFirstTrail && trail <= kLastByte
                               ? toUnicode_[(lead - kFirstLead) * kTrails + (trail - kFirstTrail)]
                               : 0;
    if (point == 0) {
      out.resize(before);
      return false;
    }
    to = writeUtf8(point, to);
    i += 2;
  }
  out.resize(static_cast<std::size_t>(to - out.data()));
  return true;
}

bool GbkTable::appendGbk(const char* text, std::size_t size, std::string& out) const {
  const std::size_t before = out.size();
  out.resize(before + size);
  char* to = out.data() + before;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; i < size;) {
    const unsigned char b = bytes[i];
    if (b < 0x80) {
      const std::size_t end = asciiRunEnd(bytes, i + 1, size);
      std::memcpy(to, text + i, end - i);
      to += end - i;
      i = end;
      continue;
    }
    std::size_t length = 0;
    const char16_t point = readBmp(bytes, i, size, length);
    i += length;
    const unsigned short gbk = length == 0 ? 0 : fromUnicode_[point];
    if (gbk == 0) {
      out.resize(before);
      return false;
    }
    *to++ = static_cast<char>(gbk >> 8);
    *to++ = static_cast<char>(gbk & 0xFF);
  }
  out.resize(static_cast<std::size_t>(to - out.data()));
  return true;
}

}  // namespace Quorvel
