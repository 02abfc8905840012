// The web actions that keep the seller's data safe, through a real local
// server: refused category names, refused edits of reserved and sent cards,
// a full disk answered in Chinese with nothing lost, the "backup" action,
// and the status page's safe-mode and storage fields.
#include <gtest/gtest.h>

#include "api/BackupActions.h"
#include "api/CategoryActions.h"
#include "api/ItemActions.h"
#include "api/StatusActions.h"
#include "base/Charset.h"
#include "base/ProcessWide.h"
#include "delivery/Deamon.h"
#include "store/Backups.h"
#include "store/Category.h"
#include "store/Item.h"
#include "store/SafeMode.h"
#include "store/StorageHealth.h"
#include "tests/api/ApiClient.h"
#include "tests/store/FullDiskVfs.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {
namespace {

using Form = std::vector<std::pair<std::string, std::string>>;

class SafetyActions : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    storageHealth().noteWriteWorked();
    daemon_ = std::make_shared<Deamon>(Env());
    registerCategoryActions(Env());
    registerItemActions(Env());
    registerStatusActions(Env(), daemon_);
    registerBackupActions(Env(), daemon_);
    cg_ = addCategory("cards");
  }
  void TearDown() override {
    server_.reset();
    daemon_.reset();
    storageHealth().noteWriteWorked();
    StoreFixture::TearDown();
  }

  Json::Value call(const std::string& action, const Form& form = {}) {
    if (!server_) server_ = std::make_unique<TestServer>();
    return callAction(server_->port(), action, formOf(form));
  }

  // Made by a test before the server opens its connection; outlives every
  // connection (they close in TearDown).
  std::unique_ptr<FullDiskVfs> disk_;
  std::shared_ptr<Deamon> daemon_;
  std::unique_ptr<TestServer> server_;  // started on first use (after a test's VFS)
  int cg_ = 0;
};

TEST_F(SafetyActions, CategoryNamesMustHoldAVisibleCharacterAndNoControlCharacter) {
  const std::string id = std::to_string(cg_);
  for (const std::string& bad : {std::string(""), std::string("   "), std::string("　　"), std::string("a\0b", 3),
                                 std::string("a\nb"), std::string("\t"), std::string("x\x7f")}) {
    Json::Value added = call("category&action=add", {{"name", bad}, {"type", "1"}});
    EXPECT_EQ(added["SUCCESS"], Json::Value(0)) << bad;
    EXPECT_NE(added["MSG"].asString().find("分类名称"), std::string::npos) << added["MSG"].asString();
    Json::Value updated = call("category&action=update", {{"id", id}, {"name", bad}, {"type", "1"}});
    EXPECT_EQ(updated["SUCCESS"], Json::Value(0)) << bad;
  }
  EXPECT_EQ(Category::instance()->all().size(), 1u);
  EXPECT_EQ(Category::instance()->get(cg_).name, "cards");
  EXPECT_EQ(count("select count(*) as `num` from `category`"), 1);
  // Spaces around a visible name, Chinese included, are fine.
  EXPECT_EQ(call("category&action=add", {{"name", " 话费卡 "}, {"type", "1"}})["SUCCESS"], Json::Value(1));
  EXPECT_EQ(call("category&action=update", {{"id", id}, {"name", "游戏　点卡"}, {"type", "1"}})["SUCCESS"],
            Json::Value(1));
  EXPECT_EQ(Category::instance()->get(cg_).name, gbk("游戏　点卡"));
}

TEST_F(SafetyActions, ReservedAndSentCardsCanNeitherBeEditedNorDeleted) {
  const CardRecord reserved = addCard(cg_, "r", "p", Item::reservedMark("9001"));
  const CardRecord sent = addCard(cg_, "s", "p", Item::deliveredMark("9000"));
  const CardRecord unsent = addCard(cg_, "u", "p");
  const std::string cgText = std::to_string(cg_);
  for (const CardRecord& card : {reserved, sent}) {
    const std::string id = std::to_string(card.id);
    Json::Value updated = call("item&action=update", {{"id", id}, {"cg_id", cgText}, {"data1", "x"}, {"send_order_id", ""}});
    EXPECT_EQ(updated["SUCCESS"], Json::Value(0));
    EXPECT_NE(updated["MSG"].asString().find("不能修改"), std::string::npos) << updated["MSG"].asString();
    Json::Value removed = call("item&action=del", {{"id", id}});
    EXPECT_EQ(removed["SUCCESS"], Json::Value(0));
    EXPECT_NE(removed["MSG"].asString().find("不能删除"), std::string::npos) << removed["MSG"].asString();
    EXPECT_EQ(Item::instance()->get(getDb(), card.id).send_order_id, card.send_order_id);
    EXPECT_EQ(Item::instance()->get(getDb(), card.id).data1, card.data1);
  }
  EXPECT_NE(call("item&action=update", {{"id", std::to_string(reserved.id)}, {"cg_id", cgText}, {"data1", "x"}})["MSG"].asString().find("发货中"),
            std::string::npos);
  // A list naming one of them deletes nothing.
  Json::Value many = call("item&action=del_more", {{"id_str", std::to_string(unsent.id) + "," + std::to_string(sent.id)}});
  EXPECT_EQ(many["SUCCESS"], Json::Value(0));
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 3);
  // Only the delivery writes a reserved mark.
  EXPECT_EQ(call("item&action=add", {{"cg_id", cgText}, {"data1", "n"}, {"send_order_id", gbkToUtf8(Item::reservedMark("1"))}})["SUCCESS"],
            Json::Value(0));
  EXPECT_EQ(call("item&action=update", {{"id", std::to_string(unsent.id)}, {"cg_id", cgText}, {"data1", "u2"},
                                        {"send_order_id", gbkToUtf8(Item::reservedMark("1"))}})["SUCCESS"],
            Json::Value(0));
  // An unsent card is the seller's to change.
  EXPECT_EQ(call("item&action=update", {{"id", std::to_string(unsent.id)}, {"cg_id", cgText}, {"data1", "u2"}})["SUCCESS"],
            Json::Value(1));
  EXPECT_EQ(call("item&action=del", {{"id", std::to_string(unsent.id)}})["SUCCESS"], Json::Value(1));
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 2);
}

TEST_F(SafetyActions, AFullDiskIsAnsweredInChineseAndLosesNothing) {
  disk_ = std::make_unique<FullDiskVfs>();  // before the server's connection opens
  FullDiskVfs& disk = *disk_;
  const std::string cgText = std::to_string(cg_);
  EXPECT_EQ(call("item&action=add", {{"cg_id", cgText}, {"data1", "before"}})["SUCCESS"], Json::Value(1));
  disk.setFull(true);
  Json::Value refused = call("item&action=add", {{"cg_id", cgText}, {"data1", "during"}});
  EXPECT_EQ(refused["SUCCESS"], Json::Value(0));
  EXPECT_NE(refused["MSG"].asString().find("磁盘空间不足"), std::string::npos) << refused.toStyledString();
  Json::Value status = call("getStatus");
  EXPECT_NE(status["STORAGE_MSG"].asString().find("磁盘空间不足"), std::string::npos);
  disk.setFull(false);
  EXPECT_GT(disk.refused(), 0);
  EXPECT_EQ(fileValue("select group_concat(`data1`) from (select `data1` from `items` order by `id`)"), "before") << "nothing half-written";
  EXPECT_EQ(fileValue("select `store_total_num` from `category` where `id`=" + cgText), "1");
  EXPECT_EQ(call("item&action=add", {{"cg_id", cgText}, {"data1", "after"}})["SUCCESS"], Json::Value(1));
  EXPECT_EQ(fileValue("select group_concat(`data1`) from (select `data1` from `items` order by `id`)"), "before,after");
}

TEST_F(SafetyActions, BackupListsCopiesMakesOneNowAndRestoresItRefusingWhileAnOrderIsInFlight) {
  addCard(cg_, "kept", "p");
  Json::Value made = call("backup&action=now");
  ASSERT_EQ(made["SUCCESS"], Json::Value(1)) << made.toStyledString();
  const std::string name = made["NAME"].asString();
  EXPECT_TRUE(Backups::isCopyName(name));
  addCard(cg_, "later", "p");

  Json::Value listed = call("backup&action=lst");
  ASSERT_EQ(listed["LIST"].size(), 1u);
  EXPECT_EQ(listed["LIST"][0]["NAME"].asString(), name);
  EXPECT_EQ(listed["LIST"][0]["CARDS"], Json::Value(1));
  EXPECT_EQ(listed["KEEP"], Json::Value(7));
  EXPECT_EQ(listed["INTERVAL_HOURS"], Json::Value(24));
  EXPECT_EQ(listed["DB_DAMAGED"], Json::Value(false));
  EXPECT_NE(listed["FOLDER"].asString().find("backup"), std::string::npos);

  getDb()->exec("insert into `orders` (`order_id`, `status`) values ('5', 3)");
  Json::Value refused = call("backup&action=restore", {{"name", name}});
  EXPECT_EQ(refused["SUCCESS"], Json::Value(0));
  EXPECT_NE(refused["MSG"].asString().find("正在发货中"), std::string::npos) << refused["MSG"].asString();
  getDb()->exec("update `orders` set `status`=2");

  EXPECT_EQ(call("backup&action=restore", {{"name", "../vendara2012.db"}})["SUCCESS"], Json::Value(0));
  Json::Value restored = call("backup&action=restore", {{"name", name}});
  ASSERT_EQ(restored["SUCCESS"], Json::Value(1)) << restored.toStyledString();
  EXPECT_EQ(fileValue("select group_concat(`data1`) from (select `data1` from `items` order by `id`)"), "kept");
  EXPECT_EQ(fileValue("select count(*) from `orders`"), "0");
  EXPECT_EQ(call("backup&action=lst")["LIST"].size(), 2u) << "the database before the restore was copied first";
}

TEST_F(SafetyActions, SafeModeShowsInTheStatusRefusesNewCopiesAndEndsWithARestore) {
  addCard(cg_, "kept", "p");
  const std::string name = call("backup&action=now")["NAME"].asString();
  Json::Value status = call("getStatus");
  EXPECT_EQ(status["DB_DAMAGED"], Json::Value(false));
  EXPECT_EQ(status["STORAGE_MSG"], Json::Value(""));
  SafeMode::instance()->enter(dbPath() + ".damaged-20260101-000000", "page 3 is malformed");
  status = call("getStatus");
  EXPECT_EQ(status["DB_DAMAGED"], Json::Value(true));
  EXPECT_NE(status["SAFE_MSG"].asString().find(name), std::string::npos) << status["SAFE_MSG"].asString();
  EXPECT_EQ(call("backup&action=now")["SUCCESS"], Json::Value(0));
  EXPECT_EQ(call("backup&action=restore", {{"name", name}})["SUCCESS"], Json::Value(1));
  EXPECT_EQ(call("getStatus")["DB_DAMAGED"], Json::Value(false));
  EXPECT_TRUE(daemon_->state().supervisor) << "the daemon starts once the data is back";
}

}  // namespace
}  // namespace Quorvel::testing
