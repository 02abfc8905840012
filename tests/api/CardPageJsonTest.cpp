// A page of cards written straight to text must read exactly as the styled
// writer renders the same reply built from Json values.
#include "api/CardPageJson.h"

#include <gtest/gtest.h>

#include "base/Charset.h"
#include "base/Exception.h"
#include "server/StyledJson.h"

namespace Quorvel {
namespace {

CardRecord card(int id, int category, std::string data1, std::string data2, std::string data3, std::string order) {
  CardRecord record;
  record.id = id;
  record.cg_id = category;
  record.data1 = std::move(data1);
  record.data2 = std::move(data2);
  record.data3 = std::move(data3);
  record.send_order_id = std::move(order);
  return record;
}

void expectSameAsStyledWriter(const CardPage& page) {
  EXPECT_EQ(styledCardPage(page), styledJson(cardPageValue(page)));
}

TEST(CardPageJson, ReadsAsTheStyledWriterRendersTheSameReply) {
  expectSameAsStyledWriter({});  // no card: a null list
  expectSameAsStyledWriter({{card(1, 2, "A", "", "", "")}, 1, 1, 20});

  // Names whose second byte is \ | [ { ^ ], escapes, control bytes, empty
  // fields, and numbers of every width.
  CardPage page;
  const std::string names = gbk("淺東乛乕亄匽");
  for (int n = 0; n < 20; ++n) {
    page.cards.push_back(card(2147483600 + n, n, names + std::to_string(n), "quote\" back\\ " + gbk("淺"),
                              n % 2 ? "" : "line\r\nnext\ttab\x01" + gbk("匽"), n % 3 ? "" : "1234567890123"));
  }
  page.page = 5000;
  page.pages = 5000;
  page.pageSize = 20;
  expectSameAsStyledWriter(page);
  page.cards.resize(1);
  expectSameAsStyledWriter(page);
}

TEST(CardPageJson, TextThatIsNotGbkIsRefusedAsTheWriterRefusesIt) {
  CardPage page{{card(1, 1, "ok", "\xD6", "", "")}, 1, 1, 1};  // a lead byte without its second byte
  EXPECT_THROW(styledJson(cardPageValue(page)), Exception);
  EXPECT_THROW(styledCardPage(page), Exception);
}

}  // namespace
}  // namespace Quorvel
