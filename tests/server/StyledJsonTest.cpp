#include "server/StyledJson.h"

#include <gtest/gtest.h>
#include <json/writer.h>

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace Quorvel {
namespace {

std::string reference(const Json::Value& value) {
  Json::StyledWriter writer;
  return writer.write(value);
}

// For ASCII text the layout is exactly jsoncpp's StyledWriter, including the
// right-margin rule for one-line arrays and nested containers.
TEST(StyledJson, LayoutMatchesStyledWriterOnAscii) {
  Json::Value envelope(Json::objectValue);
  envelope["SUCCESS"] = 1;
  envelope["MSG"] = "with \"quotes\", \\ and \n\t\x01 controls";
  envelope["LIST"] = Json::Value(Json::nullValue);
  envelope["PAGE"] = 3;
  envelope["RUNNING"] = false;
  envelope["BIG"] = Json::Int64(1) << 40;
  envelope["EMPTY_OBJ"] = Json::Value(Json::objectValue);
  envelope["EMPTY_ARR"] = Json::Value(Json::arrayValue);
  Json::Value shortArray(Json::arrayValue);
  for (int i = 0; i < 5; ++i) shortArray.append(i);
  envelope["SHORT"] = shortArray;
  Json::Value longArray(Json::arrayValue);
  for (int i = 0; i < 12; ++i) longArray.append("item-" + std::to_string(i));
  envelope["LONG"] = longArray;
  Json::Value manyNumbers(Json::arrayValue);
  for (int i = 0; i < 30; ++i) manyNumbers.append(i);
  envelope["MANY"] = manyNumbers;
  Json::Value rows(Json::arrayValue);
  for (int i = 0; i < 3; ++i) {
    Json::Value row(Json::objectValue);
    row["id"] = i;
    row["name"] = "card " + std::to_string(i);
    row["tags"] = shortArray;
    row["nested"] = Json::Value(Json::arrayValue);
    row["nested"].append(shortArray);
    rows.append(row);
  }
  envelope["ROWS"] = rows;

  EXPECT_EQ(styledJson(envelope), reference(envelope));
  EXPECT_EQ(styledJson(Json::Value(Json::nullValue)), reference(Json::Value(Json::nullValue)));
  EXPECT_EQ(styledJson(rows), reference(rows));
  EXPECT_EQ(styledJson(Json::Value("top")), reference(Json::Value("top")));
}

TEST(StyledJson, ArrayJustAtTheMargin) {
  // 4 + 2 * (n - 1) + sum of item widths: one line below 74 characters.
  for (int width = 60; width < 80; ++width) {
    Json::Value array(Json::arrayValue);
    array.append(std::string(width - 6, 'x'));
    array.append(1);
    EXPECT_EQ(styledJson(array), reference(array)) << width;
  }
}

TEST(StyledJson, GbkBytesPassThroughUnchanged) {
  Json::Value value(Json::objectValue);
  value["MSG"] = "\xD6\xD0\xCE\xC4\x95\x5C";  // GBK text whose last trail byte is a backslash
  std::string text = styledJson(value);
  EXPECT_EQ(text, "{\n   \"MSG\" : \"\xD6\xD0\xCE\xC4\x95\\\\\"\n}\n");
}

TEST(StyledJson, KeysInByteOrder) {
  Json::Value value(Json::objectValue);
  value["b"] = 1;
  value["B"] = 2;
  value["\xD6\xD0"] = 3;
  value["a"] = 4;
  EXPECT_EQ(styledJson(value), "{\n   \"B\" : 2,\n   \"a\" : 4,\n   \"b\" : 1,\n   \"\xD6\xD0\" : 3\n}\n");
}

}  // namespace
}  // namespace Quorvel
