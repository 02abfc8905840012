#include "base/Env.h"

namespace Quorvel {

Env::Env() : Env(Clock::makeProcessWide()) {}

Env::Env(std::shared_ptr<Clock> clock) : clock_(std::move(clock)) {}

}  // namespace Quorvel
