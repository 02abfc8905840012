#include "server/StyledJson.h"

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>

#include <sstream>
#include <vector>

#include "base/Charset.h"
#include "base/Exception.h"

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
  std::string controls;
  for (char c = 1; c < 0x20; ++c) controls += c;
  envelope["CONTROLS"] = controls + "\x7F/";
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

// GBK characters whose second byte is an ASCII code that JSON or a pattern
// treats specially: 淺 \, 東 |, 乛 ^, 乕 [, 亄 {, 匽 ].
const char* const kAwkwardUtf8[] = {"淺", "東", "乛", "乕", "亄", "匽"};

// The styled text as the page reads it: converted to UTF-8 and parsed.
Json::Value parsedAsThePageDoes(const std::string& styledGbk) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream stream(gbkToUtf8(styledGbk));
  EXPECT_TRUE(Json::parseFromStream(builder, stream, &value, &errors)) << errors << "\n" << gbkToUtf8(styledGbk);
  return value;
}

TEST(StyledJson, GbkCharactersAreCopiedWholeEvenWhenTheirSecondByteIsABackslash) {
  Json::Value value(Json::objectValue);
  value["MSG"] = "\xD6\xD0\xCE\xC4\x95\x5C";  // GBK text whose last trail byte is a backslash
  EXPECT_EQ(styledJson(value), "{\n   \"MSG\" : \"\xD6\xD0\xCE\xC4\x95\x5C\"\n}\n");
  EXPECT_EQ(quoteJsonString(gbk("淺東")), "\"" + gbk("淺東") + "\"");
  // Escapes still apply to the ASCII around them.
  EXPECT_EQ(quoteJsonString(gbk("淺") + "\\\"\n"), "\"" + gbk("淺") + "\\\\\\\"\\n\"");
}

TEST(StyledJson, EveryAwkwardCharacterReadsBackAsItself) {
  std::vector<std::string> texts;  // UTF-8
  std::string all;
  for (const char* c : kAwkwardUtf8) {
    all += c;
    texts.push_back(c);                          // alone, so it ends the string
    texts.push_back(std::string(c) + "n");       // would read as a line break
    texts.push_back(std::string(c) + "\"x");     // would end the string early
    texts.push_back(std::string("a") + c + "\n\t\x01" + c + "\\");
    texts.push_back(std::string(c) + "u0041");   // would read as the letter A
  }
  texts.push_back(all);
  texts.push_back("淺東 卡号：123 密码：淺");

  Json::Value envelope(Json::objectValue);
  Json::Value list(Json::arrayValue);
  for (size_t k = 0; k < texts.size(); ++k) {
    Json::Value row(Json::objectValue);
    row["name"] = gbk(texts[k]);
    row[gbk(texts[k])] = static_cast<int>(k);  // as a key, too
    list.append(row);
  }
  envelope["LIST"] = list;
  envelope["MSG"] = gbk(all);
  Json::Value names(Json::arrayValue);
  for (const char* c : kAwkwardUtf8) names.append(gbk(c));
  envelope["NAMES"] = names;  // short enough for one line

  Json::Value read = parsedAsThePageDoes(styledJson(envelope));
  ASSERT_EQ(read["LIST"].size(), texts.size());
  for (size_t k = 0; k < texts.size(); ++k) {
    EXPECT_EQ(read["LIST"][static_cast<Json::ArrayIndex>(k)]["name"].asString(), texts[k]);
    EXPECT_EQ(read["LIST"][static_cast<Json::ArrayIndex>(k)][texts[k]].asInt(), static_cast<int>(k)) << texts[k];
  }
  EXPECT_EQ(read["MSG"].asString(), all);
  ASSERT_EQ(read["NAMES"].size(), 6u);
  for (Json::ArrayIndex k = 0; k < 6; ++k) EXPECT_EQ(read["NAMES"][k].asString(), kAwkwardUtf8[k]);
}

TEST(StyledJson, ALeadByteWithoutItsSecondByteIsRefused) {
  // Written alone it would join the next byte: the backslash of "\n" makes 淺.
  for (const std::string& text : {std::string("abc\x9C"), std::string("\x9C\n"), std::string("\x9C\""),
                                  std::string("\x9C\x7F"), std::string("\x81\x30")}) {
    EXPECT_THROW(quoteJsonString(text), Exception) << text;
    Json::Value value(Json::objectValue);
    value["MSG"] = text;
    EXPECT_THROW(styledJson(value), Exception);
  }
  // Single bytes that are no lead byte stay as they are; converting 0xFF
  // later fails on its own.
  EXPECT_EQ(quoteJsonString("\x80\xFF"), "\"\x80\xFF\"");
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
