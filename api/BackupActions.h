// The action "backup" of the maintenance view, with the sub-action in the
// query parameter `action`:
//   lst      "LIST": the good copies newest first, each {"NAME", "TIME"
//            (seconds), "SIZE" (bytes), "CARDS", "UNSENT", "ORDERS"};
//            "FOLDER" (where they are), "KEEP", "INTERVAL_HOURS",
//            "DB_DAMAGED", "SAFE_MSG";
//   now      a copy now: "NAME" of the new copy (refused in safe mode, where
//            the live database is an empty stand-in);
//   restore  post parameter `name`: refused while an order is at status 3
//            ("发货中"); otherwise holds the daemon, copies the current
//            database first ("BEFORE": that copy's name), writes the chosen
//            copy into the live database, reloads the stores' caches, leaves
//            safe mode, and starts the daemon again.
// Failures answer "SUCCESS": 0 with the seller's message.
//
// Register before the server starts; runs on the server's outside worker
// (a copy of a large stock takes a while), one request at a time.
#pragma once

#include <memory>

#include "base/Env.h"
#include "delivery/Deamon.h"
#include "store/Db.h"

namespace Quorvel {

void registerBackupActions(const Env& env, std::shared_ptr<Deamon> daemon = Deamon::instance());

// The restore step by step, as the action runs it on the calling thread's
// connection `db` (for tests): returns the name of the copy of the database
// as it was before.
std::string restoreBackup(const std::shared_ptr<IDb>& db, Deamon& daemon, const std::string& name);

}  // namespace Quorvel
