// The shape shared by the actions that carry a sub-action in the query
// parameter `action` ("category", "item"): the answer starts as
// {"SUCCESS": 1, "MSG": "SUCCESS"}, the named sub-action completes it, and a
// failure it raises becomes "SUCCESS": 0 with the message. An unknown or
// missing sub-action does nothing and answers "SUCCESS": 0 with a message
// that names it, so the page can tell that nothing was done.
//
// Called by an action handler on the thread that runs it.
#pragma once

#include <json/value.h>

#include <functional>
#include <string>
#include <unordered_map>

#include "api/ActionContext.h"

namespace Quorvel {

using SubAction = std::function<void(ActionContext& context, Json::Value& reply)>;
using SubActionTable = std::unordered_map<std::string, SubAction>;

// Runs the sub-action named by the context's request and writes the answer.
void answerSubAction(ActionContext& context, const SubActionTable& table);

}  // namespace Quorvel
