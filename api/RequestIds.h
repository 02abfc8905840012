// Strict readers of the ids a web action is given. A number read the lenient
// way (toNumber) takes "1 OR 1=1" for 1, so an action that changes or lists
// records by id reads the id with these instead: all decimal digits, nothing
// else, or the action is refused with an Exception naming the parameter.
// Paging numbers (`page`, `page_num`) and the category fields keep the
// lenient reading.
//
// Called by action handlers on the thread that runs them, with their context.
#pragma once

#include <string>

#include "api/ActionContext.h"

namespace Quorvel {

// The post parameter `name` as a record id: one or more decimal digits whose
// value fits an int.
int requireId(const ActionContext& context, const std::string& name);

// The post parameter `name` as a marketplace item id: one to 20 decimal
// digits, kept as text (it may be longer than an int).
std::string requireItemId(const ActionContext& context, const std::string& name);

// requireId, and the category with that id must be stored.
int requireCategory(const ActionContext& context, const std::string& name);

}  // namespace Quorvel
