#include "api/ActionDispatch.h"

#include "store/Db.h"

namespace Quorvel {

namespace {

void cleanConnection(ActionPlace place) {
  if (place == ActionPlace::kOutsideWorker) {
    releaseDb();
  } else {
    resetDbForNextAction();
  }
}

}  // namespace

void runAction(const Env& env, const HttpRequest& request, Reply& reply, const ContextHandler& handler,
               ActionPlace place) {
  try {
    ActionContext context{request, getDb(), reply, env};
    handler(context);
  } catch (...) {
    cleanConnection(place);
    throw;
  }
  cleanConnection(place);
}

void registerAction(const Env& env, const std::string& name, ContextHandler handler, ActionPlace place) {
  registerHandler(
      name,
      [env, handler = std::move(handler), place](const HttpRequest& request, Reply& reply) {
        runAction(env, request, reply, handler, place);
      },
      place);
}

}  // namespace Quorvel
