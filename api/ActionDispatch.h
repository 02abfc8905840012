// The web actions' dispatch: registers each action in the server's action
// table (server/ActionTable.h) behind a step that takes the running thread's
// database connection, builds the action's ActionContext, runs the handler
// and then cleans the connection for the next piece of work on that thread.
//
// On the server thread the connection is kept and only reset
// (resetDbForNextAction): nothing an action left open (a transaction, a
// cursor's read) reaches the next one. On the outside worker it is released
// after every action, so that the worker's thread never holds one between
// jobs and none is left behind when the worker ends. Register before the
// server thread starts.
#pragma once

#include <string>

#include "api/ActionContext.h"
#include "server/ActionTable.h"

namespace Quorvel {

// The handler's context carries `env` (a copy shares its clock and entries).
void registerAction(const Env& env, const std::string& name, ContextHandler handler,
                    ActionPlace place = ActionPlace::kServerThread);

// Runs `handler` on `request` as the dispatch does for an action in `place`
// (for a caller without a server: benchmarks, tests). Whatever the handler
// lets escape propagates, after the connection was cleaned.
void runAction(const Env& env, const HttpRequest& request, Reply& reply, const ContextHandler& handler,
               ActionPlace place = ActionPlace::kServerThread);

}  // namespace Quorvel
