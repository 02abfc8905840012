// Calls the web API actions of a TestServer the way the page does and reads
// the JSONP answers back as JSON (UTF-8 strings, as the page sees them).
#pragma once

#include <json/reader.h>
#include <json/value.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/server/TestServer.h"

namespace Quorvel::testing {

// Every byte but letters and digits as %XX.
inline std::string percentEncode(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (std::isalnum(c)) {
      out += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      out += escaped;
    }
  }
  return out;
}

// A form "key=value&..." with the values percent-encoded (keys as given).
inline std::string formOf(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string form;
  for (const auto& [key, value] : fields) {
    if (!form.empty()) form += "&";
    form += key + "=" + percentEncode(value);
  }
  return form;
}

// The JSON inside "cb(...)"; null when the body is not such an answer.
inline Json::Value jsonpValue(const std::string& response) {
  std::string body = bodyOf(response);
  if (body.rfind("cb(", 0) != 0 || body.empty() || body.back() != ')') return Json::Value();
  std::string text = body.substr(3, body.size() - 4);
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream stream(text);
  if (!Json::parseFromStream(builder, stream, &value, &errors)) return Json::Value();
  return value;
}

// GET /?do=<action>&callback=cb, with `postData` (a UTF-8 form) as the
// `_postData` parameter when given.
inline Json::Value callAction(std::uint16_t port, const std::string& action, const std::string& postData = "") {
  std::string target = "/?do=" + action + "&callback=cb";
  if (!postData.empty()) target += "&_postData=" + percentEncode(postData);
  return jsonpValue(Quorvel::testing::exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
}

// POST of a form body (bytes taken as they are, GBK for Chinese).
inline Json::Value postAction(std::uint16_t port, const std::string& action, const std::string& body) {
  return jsonpValue(Quorvel::testing::exchange(port, "POST /?do=" + action + "&callback=cb HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                                       std::to_string(body.size()) + "\r\n\r\n" + body));
}

}  // namespace Quorvel::testing
