// Splitting pasted card lines and importing them: separators, line ends,
// fields kept whole, duplicates against the stock and within the batch, the
// counters, and a failure that leaves nothing behind. Card texts carry GBK
// characters whose second byte is a pattern or template character (淺 \,
// 東 |, 乛 ^, 乕 [, 亄 {, 匽 ]).
#include <gtest/gtest.h>

#include "base/Charset.h"
#include "store/CardImport.h"
#include "store/DatabaseFile.h"
#include "store/Item.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel {
namespace {

std::vector<std::string> fieldsOf(const SplitCards& split) {
  std::vector<std::string> rows;
  for (const CardLine& card : split.cards) {
    rows.push_back(std::to_string(card.line) + "|" + card.data1 + "|" + card.data2 + "|" + card.data3);
  }
  return rows;
}

TEST(CardImportSplit, EachSeparatorSplitsIntoThreeFieldsKeepingTheRestInData3) {
  EXPECT_EQ(fieldsOf(CardImport::split("a b\r\nc  d e f\n\n  g\rh\t i", CardSeparator::kSpace)),
            (std::vector<std::string>{"1|a|b|", "2|c|d|e f", "4|g||", "5|h|i|"}));
  EXPECT_EQ(fieldsOf(CardImport::split("a\tb\t\tc\td\n", CardSeparator::kTab)),
            (std::vector<std::string>{"1|a|b|\tc\td"}));
  EXPECT_EQ(fieldsOf(CardImport::split("a, b ,c,d\r\nx y,z", CardSeparator::kComma)),
            (std::vector<std::string>{"1|a|b|c,d", "2|x y|z|"}));
  EXPECT_EQ(fieldsOf(CardImport::split("a----b---c----d----e\n-----x", CardSeparator::kDash4)),
            (std::vector<std::string>{"1|a|b---c|d----e"}));
  // A GBK character is never split, whatever its second byte.
  const std::string chinese = gbk("淺東乛 乕亄匽,卡----密");
  EXPECT_EQ(fieldsOf(CardImport::split(chinese, CardSeparator::kSpace)),
            std::vector<std::string>{"1|" + gbk("淺東乛") + "|" + gbk("乕亄匽,卡----密") + "|"});
  EXPECT_EQ(fieldsOf(CardImport::split(chinese, CardSeparator::kDash4)),
            std::vector<std::string>{"1|" + gbk("淺東乛 乕亄匽,卡") + "|" + gbk("密") + "|"});
}

TEST(CardImportSplit, CommasAndTabsKeepEmptyFieldsInPlaceSpacesDoNot) {
  EXPECT_EQ(fieldsOf(CardImport::split("A,,C\nB, ,D,E\nF,G,", CardSeparator::kComma)),
            (std::vector<std::string>{"1|A||C", "2|B||D,E", "3|F|G|"}));
  EXPECT_EQ(fieldsOf(CardImport::split("A\t\tC\nB \t \tD\n", CardSeparator::kTab)),
            (std::vector<std::string>{"1|A||C", "2|B||D"}));
  EXPECT_EQ(fieldsOf(CardImport::split("A   C", CardSeparator::kSpace)), (std::vector<std::string>{"1|A|C|"}));
  // An empty first field is still a line without a card number.
  const SplitCards noNumber = CardImport::split("\tB\tC", CardSeparator::kTab);
  EXPECT_TRUE(noNumber.cards.empty());
  EXPECT_EQ(noNumber.skipped.size(), 1u);
}

// Each line's UTF-8 in URL-alphabet base64, as the page sends them.
std::string encodedLines(const std::vector<std::string>& utf8Lines) {
  std::string out;
  for (size_t k = 0; k < utf8Lines.size(); ++k) {
    if (k > 0) out += ',';
    std::string line;
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    const std::string& bytes = utf8Lines[k];
    for (size_t i = 0; i < bytes.size(); i += 3) {
      uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
      if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
      if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
      line += alphabet[n >> 18];
      line += alphabet[(n >> 12) & 63];
      if (i + 1 < bytes.size()) line += alphabet[(n >> 6) & 63];
      if (i + 2 < bytes.size()) line += alphabet[n & 63];
    }
    out += line;
  }
  return out;
}

TEST(CardImportSplit, ALineGbkCannotStoreIsSkippedAloneWithItsNumber) {
  const SplitCards split = CardImport::splitEncoded(
      encodedLines({"卡1,密1", "卡2,😀", "", "𠀀,p", "卡3,,附加", "bad"}), CardSeparator::kComma);
  EXPECT_EQ(fieldsOf(split), (std::vector<std::string>{"1|" + gbk("卡1") + "|" + gbk("密1") + "|",
                                                       "5|" + gbk("卡3") + "||" + gbk("附加"), "6|bad||"}));
  ASSERT_EQ(split.skipped.size(), 2u);
  EXPECT_EQ(split.skipped[0].line, 2);
  EXPECT_EQ(split.skipped[0].data1, gbk("卡2")) << "the card number is shown when it is fine itself";
  EXPECT_NE(gbkToUtf8(split.skipped[0].reason).find("GBK 无法保存"), std::string::npos);
  EXPECT_EQ(split.skipped[1].line, 4);
  EXPECT_EQ(split.skipped[1].data1, "");
  // Damaged base64 is one skipped line too, never a refusal of the rest.
  const SplitCards damaged = CardImport::splitEncoded("YQ,*,Yg", CardSeparator::kComma);
  EXPECT_EQ(fieldsOf(damaged), (std::vector<std::string>{"1|a||", "3|b||"}));
  EXPECT_EQ(damaged.skipped.size(), 1u);
  std::string many;
  for (std::size_t k = 0; k <= CardImport::kMaxLines; ++k) many += "YQ,";
  EXPECT_THROW(CardImport::splitEncoded(many, CardSeparator::kComma), Exception);
}

TEST(CardImportSplit, LinesWithoutACardNumberTooLongOrNotGbkAreSkippedWithTheirNumbers) {
  const std::string longLine(CardImport::kMaxLineBytes + 1, 'x');
  const SplitCards split =
      CardImport::split(",only password\n" + longLine + "\nok,1\n\xFF\xFF,2\n   \t \nlast,3", CardSeparator::kComma);
  EXPECT_EQ(fieldsOf(split), (std::vector<std::string>{"3|ok|1|", "6|last|3|"}));
  ASSERT_EQ(split.skipped.size(), 3u);
  EXPECT_EQ(split.skipped[0].line, 1);
  EXPECT_EQ(split.skipped[0].data2, "only password");
  EXPECT_EQ(split.skipped[1].line, 2);
  EXPECT_LT(split.skipped[1].data1.size(), 80u) << "a long field is shortened in the report";
  EXPECT_EQ(split.skipped[2].line, 4);
  for (const SkippedCard& line : split.skipped) EXPECT_FALSE(line.reason.empty());
}

TEST(CardImportSplit, MoreLinesThanTheLimitAreRefusedEmptyLinesDoNotCount) {
  std::string text;
  for (std::size_t k = 0; k < CardImport::kMaxLines; ++k) text += "c" + std::to_string(k) + " p\n\n";
  EXPECT_EQ(CardImport::split(text, CardSeparator::kSpace).cards.size(), CardImport::kMaxLines);
  text += "one more";
  EXPECT_THROW(CardImport::split(text, CardSeparator::kSpace), Exception);
  EXPECT_THROW(CardImport::separatorNamed("semicolon"), Exception);
  EXPECT_EQ(CardImport::separatorNamed("dash4"), CardSeparator::kDash4);
}

class CardImportRun : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    cg_ = addCategory("one");
    other_ = addCategory("two");
  }
  std::string counters(int cg) {
    const CategoryRecord cached = Category::instance()->get(cg);
    const std::string id = std::to_string(cg);
    EXPECT_EQ(fileValue("select `store_num` || '/' || `store_total_num` from `category` where `id`=" + id),
              std::to_string(cached.store_num) + "/" + std::to_string(cached.store_total_num));
    return fileValue("select ifnull(sum(`send_order_id`=''),0) || '/' || count(*) from `items` where `cg_id`=" + id) +
           " " + std::to_string(cached.store_num) + "/" + std::to_string(cached.store_total_num);
  }
  int cg_ = 0;
  int other_ = 0;
};

TEST_F(CardImportRun, DuplicatesOfTheStockAnywhereAndOfEarlierLinesAreSkippedTheRestCounted) {
  addCard(other_, gbk("淺東乛"), "p1", gbk("已发货：订单号：9"));  // delivered, in another category
  addCard(cg_, "n2", "p2");
  const std::string text = gbk("淺東乛 p1\nn2 p2\nn2 p3\nn4 p4 x\n亄匽 p5\nn4 p4 y\n亄匽 p5\n");
  const ImportReport report = CardImport::run(getDb(), cg_, CardImport::split(text, CardSeparator::kSpace));
  EXPECT_EQ(report.imported, 3);
  std::vector<std::string> skipped;
  for (const SkippedCard& line : report.skipped) skipped.push_back(std::to_string(line.line) + "|" + line.data1);
  EXPECT_EQ(skipped, (std::vector<std::string>{"1|" + gbk("淺東乛"), "2|n2", "6|n4", "7|" + gbk("亄匽")}));
  EXPECT_NE(report.skipped[2].reason.find(gbk("第 4 行")), std::string::npos) << gbkToUtf8(report.skipped[2].reason);
  EXPECT_EQ(report.skipped[0].reason, report.skipped[1].reason) << "both are in the stock";
  EXPECT_EQ(counters(cg_), "4/4 4/4");
  EXPECT_EQ(counters(other_), "0/1 0/1");
  EXPECT_EQ(fileValue("select `data3` from `items` where `data1`='n4'"), "x");
  EXPECT_EQ(fileValue("select hex(`data1`) from `items` where `data2`='p5'"), "E4BA84E58CBD") << "UTF-8 in the file";
  // Same number, other password: a different card.
  EXPECT_EQ(CardImport::run(getDb(), cg_, CardImport::split("n2 other", CardSeparator::kSpace)).imported, 1);
}

TEST_F(CardImportRun, ASkippedLineOfTheSplitIsReportedInLineOrder) {
  addCard(cg_, "dup", "1");
  const ImportReport report = CardImport::run(getDb(), cg_, CardImport::split("dup,1\n,no number\nnew,2", CardSeparator::kComma));
  EXPECT_EQ(report.imported, 1);
  ASSERT_EQ(report.skipped.size(), 2u);
  EXPECT_EQ(report.skipped[0].line, 1);
  EXPECT_EQ(report.skipped[1].line, 2);
}

TEST_F(CardImportRun, AFailureLeavesNeitherCardsNorCountersBehind) {
  auto pragma = [](const std::string& name) {
    auto rows = getDb()->query("pragma " + name);
    return rows->next() ? rows->intAt(0) : -1;
  };
  const int temp = pragma("temp_store");
  const int cache = pragma("cache_size");
  addCard(cg_, "kept", "0");
  // The fourth new card fails to insert.
  getDb()->exec("create trigger `refuse` before insert on `items` when new.`data1`='bad' begin "
                "select raise(abort, 'disk full'); end");
  try {
    CardImport::run(getDb(), cg_, CardImport::split("a 1\nb 2\nc 3\nbad 4\nd 5", CardSeparator::kSpace));
    FAIL() << "the failure is raised";
  } catch (DbException e) {
    EXPECT_NE(e.message().find("disk full"), std::string::npos);
  }
  EXPECT_EQ(counters(cg_), "1/1 1/1");
  // The connection is usable again, no transaction is left open, and its
  // settings are its own again.
  EXPECT_EQ(CardImport::run(getDb(), cg_, CardImport::split("a 1", CardSeparator::kSpace)).imported, 1);
  EXPECT_EQ(fileValue("select count(*) from `items`"), "2");
  EXPECT_EQ(pragma("temp_store"), temp);
  EXPECT_EQ(pragma("cache_size"), cache);
}

TEST_F(CardImportRun, EveryImportIsABatchItsPartsStayUnderTheCapAndOneBatchIsUndone) {
  addCard(cg_, "own", "1");  // added by hand: in no batch
  const ImportReport first = CardImport::run(getDb(), cg_, CardImport::split("a 1\nb 2", CardSeparator::kSpace));
  ASSERT_GT(first.batch, 0);
  const ImportReport part = CardImport::run(getDb(), cg_, CardImport::split("c 3", CardSeparator::kSpace), first.batch);
  EXPECT_EQ(part.batch, first.batch) << "a later part goes on with the batch";
  const ImportReport second = CardImport::run(getDb(), cg_, CardImport::split("d 4", CardSeparator::kSpace));
  EXPECT_NE(second.batch, first.batch);
  EXPECT_THROW(CardImport::run(getDb(), other_, CardImport::split("e 5", CardSeparator::kSpace), first.batch), Exception);
  EXPECT_THROW(CardImport::run(getDb(), cg_, CardImport::split("e 5", CardSeparator::kSpace), 999), Exception);
  EXPECT_EQ(counters(cg_), "5/5 5/5");

  // A card of the batch already sold stays; the rest of the batch goes.
  getDb()->exec("update `items` set `send_order_id`='sold' where `data1`='b'");
  const BatchRemoval removal = CardImport::removeBatch(getDb(), first.batch);
  EXPECT_EQ(removal.removed, 2);
  EXPECT_EQ(removal.kept, 1);
  EXPECT_EQ(removal.categoryId, cg_);
  EXPECT_EQ(fileValue("select group_concat(`data1`, ' ') from (select `data1` from `items` order by `id`)"), "own b d");
  Item::instance()->refreshCounters(getDb(), cg_);
  EXPECT_EQ(counters(cg_), "2/3 2/3");
  // The second batch leaves nothing behind and is forgotten.
  EXPECT_EQ(CardImport::removeBatch(getDb(), second.batch).removed, 1);
  EXPECT_THROW(CardImport::removeBatch(getDb(), second.batch), Exception);

  // The parts of one batch together stay under the line cap.
  std::string lines;
  for (std::size_t k = 0; k < CardImport::kMaxLines / 2; ++k) lines += "n" + std::to_string(k) + " p\n";
  const ImportReport big = CardImport::run(getDb(), cg_, CardImport::split(lines, CardSeparator::kSpace));
  for (char& c : lines) c = c == 'n' ? 'm' : c;
  EXPECT_EQ(CardImport::run(getDb(), cg_, CardImport::split(lines, CardSeparator::kSpace), big.batch).imported,
            static_cast<int>(CardImport::kMaxLines / 2));
  const std::string before = fileValue("select count(*) from `items`");
  EXPECT_THROW(CardImport::run(getDb(), cg_, CardImport::split("over 1", CardSeparator::kSpace), big.batch), Exception);
  EXPECT_EQ(fileValue("select count(*) from `items`"), before);
}

TEST_F(CardImportRun, AnOlderDatabaseGetsTheBatchAndSubjectColumnsAndKeepsItsCards) {
  // An older template: no batch column, no batch table, no subject.
  releaseDb();
  {
    auto db = otherConnection();
    db->exec("create table `items_old` as select `id`,`cg_id`,`data1`,`data2`,`data3`,`send_order_id` from `items`;"
             "drop table `items`; alter table `items_old` rename to `items`;"
             "drop table `import_batch`;"
             "create table `mq` as select `id`,`to`,`from`,`msg`,`type`,`error_times`,`create_time`,`order_id`,"
             "`alipay_id` from `msg_queue`; drop table `msg_queue`; alter table `mq` rename to `msg_queue`;"
             "insert into `items` (`cg_id`,`data1`,`data2`,`data3`,`send_order_id`) values (" +
             std::to_string(cg_) + ",'old','1','','')");
  }
  upgradeDatabase();
  upgradeDatabase();  // a database that has them is left alone
  EXPECT_EQ(fileValue("select `batch` from `items` where `data1`='old'"), "0");
  EXPECT_EQ(fileValue("select count(*) from pragma_table_info('msg_queue') where `name`='subject'"), "1");
  EXPECT_EQ(fileValue("select count(*) from pragma_table_info('msg_queue') where `name`='last_error'"), "1");
  const ImportReport report = CardImport::run(getDb(), cg_, CardImport::split("new 2", CardSeparator::kSpace));
  EXPECT_EQ(report.imported, 1);
  EXPECT_EQ(fileValue("select `batch` from `items` where `data1`='new'"), std::to_string(report.batch));
}

TEST_F(CardImportRun, TheIndexesAreAddedToAnOlderDatabaseAtStartUp) {
  getDb()->exec("drop index `items_data`; drop index `orders_time`");
  releaseDb();
  upgradeDatabase();
  EXPECT_EQ(fileValue("select count(*) from `sqlite_master` where `type`='index' and `name` in "
                      "('items_data','orders_time')"),
            "2");
  auto plan = otherConnection()->query("explain query plan select `id` from `items` where `data1`='a' and "
                                       "`data2`='b'");
  ASSERT_TRUE(plan->next());
  EXPECT_NE((*plan->fetch())["detail"].toString().find("INDEX items_data"), std::string::npos);
}

}  // namespace
}  // namespace Quorvel
