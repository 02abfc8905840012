// The actions with which the web UI reads and writes the program's settings
// and sees whether the delivery daemon is working: "setConfig", "getConfig"
// (with the settings' ranges and defaults under "RULES"), "getStatus", and
// the overview's figures, "getOverview" (api/OverviewActions.h).
//
// Register before the server thread starts; the actions then run on the
// server thread. "getStatus" reports on `daemon` (the program passes the
// process-wide daemon), and under "LOGIN_MSG" on the last login attempt:
// {"SUCCESS": 1 or 0, "MSG": text, "TIME": seconds}, null before the first;
// under "REFRESH" on the goods refresh (store/GoodsRefreshProgress.h):
// {"RUNNING", "PAGES", "ITEMS", "FINISHED" (seconds, 0: none yet), "MSG"};
// "DB_DAMAGED" (true in safe mode, store/SafeMode.h) with "SAFE_MSG", and
// "STORAGE_MSG", the last failed write's message while the disk refuses
// writes (empty otherwise).
#pragma once

#include "base/Env.h"
#include "delivery/Deamon.h"

namespace Quorvel {

void registerStatusActions(const Env& env, std::shared_ptr<Deamon> daemon = Deamon::instance());

}  // namespace Quorvel
