#include "base/Env.h"

namespace Quorvel {

Env::Env() : Env(Clock::system()) {}

Env::Env(std::shared_ptr<Clock> clock) : clock_(std::move(clock)) {}

}  // namespace Quorvel
