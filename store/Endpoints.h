// Endpoint settings: the address of every outside host the program talks to,
// kept as `sys_config` keys so the web UI and tests can change them. A key
// whose value is empty uses its built-in default. When `market_base` is set,
// it replaces every marketplace host at once (a test site, the simulator).
//
// Reads go through SystemConfig, so any thread may call these.
#pragma once

#include <string>
#include <vector>

namespace Quorvel {

struct EndpointDefault {
  std::string key;
  std::string value;        // built-in default
  bool marketHost = false;  // replaced by `market_base` when that is set
};

// Every endpoint key with its default, in the order the web UI shows them.
const std::vector<EndpointDefault>& endpointDefaults();

// The built-in default of `key` (empty for a key that is not an endpoint).
std::string endpointDefault(const std::string& key);

// The address to use for `key`: `market_base` for a marketplace host when it
// is set, else the stored value, else the built-in default. Trailing slashes
// are dropped, so callers append paths that start with "/".
std::string endpointSetting(const std::string& key);

}  // namespace Quorvel
