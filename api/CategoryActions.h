// The actions with which the web UI sees the seller's items on sale and
// manages the card categories and the bindings of items to categories:
// "getGoodsLst" (a bare JSON array of the items on sale; `flush` = "1"
// scrapes the marketplace again) and "category" with the sub-actions "lst",
// "add", "del", "update", "bind", "unbind" and "bindLst"; "bindAll" (every
// binding) and "preview" (the buyer text of a template, api/CategoryPreview.h).
// "add" and "update" refuse a tpl or ext the delivery cannot read
// (api/CategoryChecks.h).
//
// Register before the server thread starts; the actions then run on the
// server thread. The goods refresh reads the GoodsSource of the Env they
// are registered with.
#pragma once

#include "base/Env.h"

namespace Quorvel {

void registerCategoryActions(const Env& env);

}  // namespace Quorvel
