// The production source of the marketplace host settings.
#include <string>

namespace Quorvel {

std::string marketEndpointSetting(const std::string& key) { return {}; }

}  // namespace Quorvel
