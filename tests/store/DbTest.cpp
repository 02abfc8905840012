#include "store/Db.h"

#include <sqlite3.h>

#include "base/Charset.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel {
namespace {

void expectTypeError(const std::function<void()>& read) {
  try {
    read();
    ADD_FAILURE() << "expected Value Type Error!";
  } catch (Exception e) {
    EXPECT_EQ(e.message(), "Value Type Error!");
  }
}

TEST(IValue, AccessorsAreStrictAndCopiesAreDeep) {
  IValue number(std::int32_t{7});
  EXPECT_EQ(number.toInt(), 7);
  expectTypeError([&] { number.toString(); });
  expectTypeError([&] { number.toInt64(); });
  expectTypeError([&] { IValue(std::string("12")).toInt(); });
  expectTypeError([&] { IValue().toString(); });

  IValue blob("a\0b", 3);
  EXPECT_EQ(blob.kind(), ValueKind::Blob);
  EXPECT_EQ(blob.toString(), std::string("a\0b", 3));

  // A setter replaces the kind: the old payload is gone.
  IValue changed(std::string("text"));
  changed.set(std::int64_t{5});
  EXPECT_EQ(changed.toInt64(), 5);
  expectTypeError([&] { changed.toString(); });

  std::map<std::string, IValue> inner{{"k", IValue("v")}};
  IValue original(inner);
  IValue copy = original;
  original.set(std::int32_t{1});
  EXPECT_EQ(copy.toMap()["k"].toString(), "v");
}

class DbTest : public StoreFixture {};

TEST_F(DbTest, ChineseTextIsStoredAsUtf8AndReadBackAsTheSameGbkBytes) {
  const std::string name = gbk("点卡：中文名");
  auto db = getDb();
  db->execute(std::make_shared<SQL>("insert into `category` (`name`) values (?)")->bind(name));
  auto raw = db->query("select hex(`name`) as `h`, `name` from `category`");
  ASSERT_TRUE(raw->next());
  auto row = raw->fetch();
  std::string utf8 = gbkToUtf8(name), hex;
  for (unsigned char c : utf8) hex += "0123456789ABCDEF"[c >> 4], hex += "0123456789ABCDEF"[c & 15];
  EXPECT_EQ((*row)["h"].toString(), hex);
  EXPECT_EQ((*row)["name"].toString(), name);
}

TEST_F(DbTest, EmptyStringIsTextAndNullIsTheEmptyKind) {
  auto db = getDb();
  db->execute(std::make_shared<SQL>("insert into `items` (`data1`,`data2`) values (?,?)")
                  ->bind(std::string())
                  ->bind(IValue()));
  auto row = db->query("select * from `items`")->fetch();
  EXPECT_EQ((*row)["data1"].kind(), ValueKind::String);
  EXPECT_EQ((*row)["data1"].toString(), "");
  EXPECT_TRUE((*row)["data2"].isEmpty());
  expectTypeError([&] { (*row)["data2"].toString(); });
  // A column the row does not hold reads as empty too.
  EXPECT_TRUE((*row)["no_such_column"].isEmpty());
}

TEST_F(DbTest, ColumnsComeBackInTheKindOfTheirAffinity) {
  auto db = getDb();
  db->execute(std::make_shared<SQL>("insert into `order_goods` (`o_id`,`item_id`,`goods_name`) values (?,?,?)")
                  ->bind(1)
                  ->bind(std::string("123456789"))
                  ->bind(std::string("42")));
  db->execute(std::make_shared<SQL>("insert into `goods` (`item_id`) values (?)")->bind(std::string("987")));
  auto line = db->query("select * from `order_goods`")->fetch();
  EXPECT_EQ((*line)["item_id"].toInt(), 123456789);  // bound as text, INTEGER affinity
  expectTypeError([&] { (*line)["o_id"].toString(); });
  expectTypeError([&] { (*line)["goods_name"].toInt(); });
  EXPECT_EQ((*db->query("select * from `goods`")->fetch())["item_id"].toString(), "987");

  auto counted = db->query("select count(*) as `num` from `order_goods`");
  ASSERT_TRUE(counted->next());
  EXPECT_EQ((*counted->fetch())["num"].kind(), ValueKind::Int);
}

TEST_F(DbTest, IntegersWiderThan32BitsKeepEveryBitAndAreRefusedByToInt) {
  auto db = getDb();
  // Marketplace item ids run to twelve digits, bound as text.
  for (const char* id : {"2147483647", "2147483648", "520123456789", "-2147483649"}) {
    db->execute(std::make_shared<SQL>("insert into `order_goods` (`o_id`,`item_id`) values (1,?)")->bind(std::string(id)));
  }
  auto rows = db->query("select `item_id` from `order_goods` order by rowid");
  ASSERT_TRUE(rows->next());
  IValue edge = (*rows->fetch())["item_id"];
  EXPECT_EQ(edge.kind(), ValueKind::Int);
  EXPECT_EQ(edge.toInt(), 2147483647);
  for (std::int64_t wide : {std::int64_t{2147483648}, std::int64_t{520123456789}, std::int64_t{-2147483649}}) {
    ASSERT_TRUE(rows->next());
    IValue value = (*rows->fetch())["item_id"];
    EXPECT_EQ(value.kind(), ValueKind::Int64);
    EXPECT_EQ(value.toInt64(), wide);
    expectTypeError([&] { value.toInt(); });  // never a cut-off number
  }
}

TEST_F(DbTest, FetchStepsAFreshCursorAndDoesNotAdvance) {
  auto db = getDb();
  db->exec("insert into `sys_config` (`key`,`value`) values ('a','1'); "
           "insert into `sys_config` (`key`,`value`) values ('b','2');");
  auto rows = db->query("select * from `sys_config` order by `key`");
  EXPECT_EQ((*rows->fetch())["key"].toString(), "a");
  EXPECT_EQ((*rows->fetch())["key"].toString(), "a");
  ASSERT_TRUE(rows->next());
  EXPECT_EQ((*rows->fetch())["key"].toString(), "b");
  EXPECT_FALSE(rows->next());
  auto past = rows->fetch();
  EXPECT_EQ(past->count("key"), 1u);
  EXPECT_TRUE((*past)["key"].isEmpty());
}

TEST_F(DbTest, FetchFromAnUpdateRunsItThenRaisesNoResultSet) {
  auto db = getDb();
  db->exec("insert into `sys_config` (`key`,`value`) values ('a','old')");
  auto update = db->query(std::make_shared<SQL>("update `sys_config` set `value`=?")->bind(std::string("new")));
  try {
    update->fetch();
    ADD_FAILURE() << "expected DbException";
  } catch (DbException e) {
    EXPECT_EQ(e.code(), DbException::kNoResultSet);
    EXPECT_EQ(e.message(), gbk("没有结果集，不能进行数据获取！"));
  }
  EXPECT_EQ((*db->query("select `value` from `sys_config`")->fetch())["value"].toString(), "new");
}

TEST_F(DbTest, StatementObjectsAndInsertIds) {
  auto sql = std::make_shared<SQL>("insert into `items` (`cg_id`) values (?)");
  sql->bind(3)->bind(std::string("extra"));
  EXPECT_EQ(sql->getParams()->size(), 2u);
  sql->setSql("insert into `items` (`cg_id`) values (?)");
  EXPECT_TRUE(sql->getParams()->empty());

  auto db = getDb();
  db->execute(sql->bind(3));
  int first = db->lastInsertId();
  db->execute(sql);
  EXPECT_GT(first, 0);
  EXPECT_EQ(db->lastInsertId(), first + 1);
  EXPECT_EQ((*db->query(std::make_shared<SQL>("select * from `items` where `id`=?")->bind(first))->fetch())["cg_id"]
                .toInt(),
            3);
}

TEST_F(DbTest, FailuresRaiseDbExceptionWithSqliteCode) {
  auto db = getDb();
  auto insert = [&](const char* id) {
    db->execute(std::make_shared<SQL>("insert into `orders` (`order_id`) values (?)")->bind(std::string(id)));
  };
  insert("111");
  try {
    insert("111");  // a listed order seen again
    ADD_FAILURE() << "a second row for one order was accepted";
  } catch (DbException e) {
    EXPECT_EQ(e.code(), SQLITE_CONSTRAINT);
    EXPECT_NE(e.message().find("UNIQUE"), std::string::npos) << e.message();
  }
  EXPECT_EQ(count("select count(*) as `num` from `orders`"), 1);

  try {
    db->query("select * from `no_such_table`");
    ADD_FAILURE() << "expected DbException";
  } catch (DbException e) {
    EXPECT_EQ(e.code(), SQLITE_ERROR);
    EXPECT_NE(e.message().find("no_such_table"), std::string::npos);
  }
  EXPECT_THROW(db->exec("not sql"), DbException);
}

TEST_F(DbTest, RollbackUndoesAndIsHarmlessWithoutATransaction) {
  auto db = getDb();
  db->begin();
  db->exec("insert into `items` (`cg_id`) values (1)");
  db->rollback();
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 0);
  EXPECT_NO_THROW(db->rollback());
  db->begin();
  db->exec("insert into `items` (`cg_id`) values (1)");
  db->commit();
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 1);
}

TEST_F(DbTest, ACursorKeepsItsConnectionAfterRelease) {
  getDb()->exec("insert into `items` (`cg_id`) values (5)");
  auto rows = getDb()->query("select * from `items`");
  releaseDb();
  ASSERT_TRUE(rows->next());
  EXPECT_EQ((*rows->fetch())["cg_id"].toInt(), 5);
}

TEST_F(DbTest, TemplateIsCopiedOnceAndNeverReplaced) {
  getDb()->exec("insert into `items` (`cg_id`) values (9)");
  releaseDb();
  EXPECT_FALSE(prepareDatabaseFile());
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 1);

  releaseDb();
  std::filesystem::remove(dbPath());
  changeDatabaseOptions([&](DatabaseOptions& options) { options.templatePath = (dir_ / "missing.db").string(); });
  EXPECT_THROW(prepareDatabaseFile(), std::filesystem::filesystem_error);
  EXPECT_FALSE(std::filesystem::exists(dbPath()));
}

}  // namespace
}  // namespace Quorvel
