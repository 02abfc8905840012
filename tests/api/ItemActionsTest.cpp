// "item" through a real local server on a temporary database: paging, edits
// with their stock counters, and refused delete lists.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <tuple>

#include "api/ItemActions.h"
#include "base/Charset.h"
#include "store/Category.h"
#include "store/Item.h"
#include "tests/api/ApiClient.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/Eventually.h"

namespace Quorvel::testing {
namespace {

class ItemActions : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    registerItemActions(Env());
    cg = addCategory("cards");
    cgText = std::to_string(cg);
  }

  Json::Value item(const std::string& action, const std::vector<std::pair<std::string, std::string>>& form = {}) {
    return callAction(server_.port(), "item&action=" + action, formOf(form));
  }

  // `n` cards in one transaction; their ids in order.
  std::vector<int> fill(int n) {
    std::vector<int> ids;
    getDb()->begin();
    for (int k = 1; k <= n; ++k) ids.push_back(addCard(cg, "card " + std::to_string(k), "").id);
    getDb()->commit();
    return ids;
  }

  CategoryRecord counters() { return Category::instance()->get(cg); }

  TestServer server_;
  int cg = 0;
  std::string cgText;
};

TEST_F(ItemActions, PagingClampsThePageAndThePageSize) {
  // An empty category: page 0 of 0 and no list.
  Json::Value empty = item("lst", {{"cg_id", cgText}, {"page_num", "40"}, {"page", "3"}});
  EXPECT_EQ(empty["SUCCESS"], Json::Value(1));
  EXPECT_EQ(empty["PAGE"], Json::Value(0));
  EXPECT_EQ(empty["PAGE_MAX"], Json::Value(0));
  EXPECT_TRUE(empty.isMember("LIST"));
  EXPECT_TRUE(empty["LIST"].isNull());

  std::vector<int> ids = fill(41);
  Json::Value last = item("lst", {{"cg_id", cgText}, {"page_num", "40"}, {"page", "5"}});
  EXPECT_EQ(last["PAGE"], Json::Value(2));
  EXPECT_EQ(last["PAGE_MAX"], Json::Value(2));
  EXPECT_EQ(last["PAGE_NUM"], Json::Value(40));
  ASSERT_EQ(last["LIST"].size(), 1u);
  EXPECT_EQ(last["LIST"][0]["id"], Json::Value(ids[40]));
  EXPECT_EQ(last["LIST"][0]["data1"], Json::Value("card 41"));
  EXPECT_EQ(last["LIST"][0]["cg_id"], Json::Value(cg));
  EXPECT_EQ(last["LIST"][0]["send_order_id"], Json::Value(""));

  // page_num 0 or missing: one card per page; no page: the first.
  for (const std::string& size : {std::string("0"), std::string("")}) {
    Json::Value single = item("lst", {{"cg_id", cgText}, {"page_num", size}});
    EXPECT_EQ(single["PAGE_NUM"], Json::Value(1));
    EXPECT_EQ(single["PAGE"], Json::Value(1));
    EXPECT_EQ(single["PAGE_MAX"], Json::Value(41));
    ASSERT_EQ(single["LIST"].size(), 1u);
    EXPECT_EQ(single["LIST"][0]["id"], Json::Value(ids[0]));
  }
}

TEST_F(ItemActions, EditsKeepTheCountersAndUpdateTakesEveryField) {
  EXPECT_EQ(item("add", {{"cg_id", cgText}, {"data1", "卡号1"}, {"data2", "密码1"}, {"send_order_id", ""}})["SUCCESS"],
            Json::Value(1));
  EXPECT_EQ(item("add", {{"cg_id", cgText}, {"data1", "2"}, {"send_order_id", "sent with 77"}})["SUCCESS"],
            Json::Value(1));
  EXPECT_EQ(counters().store_num, 1);
  EXPECT_EQ(counters().store_total_num, 2);

  Json::Value list = item("lst", {{"cg_id", cgText}, {"page_num", "10"}});
  ASSERT_EQ(list["LIST"].size(), 2u);
  EXPECT_EQ(list["LIST"][0]["data1"], Json::Value("卡号1"));
  EXPECT_EQ(Item::instance()->get(getDb(), list["LIST"][0]["id"].asInt()).data2, gbk("密码1"));

  // A delivered card is the record of a delivery: it cannot be made unsent
  // again (SafetyActionsTest has the other refused edits).
  const std::string sentId = std::to_string(list["LIST"][1]["id"].asInt());
  EXPECT_EQ(item("update", {{"id", sentId}, {"cg_id", cgText}, {"data1", "2b"}, {"send_order_id", ""}})["SUCCESS"],
            Json::Value(0));
  EXPECT_EQ(counters().store_num, 1);
  // An unsent card takes every field; data3 not sent, so emptied.
  const std::string unsentId = std::to_string(list["LIST"][0]["id"].asInt());
  getDb()->exec("update `items` set `data3`='kept?' where `id`=" + unsentId);
  EXPECT_EQ(item("update", {{"id", unsentId}, {"cg_id", cgText}, {"data1", "1b"}, {"send_order_id", "by hand"}})["SUCCESS"],
            Json::Value(1));
  EXPECT_EQ(counters().store_num, 0);
  CardRecord updated = Item::instance()->get(getDb(), std::stoi(unsentId));
  EXPECT_EQ(updated.data1, "1b");
  EXPECT_EQ(updated.data3, "");

  Json::Value ghost = item("update", {{"id", "999"}, {"cg_id", cgText}, {"data1", "x"}});
  EXPECT_EQ(ghost["SUCCESS"], Json::Value(0));
  EXPECT_NE(ghost["MSG"].asString().find("卡密不存在"), std::string::npos) << ghost["MSG"].asString();

  EXPECT_EQ(item("del", {{"id", sentId}})["SUCCESS"], Json::Value(0));
  EXPECT_EQ(counters().store_total_num, 2);
  EXPECT_EQ(item("del", {{"id", "999"}})["SUCCESS"], Json::Value(1));
  // An unknown sub-action touches nothing and says it did nothing.
  EXPECT_EQ(item("whatever", {{"id", unsentId}})["SUCCESS"], Json::Value(0));
  EXPECT_EQ(counters().store_total_num, 2);
}

TEST_F(ItemActions, DeleteListsAreRefusedUnlessDecimalIdsAndCommas) {
  std::vector<int> ids = fill(3);
  const std::string all = std::to_string(ids[0]) + "," + std::to_string(ids[1]) + "," + std::to_string(ids[2]);
  for (const std::string& bad : {all + ") or (1=1", std::string(""), all + ","}) {
    Json::Value reply = item("del_more", {{"id_str", bad}});
    EXPECT_EQ(reply["SUCCESS"], Json::Value(0)) << bad;
    EXPECT_NE(reply["MSG"].asString().find("用逗号分隔的数字 ID"), std::string::npos);
  }
  EXPECT_EQ(counters().store_total_num, 3);
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 3);

  EXPECT_EQ(item("del_more", {{"id_str", std::to_string(ids[0]) + "," + std::to_string(ids[2])}})["SUCCESS"],
            Json::Value(1));
  EXPECT_EQ(counters().store_total_num, 1);
  EXPECT_EQ(counters().store_num, 1);
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 1);
}

// Every id of the request must be all digits ("1 OR 1=1" is not card 1), and
// a card goes only into a category that is stored.
TEST_F(ItemActions, IdsMustBeDigitsAndCardsGoOnlyIntoAStoredCategory) {
  std::vector<int> ids = fill(1);
  const std::string first = std::to_string(ids[0]);
  const std::string injected = first + " OR 1=1";
  const std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> refused = {
      {"del", {{"id", injected}}},
      {"del", {{"id", ""}}},
      {"update", {{"id", injected}, {"cg_id", cgText}, {"data1", "changed"}}},
      {"update", {{"id", first}, {"cg_id", cgText + "x"}, {"data1", "changed"}}},
      {"update", {{"id", first}, {"cg_id", std::to_string(cg + 1)}, {"data1", "changed"}}},
      {"add", {{"cg_id", "0"}, {"data1", "junk"}}},
      {"add", {{"cg_id", "-1"}, {"data1", "junk"}}},
      {"add", {{"cg_id", ""}, {"data1", "junk"}}},
      {"add", {{"cg_id", std::to_string(cg + 1)}, {"data1", "junk"}}},
      {"add", {{"cg_id", cgText + " OR 1=1"}, {"data1", "junk"}}},
      {"lst", {{"cg_id", cgText + "abc"}}},
  };
  for (const auto& [action, form] : refused) {
    Json::Value reply = item(action, form);
    EXPECT_EQ(reply["SUCCESS"], Json::Value(0)) << action << " " << formOf(form);
    EXPECT_FALSE(reply["MSG"].asString().empty());
    EXPECT_FALSE(reply.isMember("LIST"));
  }
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 1);
  EXPECT_EQ(Item::instance()->get(getDb(), ids[0]).data1, "card 1");
  EXPECT_EQ(Item::instance()->get(getDb(), ids[0]).cg_id, cg);
  EXPECT_EQ(counters().store_total_num, 1);

  // The message names the parameter that was wrong.
  EXPECT_NE(item("del", {{"id", injected}})["MSG"].asString().find("id"), std::string::npos);
  EXPECT_NE(item("add", {{"cg_id", "x"}})["MSG"].asString().find("cg_id"), std::string::npos);
}
// Resident memory of this process (the server runs in it), in bytes.
long residentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

TEST_F(ItemActions, ImportReportsSkippedLinesAndLeavesTheCountersRight) {
  addCard(cg, gbk("淺東乛"), "p0");
  const std::string lines = "淺東乛----p0\r\n乕亄匽----p1----备注----more\r\n\r\nn2----p2\r\n乕亄匽----p1\r\n----p3\r\n";
  Json::Value reply = item("import", {{"cg_id", cgText}, {"sep", "dash4"}, {"lines", lines}});
  ASSERT_EQ(reply["SUCCESS"], Json::Value(1)) << reply["MSG"].asString();
  EXPECT_EQ(reply["IMPORTED"], Json::Value(2));
  EXPECT_EQ(reply["SKIPPED_NUM"], Json::Value(3));
  ASSERT_EQ(reply["SKIPPED"].size(), 3u);
  EXPECT_EQ(reply["SKIPPED"][0]["LINE"], Json::Value(1));
  EXPECT_EQ(reply["SKIPPED"][0]["DATA1"], Json::Value("淺東乛"));
  EXPECT_EQ(reply["SKIPPED"][0]["DATA2"], Json::Value("p0"));
  EXPECT_EQ(reply["SKIPPED"][0]["REASON"], Json::Value("库存中已有相同的卡密"));
  EXPECT_EQ(reply["SKIPPED"][1]["LINE"], Json::Value(5));
  EXPECT_EQ(reply["SKIPPED"][1]["REASON"], Json::Value("与第 2 行重复"));
  EXPECT_EQ(reply["SKIPPED"][2]["LINE"], Json::Value(6));
  EXPECT_EQ(counters().store_num, 3);
  EXPECT_EQ(counters().store_total_num, 3);
  Json::Value listed = item("lst", {{"cg_id", cgText}, {"page_num", "10"}});
  ASSERT_EQ(listed["LIST"].size(), 3u);
  EXPECT_EQ(listed["LIST"][1]["data1"], Json::Value("乕亄匽"));
  EXPECT_EQ(listed["LIST"][1]["data3"], Json::Value("备注----more"));
}

TEST_F(ItemActions, ImportIsRefusedWithoutACategoryASeparatorOrCards) {
  for (const auto& form : std::vector<std::vector<std::pair<std::string, std::string>>>{
           {{"cg_id", std::to_string(cg + 1)}, {"sep", "space"}, {"lines", "a b"}},
           {{"cg_id", "1 or 1=1"}, {"sep", "space"}, {"lines", "a b"}},
           {{"cg_id", cgText}, {"sep", ";"}, {"lines", "a b"}},
           {{"cg_id", cgText}, {"sep", "space"}, {"lines", "\r\n \r\n"}}}) {
    Json::Value reply = item("import", form);
    EXPECT_EQ(reply["SUCCESS"], Json::Value(0)) << formOf(form);
    EXPECT_FALSE(reply["MSG"].asString().empty());
    EXPECT_FALSE(reply.isMember("IMPORTED"));
  }
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 0);
}

TEST_F(ItemActions, SearchFindsCardNumbersContainingTheTextInPages) {
  const int other = addCategory("other");
  for (const auto& [category, number] : std::vector<std::pair<int, std::string>>{
           {cg, "AB-1"}, {cg, "xab-2"}, {other, "AB-3"}, {cg, gbk("卡淺東-AB")}, {cg, "AB-5"}}) {
    addCard(category, number, "pw");
  }
  auto numbers = [](const Json::Value& reply) {
    std::vector<std::string> found;
    for (const Json::Value& card : reply["LIST"]) found.push_back(card["data1"].asString());
    return found;
  };
  Json::Value all = item("search", {{"q", "AB"}, {"page_num", "10"}});
  EXPECT_EQ(numbers(all), (std::vector<std::string>{"AB-1", "AB-3", "卡淺東-AB", "AB-5"})) << "case counts";
  Json::Value page = item("search", {{"q", "AB"}, {"cg_id", cgText}, {"page_num", "2"}, {"page", "7"}});
  EXPECT_EQ(numbers(page), (std::vector<std::string>{"AB-5"}));
  EXPECT_EQ(page["PAGE"], Json::Value(2));
  EXPECT_EQ(page["PAGE_MAX"], Json::Value(2));
  EXPECT_EQ(page["PAGE_NUM"], Json::Value(2));
  EXPECT_EQ(numbers(item("search", {{"q", "淺東"}, {"page_num", "10"}})), std::vector<std::string>{"卡淺東-AB"});
  // "%" and "_" are characters, not patterns.
  EXPECT_TRUE(item("search", {{"q", "%"}})["LIST"].isNull());
  EXPECT_EQ(item("search", {{"q", "_"}})["PAGE"], Json::Value(0));
  EXPECT_EQ(item("search", {{"q", "AB"}, {"page_num", "99999999"}})["PAGE_NUM"], Json::Value(1000));

  for (const std::string& bad : {std::string(""), std::string(101, 'A')}) {
    Json::Value refused = item("search", {{"q", bad}});
    EXPECT_EQ(refused["SUCCESS"], Json::Value(0)) << bad.size();
    EXPECT_FALSE(refused.isMember("LIST"));
  }
  EXPECT_EQ(item("search", {{"q", "AB"}, {"cg_id", "x"}})["SUCCESS"], Json::Value(0));
}

TEST_F(ItemActions, SearchAlsoFindsPasswordsAndExtraTexts) {
  addCard(cg, "N-1", gbk("密码QQ"));
  const int third = addCard(cg, "N-2", "pw").id;
  getDb()->exec("update `items` set `data3`='" + gbkToUtf8(gbk("备注QQ")) + "' where `id`=" + std::to_string(third));
  addCard(cg, "N-3", "pw");
  Json::Value found = item("search", {{"q", "QQ"}, {"page_num", "10"}});
  std::vector<std::string> numbers;
  for (const Json::Value& card : found["LIST"]) numbers.push_back(card["data1"].asString());
  EXPECT_EQ(numbers, (std::vector<std::string>{"N-1", "N-2"}));
  EXPECT_EQ(found["PAGE_MAX"], Json::Value(1));
  EXPECT_EQ(item("search", {{"q", "QQ"}, {"cg_id", cgText}, {"page_num", "1"}, {"page", "2"}})["LIST"][0]["data1"],
            Json::Value("N-2"));
}

TEST_F(ItemActions, ExportGivesTheUnsentCardsAsQuotedCsv) {
  for (const auto& [data1, data2, data3, sent] : std::vector<std::tuple<std::string, std::string, std::string, std::string>>{
           {"plain", "p", "", ""},
           {"sold", "p", "", "order 1"},
           {"a,b", "say \"hi\"", "two\r\nlines", ""},
           {gbk("淺東乛乕亄匽"), gbk("卡,密"), "x", ""}}) {
    CardRecord card;
    card.cg_id = cg;
    card.data1 = data1;
    card.data2 = data2;
    card.data3 = data3;
    card.send_order_id = sent;
    Item::instance()->add(getDb(), card);
  }
  Json::Value reply = item("export", {{"cg_id", cgText}});
  ASSERT_EQ(reply["SUCCESS"], Json::Value(1)) << reply["MSG"].asString();
  EXPECT_EQ(reply["COUNT"], Json::Value(3));
  EXPECT_EQ(reply["TOTAL"], Json::Value(3));
  EXPECT_EQ(reply["CSV"].asString(),
            "data1,data2,data3\r\n"
            "plain,p,\r\n"
            "\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\"\r\n"
            "淺東乛乕亄匽,\"卡,密\",x\r\n");
  EXPECT_EQ(item("export", {{"cg_id", std::to_string(cg + 1)}})["SUCCESS"], Json::Value(0));
}

// A 16 MB list of two million ids: refused by its length, without a
// statement being built, and the server gives the memory it took back.
TEST_F(ItemActions, ASixteenMegabyteDeleteListIsRefusedAndItsMemoryGivenBack) {
  fill(3);
  // The sender reuses one 1 MB piece, so that only the server's memory moves.
  std::string piece;
  while (piece.size() < 1000000) piece += "1234567,";
  const std::string lastId = "1";
  const size_t bodySize = 7 + 16 * piece.size() + lastId.size();
  ASSERT_EQ(item("lst", {{"cg_id", cgText}})["SUCCESS"], Json::Value(1));
  const long before = residentBytes();

  RawClient client(server_.port());
  client.send(withAccess(server_.port(), "POST /?do=item&action=del_more&callback=cb HTTP/1.1\r\nContent-Length: " +
                                             std::to_string(bodySize) + "\r\n\r\n") +
              "id_str=");
  for (int k = 0; k < 16; ++k) client.send(piece);
  client.send(lastId);
  std::optional<std::string> answer = client.readAllWithin(std::chrono::seconds(60));
  ASSERT_TRUE(answer.has_value());
  Json::Value reply = jsonpValue(*answer);
  EXPECT_EQ(reply["SUCCESS"], Json::Value(0));
  EXPECT_NE(reply["MSG"].asString().find("一次最多删除 100000 张卡密"), std::string::npos) << reply["MSG"].asString();
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 3);

  // The server lets go of the connection once it has seen the close.
  long after = residentBytes();
  testing::eventually(
      [&] {
        after = residentBytes();
        return after - before < 20 * 1024 * 1024;
      },
      std::chrono::milliseconds(50));
  EXPECT_LT(after - before, 20 * 1024 * 1024) << "before " << before << ", after " << after;
}

}  // namespace
}  // namespace Quorvel::testing
