// The production source of the marketplace host settings: the endpoint
// settings of the data store.
#include "store/Endpoints.h"

namespace Quorvel {

std::string marketEndpointSetting(const std::string& key) { return endpointSetting(key); }

}  // namespace Quorvel
