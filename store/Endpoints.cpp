#include "store/Endpoints.h"

#include "store/SystemConfig.h"

namespace Quorvel {

namespace {

std::string withoutTrailingSlash(std::string address) {
  while (!address.empty() && address.back() == '/') address.pop_back();
  return address;
}

}  // namespace

const std::vector<EndpointDefault>& endpointDefaults() {
  static const std::vector<EndpointDefault> defaults = {
      {"maker_base", "http://127.0.0.1:18080", false},
      {"local_host", "127.0.0.1", false},
      {"market_base", "", false},
      {"market_login_host", "https://login.taobao.com", true},
      {"market_seller_host", "https://sell.taobao.com", true},
      {"market_trade_host", "https://trade.taobao.com", true},
      {"market_trade_archive_host", "https://trade.taobao.com", true},
      {"market_item_host", "https://item.taobao.com", true},
      {"market_logistics_host", "https://wuliu.taobao.com", true},
      {"market_rate_host", "https://rate.taobao.com", true},
      {"market_webim_host", "https://amos.im.alisoft.com", true},
  };
  return defaults;
}

std::string endpointDefault(const std::string& key) {
  for (const EndpointDefault& endpoint : endpointDefaults()) {
    if (endpoint.key == key) return endpoint.value;
  }
  return {};
}

std::string endpointSetting(const std::string& key) {
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  for (const EndpointDefault& endpoint : endpointDefaults()) {
    if (endpoint.key != key) continue;
    if (endpoint.marketHost) {
      std::string base = config->get("market_base");
      if (!base.empty()) return withoutTrailingSlash(base);
    }
    std::string value = config->get(key);
    return withoutTrailingSlash(value.empty() ? endpoint.value : value);
  }
  return withoutTrailingSlash(config->get(key));
}

}  // namespace Quorvel
