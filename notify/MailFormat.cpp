#include "notify/MailFormat.h"

#include <algorithm>
#include <cstdio>

namespace Quorvel {

namespace {

constexpr size_t kMaxLineLength = 998;

bool isGbkLeadByte(char c) {
  auto b = static_cast<unsigned char>(c);
  return b >= 0x81 && b <= 0xFE;
}

// Appends one line (without its CR LF) to `out`, stuffing a leading "." and
// breaking it into pieces of at most 998 characters.
void appendLine(std::string& out, std::string_view line) {
  size_t pos = 0;
  do {
    size_t room = kMaxLineLength;
    if (pos < line.size() && line[pos] == '.') {
      out.push_back('.');
      --room;
    }
    size_t take = 0;
    while (pos + take < line.size()) {
      size_t step = isGbkLeadByte(line[pos + take]) && pos + take + 1 < line.size() ? 2 : 1;
      if (take + step > room) break;
      take += step;
    }
    out.append(line.substr(pos, take));
    pos += take;
    if (pos < line.size()) out.append("\r\n");
  } while (pos < line.size());
}

}  // namespace

MailAddress parseMailAddress(const std::string& text) {
  size_t open = text.find('<');
  size_t close = text.find('>');
  if (open == std::string::npos && close == std::string::npos) return {"", text};
  if (open == std::string::npos || close == std::string::npos || close < open) return {};
  MailAddress address;
  address.mailbox = text.substr(open + 1, close - open - 1);
  if (open > 0) {
    address.name = text.substr(0, open);
  } else if (close + 2 < text.size()) {
    address.name = text.substr(close + 2);
    if (!address.name.empty() && address.name.back() == ' ') address.name.pop_back();
  }
  return address;
}

std::string deliveryDomain(const std::string& text) {
  size_t at = text.find('@');
  if (at == std::string::npos) return {};
  std::string domain = text.substr(at + 1);
  size_t close = domain.find('>');
  if (close != std::string::npos) domain.erase(close);
  return domain;
}

std::string normaliseMailBody(std::string_view body) {
  std::string out;
  out.reserve(body.size() + body.size() / 16 + 8);
  size_t start = 0;
  for (;;) {
    size_t lf = body.find('\n', start);
    if (lf == std::string_view::npos) {
      appendLine(out, body.substr(start));
      return out;
    }
    size_t end = lf > start && body[lf - 1] == '\r' ? lf - 1 : lf;
    appendLine(out, body.substr(start, end - start));
    out.append("\r\n");
    start = lf + 1;
  }
}

std::string base64Encode(std::string_view bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t n = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += alphabet[n >> 18];
    out += alphabet[(n >> 12) & 63];
    out += alphabet[(n >> 6) & 63];
    out += alphabet[n & 63];
  }
  if (i < bytes.size()) {
    uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += alphabet[n >> 18];
    out += alphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? alphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string encodeHeaderText(std::string_view gbkText) {
  const bool plain = gbkText.find("=?") == std::string_view::npos &&
                     std::all_of(gbkText.begin(), gbkText.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
  if (plain) return std::string(gbkText);
  // 58 characters: "=?GBK?B?" (8), 48 of base64 for 36 bytes, "?=" (2);
  // with "Subject: " before the first one, every line stays within 78.
  constexpr size_t kBytesPerWord = 36;
  std::string out;
  size_t pos = 0;
  while (pos < gbkText.size()) {
    size_t take = 0;
    while (pos + take < gbkText.size()) {
      size_t step = isGbkLeadByte(gbkText[pos + take]) && pos + take + 1 < gbkText.size() ? 2 : 1;
      if (take + step > kBytesPerWord) break;
      take += step;
    }
    if (!out.empty()) out += "\r\n ";
    out += "=?GBK?B?" + base64Encode(gbkText.substr(pos, take)) + "?=";
    pos += take;
  }
  return out;
}

std::string mailDate(std::time_t now) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm local{};
  std::tm utc{};
  if (!localtime_r(&now, &local) || !gmtime_r(&now, &utc)) return {};
  // The offset is the distance between the two broken-down times, which
  // differ by at most one day.
  int dayShift = local.tm_yday - utc.tm_yday;
  if (local.tm_year != utc.tm_year) dayShift = local.tm_year > utc.tm_year ? 1 : -1;
  const long offset = dayShift * 86400L + (local.tm_hour - utc.tm_hour) * 3600L + (local.tm_min - utc.tm_min) * 60L;
  const long minutes = (offset < 0 ? -offset : offset) / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[local.tm_wday % 7],
                local.tm_mday, kMonths[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
                local.tm_sec, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return text;
}

std::string base64MailBody(std::string_view body) {
  std::string lines;
  lines.reserve(body.size() + body.size() / 16 + 2);
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '\n' && (i == 0 || body[i - 1] != '\r')) lines.push_back('\r');
    lines.push_back(c);
  }
  const std::string encoded = base64Encode(lines);
  std::string out;
  out.reserve(encoded.size() + encoded.size() / 38 + 2);
  for (size_t pos = 0; pos < encoded.size(); pos += 76) {
    if (pos > 0) out += "\r\n";
    out.append(encoded, pos, 76);
  }
  return out;
}

std::string buildMailText(const MailAddress& sender, const std::vector<MailAddress>& recipients,
                          const std::string& subject, std::string_view body, std::time_t now,
                          const std::string& messageId) {
  std::string name = sender.name;
  while (!name.empty() && name.back() == ' ') name.pop_back();
  std::string text = "From: ";
  if (name.empty()) {
    text += sender.mailbox;
  } else {
    const std::string encoded = encodeHeaderText(name);
    if (encoded.compare(0, 2, "=?") == 0) {
      text += encoded;
    } else {
      text += '"';
      for (char c : name) {
        if (c == '"' || c == '\\') text += '\\';
        text += c;
      }
      text += '"';
    }
    text += " <" + sender.mailbox + ">";
  }
  text += "\r\nReply-To: " + sender.mailbox + "\r\n";
  text += "To: ";
  for (size_t i = 0; i < recipients.size(); ++i) {
    if (i > 0) text += ",\r\n ";
    text += recipients[i].mailbox;
  }
  text += "\r\n";
  const std::string date = mailDate(now);
  if (!date.empty()) text += "Date: " + date + "\r\n";
  text += "Subject: " + encodeHeaderText(subject) + "\r\n";
  if (!messageId.empty()) text += "Message-ID: <" + messageId + ">\r\n";
  text += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=GBK\r\nContent-Transfer-Encoding: base64\r\n\r\n";
  text += base64MailBody(body);
  text += "\r\n.\r\n";
  return text;
}

}  // namespace Quorvel
