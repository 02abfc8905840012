// Every action that carries a sub-action answers a name it does not know,
// or no name at all, with a failure the page can show: nothing was done, and
// the message says which sub-action it was. Known sub-actions still run.
#include <gtest/gtest.h>

#include "api/CategoryActions.h"
#include "api/ItemActions.h"
#include "api/OrderActions.h"
#include "tests/api/ApiClient.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {
namespace {

class SubActions : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    registerCategoryActions(Env());
    registerItemActions(Env());
    registerOrderActions(Env());
  }
  TestServer server_;
};

TEST_F(SubActions, AnUnknownOrMissingSubActionOfEveryActionIsRefusedByName) {
  const int cg = addCategory("cards");
  for (const char* action : {"category", "item", "order"}) {
    SCOPED_TRACE(action);
    Json::Value unknown = callAction(server_.port(), std::string(action) + "&action=lstt");
    EXPECT_EQ(unknown["SUCCESS"].asInt(), 0);
    EXPECT_EQ(unknown["MSG"].asString(), "未知的操作：lstt");

    Json::Value missing = callAction(server_.port(), action);
    EXPECT_EQ(missing["SUCCESS"].asInt(), 0);
    EXPECT_EQ(missing["MSG"].asString(), "请求缺少操作名称（action）。");

    // A name that is not plain text is shown without its raw bytes, and
    // cut short.
    Json::Value odd = callAction(server_.port(), std::string(action) + "&action=%FF%3Cb%3E" + std::string(60, 'x'));
    EXPECT_EQ(odd["SUCCESS"].asInt(), 0);
    EXPECT_EQ(odd["MSG"].asString(), "未知的操作：?<b>" + std::string(36, 'x') + "...");

    // A known one still runs (a card page needs its category).
    const std::string known = std::string(action) == "item" ? "&action=lst&_postData=cg_id%3D" + std::to_string(cg) : "&action=lst";
    EXPECT_EQ(callAction(server_.port(), std::string(action) + known)["SUCCESS"].asInt(), 1);
  }
  // Nothing was added by the refused calls.
  EXPECT_EQ(count("select count(*) as `num` from `category`"), 1);
}

}  // namespace
}  // namespace Quorvel::testing
