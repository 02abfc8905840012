#include "base/Html.h"

#include <cstdio>

namespace Quorvel {

namespace {

// A JavaScript string literal that stays one inside a script element: every
// character that could end the string or the element is a \u escape. The
// addresses it is given are ASCII; any other byte would be escaped alone.
std::string scriptString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == '"' || c == '\\' || c == '<' || c == '>' || c == '&' || c == '\'' || u >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

std::string htmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string redirectPage(const std::string& address) {
  const std::string attribute = htmlEscape(address);
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
         "<meta name=\"referrer\" content=\"no-referrer\">\n"
         "<meta http-equiv=\"refresh\" content=\"0; url=" + attribute + "\">\n"
         "<title>Vendara 2012</title>\n"
         "<script>location.replace(" + scriptString(address) + ");</script>\n"
         // The link reads "打开 Vendara 2012"; the page is UTF-8.
         "</head><body><a href=\"" + attribute + "\">\xe6\x89\x93\xe5\xbc\x80 Vendara 2012</a></body></html>\n";
}

}  // namespace Quorvel
