#include "store/DatabaseFile.h"

#include <filesystem>

#include "port/PrivateFile.h"
#include "store/Db.h"
#include "store/ThreadConnections.h"

namespace Quorvel {

std::string databasePath() { return ThreadConnections::instance()->env().get<DatabaseOptions>()->path; }

std::shared_ptr<Clock> databaseClock() { return ThreadConnections::instance()->env().sharedClock(); }

std::string templatePath() {
  return ThreadConnections::instance()->env().get<DatabaseOptions>()->templatePath;
}

bool prepareDatabaseFile() {
  namespace fs = std::filesystem;
  fs::path live = databasePath();
  std::error_code error;
  fs::file_status status = fs::status(live, error);
  // A status that cannot be read counts as missing; the copy below then
  // fails rather than replace whatever is there.
  // An empty file holds no table and no card (a copy that never happened, a
  // disk that filled at the wrong moment): it counts as missing. SQLite
  // itself throws away the log beside an empty database.
  const bool empty = !error && fs::is_regular_file(status) && fs::file_size(live, error) == 0 && !error;
  if (!error && fs::exists(status) && !empty) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) port::narrowIfExists(live.string() + suffix);
    return false;
  }
  // A log or journal left beside a database that is gone belongs to that
  // database: SQLite would replay it into the fresh copy and corrupt it.
  // One that cannot be removed fails the start like a failed copy.
  for (const char* suffix : {"-wal", "-shm", "-journal"}) fs::remove(live.string() + suffix);
  if (empty) fs::remove(live);
  port::copyToPrivateFile(templatePath(), live);
  return true;
}

namespace {

// The card counts per id range of schema.sql (table `item_pages` and its
// triggers), for a database made from an older template: created and filled
// from the cards in one transaction, so that the counts are exact from the
// first page read on, or the database stays as it was.
void addPageCounts(IDb& db) {
  auto found = db.query("select count(*) as `num` from `sqlite_master` where `type`='table' and `name`='item_pages'");
  const bool present = found->next() && (*found->fetch())["num"].toInt() > 0;
  found.reset();
  if (present) return;
  db.begin();
  try {
    db.exec(
        "CREATE TABLE `item_pages` (`cg_id` INTEGER NOT NULL, `bucket` INTEGER NOT NULL, "
        "`total` INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (`cg_id`, `bucket`)) WITHOUT ROWID;"
        "CREATE TRIGGER IF NOT EXISTS `items_pages_insert` AFTER INSERT ON `items` WHEN new.`cg_id` IS NOT NULL BEGIN "
        "INSERT INTO `item_pages` (`cg_id`, `bucket`, `total`) VALUES (new.`cg_id`, new.`id` >> 10, 1) "
        "ON CONFLICT (`cg_id`, `bucket`) DO UPDATE SET `total` = `total` + 1; END;"
        "CREATE TRIGGER IF NOT EXISTS `items_pages_delete` AFTER DELETE ON `items` WHEN old.`cg_id` IS NOT NULL BEGIN "
        "UPDATE `item_pages` SET `total` = `total` - 1 WHERE `cg_id` = old.`cg_id` AND `bucket` = old.`id` >> 10; END;"
        "CREATE TRIGGER IF NOT EXISTS `items_pages_update` AFTER UPDATE OF `cg_id`, `id` ON `items` "
        "WHEN old.`cg_id` IS NOT new.`cg_id` OR old.`id` IS NOT new.`id` BEGIN "
        "UPDATE `item_pages` SET `total` = `total` - 1 WHERE `cg_id` = old.`cg_id` AND `bucket` = old.`id` >> 10; "
        "INSERT INTO `item_pages` (`cg_id`, `bucket`, `total`) SELECT new.`cg_id`, new.`id` >> 10, 1 "
        "WHERE new.`cg_id` IS NOT NULL ON CONFLICT (`cg_id`, `bucket`) DO UPDATE SET `total` = `total` + 1; END;"
        "INSERT INTO `item_pages` (`cg_id`, `bucket`, `total`) SELECT `cg_id`, `id` >> 10, count(*) FROM `items` "
        "WHERE `cg_id` IS NOT NULL GROUP BY `cg_id`, `id` >> 10;");
    db.commit();
  } catch (Exception) {
    try {
      db.rollback();
    } catch (Exception) {
      // The failure that brought us here is the one to report.
    }
    throw;
  }
}

}  // namespace

void upgradeDatabase() {
  // The same definitions as in schema.sql: {type, name, statement}.
  static const char* const kAdded[][3] = {
      {"table", "order_log",
       "CREATE TABLE IF NOT EXISTS `order_log` (`id` INTEGER PRIMARY KEY AUTOINCREMENT, `order_id` TEXT DEFAULT '', "
       "`time` INTEGER DEFAULT 0, `step` TEXT DEFAULT '', `text` TEXT DEFAULT ''); "
       "CREATE INDEX IF NOT EXISTS `order_log_order_id` ON `order_log` (`order_id`, `id`);"},
      {"table", "import_batch",
       "CREATE TABLE IF NOT EXISTS `import_batch` (`id` INTEGER PRIMARY KEY AUTOINCREMENT, `cg_id` INTEGER DEFAULT 0, "
       "`time` INTEGER DEFAULT 0, `lines` INTEGER DEFAULT 0);"},
      {"table", "deleted_orders",
       "CREATE TABLE IF NOT EXISTS `deleted_orders` (`order_id` TEXT PRIMARY KEY, `time` INTEGER DEFAULT 0);"},
      // The card import's duplicate check, and the overview's orders by day.
      {"index", "items_data", "CREATE INDEX IF NOT EXISTS `items_data` ON `items` (`data1`, `data2`);"},
      {"index", "orders_time", "CREATE INDEX IF NOT EXISTS `orders_time` ON `orders` (`time`, `status`);"},
      // The order search by buyer and by e-mail.
      {"index", "orders_buyer", "CREATE INDEX IF NOT EXISTS `orders_buyer` ON `orders` (`buyer`);"},
      {"index", "orders_buyer_email", "CREATE INDEX IF NOT EXISTS `orders_buyer_email` ON `orders` (`buyer_email`);"},
  };
  // Columns newer templates carry: {table, column, statement}. A column is
  // only ever added with a default, so older rows read as before.
  static const char* const kAddedColumns[][3] = {
      {"msg_queue", "subject", "ALTER TABLE `msg_queue` ADD COLUMN `subject` TEXT DEFAULT '';"},
      {"items", "batch", "ALTER TABLE `items` ADD COLUMN `batch` INTEGER DEFAULT 0;"},
      {"msg_queue", "last_error", "ALTER TABLE `msg_queue` ADD COLUMN `last_error` TEXT DEFAULT '';"},
  };
  auto db = std::make_shared<Db>(ThreadConnections::instance()->env());
  db->open();
  addPageCounts(*db);
  for (const auto& [table, column, sql] : kAddedColumns) {
    auto found = db->query(std::make_shared<SQL>("select count(*) as `num` from pragma_table_info(?) where `name`=?")
                               ->bind(std::string(table))
                               ->bind(std::string(column)));
    const bool present = found->next() && (*found->fetch())["num"].toInt() > 0;
    found.reset();
    if (!present) db->exec(sql);
  }
  for (const auto& [type, name, sql] : kAdded) {
    auto found = db->query(std::make_shared<SQL>("select count(*) as `num` from `sqlite_master` where `type`=? "
                                                 "and `name`=?")
                               ->bind(std::string(type))
                               ->bind(std::string(name)));
    const bool present = found->next() && (*found->fetch())["num"].toInt() > 0;
    found.reset();
    if (!present) db->exec(sql);
  }
}

}  // namespace Quorvel
