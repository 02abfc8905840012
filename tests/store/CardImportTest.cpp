// Splitting pasted card lines and importing them: separators, line ends,
// fields kept whole, duplicates against the stock and within the batch, the
// counters, and a failure that leaves nothing behind. Card texts carry GBK
// characters whose second byte is a pattern or template character (淺 \,
// 東 |, 乛 ^, 乕 [, 亄 {, 匽 ]).
#include <gtest/gtest.h>

#include "base/Charset.h"
#include "store/CardImport.h"
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
            (std::vector<std::string>{"1|a|b|c\td"}));
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
  const ImportReport report = CardImport::run(cg_, CardImport::split(text, CardSeparator::kSpace));
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
  EXPECT_EQ(CardImport::run(cg_, CardImport::split("n2 other", CardSeparator::kSpace)).imported, 1);
}

TEST_F(CardImportRun, ASkippedLineOfTheSplitIsReportedInLineOrder) {
  addCard(cg_, "dup", "1");
  const ImportReport report = CardImport::run(cg_, CardImport::split("dup,1\n,no number\nnew,2", CardSeparator::kComma));
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
    CardImport::run(cg_, CardImport::split("a 1\nb 2\nc 3\nbad 4\nd 5", CardSeparator::kSpace));
    FAIL() << "the failure is raised";
  } catch (DbException e) {
    EXPECT_NE(e.message().find("disk full"), std::string::npos);
  }
  EXPECT_EQ(counters(cg_), "1/1 1/1");
  // The connection is usable again, no transaction is left open, and its
  // settings are its own again.
  EXPECT_EQ(CardImport::run(cg_, CardImport::split("a 1", CardSeparator::kSpace)).imported, 1);
  EXPECT_EQ(fileValue("select count(*) from `items`"), "2");
  EXPECT_EQ(pragma("temp_store"), temp);
  EXPECT_EQ(pragma("cache_size"), cache);
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
