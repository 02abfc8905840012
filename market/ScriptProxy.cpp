#include "market/ScriptProxy.h"

#include <optional>

#include "base/WebAddress.h"
#include "market/HttpClient.h"
#include "market/MarketHosts.h"
#include "store/Endpoints.h"

namespace Quorvel {

namespace {

struct Origin {
  std::string scheme;
  std::string host;  // lower case
  std::string port;  // decimal, the scheme's default filled in

  bool operator==(const Origin&) const = default;
};

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The origin of a page address (isPageAddress); nothing for anything else.
std::optional<Origin> originOf(const std::string& url) {
  if (!isPageAddress(url)) return std::nullopt;
  Origin origin;
  const size_t schemeEnd = url.find("://");
  origin.scheme = url.substr(0, schemeEnd);
  const size_t start = schemeEnd + 3;
  const size_t end = url.find_first_of("/?#", start);
  const std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  const size_t bracket = authority.rfind(']');
  const size_t colon = authority.rfind(':');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    origin.host = lowerAscii(authority.substr(0, colon));
    origin.port = authority.substr(colon + 1);
    while (origin.port.size() > 1 && origin.port.front() == '0') origin.port.erase(0, 1);
  } else {
    origin.host = lowerAscii(authority);
    origin.port = origin.scheme == "https" ? "443" : "80";
  }
  return origin;
}

}  // namespace

std::vector<std::string> scriptProxyBases() {
  return {endpointSetting("maker_base"),     MarketHosts::loginBase(),  MarketHosts::sellerBase(),
          MarketHosts::tradeBase(),          MarketHosts::tradeArchiveBase(), MarketHosts::itemBase(),
          MarketHosts::logisticsBase(),      MarketHosts::rateBase(),   MarketHosts::webImBase()};
}

bool isAddressOn(const std::string& url, const std::vector<std::string>& bases) {
  const std::optional<Origin> wanted = originOf(url);
  if (!wanted) return false;
  for (const std::string& base : bases) {
    const std::optional<Origin> allowed = originOf(base);
    if (allowed && *allowed == *wanted) return true;
  }
  return false;
}

std::string fetchScript(const Env& env, const std::string& url) {
  const std::vector<std::string> bases = scriptProxyBases();
  if (!isAddressOn(url, bases)) return {};
  HttpResult result = httpFetch(env, url, FormFields(), nullptr,
                                [&bases](const std::string& next) { return isAddressOn(next, bases); });
  return result.ok() ? std::move(result.body) : std::string();
}

}  // namespace Quorvel
