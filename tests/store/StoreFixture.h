// Test fixture for the store: a fresh copy of the built template in the
// test's own temporary folder, set as the database before anything opens it;
// the store singletons are reloaded from it. Process-wide settings changed by
// a test are put back afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "store/Category.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"
#include "store/Goods.h"
#include "store/GoodsCategoryMap.h"
#include "store/Item.h"
#include "store/MsgQueue.h"
#include "store/SystemConfig.h"

namespace Quorvel {

class StoreFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = std::filesystem::temp_directory_path() /
           ("quorvel-store-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    setTemplatePath(QUORVEL_TEMPLATE_DB);
    setDatabasePath(dbPath());
    ASSERT_TRUE(prepareDatabaseFile());
    releaseDb();
    SystemConfig::instance()->load();
    MsgQueue::instance()->load();
    Category::instance()->load();
    GoodsCategoryMap::instance()->load();
    Goods::instance()->load();
  }

  void TearDown() override {
    releaseDb();
    setBusyTimeout(std::chrono::milliseconds(5000));
    setBusyObserver(nullptr);
    MsgQueue::setClock(nullptr);
    Goods::setSource(nullptr);
    Goods::instance()->setPageLimit(Goods::kDefaultPageLimit);
    Item::instance()->setLowStockFlag(false);
    setDatabasePath("vendara2012.db");
    setTemplatePath("tpl/vendara2012.db");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string dbPath() const { return (dir_ / "vendara2012.db").string(); }

  // A second connection to the same file, as another thread would have.
  std::shared_ptr<IDb> otherConnection() { return std::make_shared<Db>(dbPath())->connect(); }

  int count(const std::string& sql) {
    auto rows = getDb()->query(sql);
    return rows->next() ? (*rows->fetch())["num"].toInt() : -1;
  }

  std::filesystem::path dir_;
};

}  // namespace Quorvel
