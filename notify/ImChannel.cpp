#include "notify/ImChannel.h"

#include "notify/ImAutomation.h"

namespace Quorvel {

std::shared_ptr<ImChannel> ImChannel::makeProcessWide() { return std::make_shared<ImAutomation>(); }

}  // namespace Quorvel
