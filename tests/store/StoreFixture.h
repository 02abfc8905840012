// Test fixture for the store: a fresh copy of the built template in the
// test's own temporary folder, set as the database before anything opens it.
// Every process-wide object (stores, settings, fakes of the outside world) is
// dropped before and after each test, so each test builds its own from its
// own database.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>

#include "base/ProcessWide.h"
#include "store/Category.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"
#include "store/Goods.h"
#include "store/GoodsCategoryMap.h"
#include "store/Item.h"
#include "store/MsgQueue.h"
#include "store/SystemConfig.h"
#include "store/ThreadConnections.h"
#include "tests/support/TestDatabase.h"

namespace Quorvel {

class StoreFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = std::filesystem::temp_directory_path() /
           ("quorvel-store-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    resetProcessWide();
    auto options = std::make_shared<DatabaseOptions>();
    options->path = dbPath();
    options->templatePath = QUORVEL_TEMPLATE_DB;
    testing::installDatabase(Clock::system(), options);
    ASSERT_TRUE(prepareDatabaseFile());
  }

  void TearDown() override {
    Item::instance()->setLowStockFlag(false);  // the test thread's own flag
    resetProcessWide();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string dbPath() const { return (dir_ / "vendara2012.db").string(); }

  // Sets a copy of the current database options with `change` applied, for
  // the connections opened from now on.
  static void changeDatabaseOptions(const std::function<void(DatabaseOptions&)>& change) {
    testing::changeDatabaseOptions(change);
  }

  // A second connection to the same file, as another thread would have.
  std::shared_ptr<IDb> otherConnection() {
    return std::make_shared<Db>(ThreadConnections::instance()->env(), dbPath())->connect();
  }

  // One value of `sql` as text, read from the file through a connection of
  // its own ("NULL" for a NULL; "no row" when the query gives none).
  std::string fileValue(const std::string& sql) {
    auto rows = otherConnection()->query("select ifnull(cast((" + sql + ") as text), 'NULL') as `v`");
    return rows->next() ? (*rows->fetch())["v"].toString() : "no row";
  }

  // Adds a category by that name; its id.
  static int addCategory(const std::string& name) {
    CategoryRecord record;
    record.name = name;
    Category::instance()->add(getDb(), record);
    return record.id;
  }

  // Adds a card to category `cg`, unsent while `sent` is empty; the card as
  // stored, id included.
  static CardRecord addCard(int cg, const std::string& data1, const std::string& data2, const std::string& sent = "") {
    CardRecord card;
    card.cg_id = cg;
    card.data1 = data1;
    card.data2 = data2;
    card.send_order_id = sent;
    Item::instance()->add(getDb(), card);
    return card;
  }

  int count(const std::string& sql) {
    auto rows = getDb()->query(sql);
    return rows->next() ? (*rows->fetch())["num"].toInt() : -1;
  }

  std::filesystem::path dir_;
};

}  // namespace Quorvel
