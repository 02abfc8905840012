#include "notify/ImChannel.h"

#include "notify/ImAutomation.h"

namespace Quorvel {

// An Env whose channel was not set: the automation on the system's parties.
std::shared_ptr<ImChannel> ImChannel::makeProcessWide() { return std::make_shared<ImAutomation>(Env()); }

}  // namespace Quorvel
