#include "server/HttpServer.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include "base/Charset.h"
#include "base/Exception.h"

#include "server/ActionTable.h"
#include "server/LaunchKey.h"
#include "tests/server/TestServer.h"

namespace Quorvel {
namespace {

using testing::bodyOf;
using testing::exchange;
using testing::exchangeAsIs;
using testing::headerOf;
using testing::hostHeader;
using testing::keyed;
using testing::RawClient;
using testing::TestServer;

// Answers with every request header count and parameter it received.
void echoAction(const HttpRequest& request, Reply& out) {
  Json::Value reply(Json::objectValue);
  reply["SUCCESS"] = 1;
  reply["HEADERS"] = static_cast<int>(request.requestHeaders.size());
  reply["METHOD"] = request.method;
  Json::Value post(Json::objectValue);
  for (const auto& [key, value] : request.post) post[key] = value;
  reply["POST"] = post;
  out.writeJsonp(reply);
}

class HttpServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registerHandler("echo", echoAction);
    registerHandler("chinese", [](const HttpRequest&, Reply& out) {
      Json::Value reply(Json::objectValue);
      reply["MSG"] = "\xD6\xD0\xCE\xC4";  // GBK
      reply["SUCCESS"] = 1;
      out.writeJsonp(reply);
    });
    registerHandler("names", [](const HttpRequest&, Reply& out) {
      // Names whose second bytes are \ | ^ [ { ], one ending a string.
      Json::Value reply(Json::objectValue);
      reply["SUCCESS"] = 1;
      reply["MSG"] = gbk("淺東乛乕亄匽");
      Json::Value list(Json::arrayValue);
      for (const char* name : {"淺", "淺東", "淺n", "東乛乕亄匽淺", "a\"淺"}) list.append(gbk(name));
      reply["LIST"] = list;
      out.writeJsonp(reply);
    });
    registerHandler("notGbk", [](const HttpRequest& request, Reply& out) {
      Json::Value reply(Json::objectValue);
      reply["SUCCESS"] = 1;
      reply["MSG"] = queryParam(request, "text");
      out.writeJsonp(reply);
    });
    registerHandler("counted", [](const HttpRequest&, Reply& out) {
      ++countedRuns;
      out.writeJsonp(Json::Value(Json::objectValue));
    });
    registerHandler("guarded", [](const HttpRequest& request, Reply& out) {
      out.answerJsonp(Json::Value(Json::objectValue), [&request](Json::Value& reply) {
        reply["SUCCESS"] = 1;
        if (queryParam(request, "fail") == "1") throw Exception("it failed");
        if (queryParam(request, "fail") == "2") throw std::runtime_error("standard failure");
        reply["N"] = toNumber(queryParam(request, "n"));
      });
    });
  }

  Json::Value jsonOf(const std::string& response, const std::string& callback = "cb") {
    std::string body = bodyOf(response);
    EXPECT_EQ(body.rfind(callback + "(", 0), 0u) << body;
    Json::Value value;
    Json::Reader().parse(body.substr(callback.size() + 1, body.size() - callback.size() - 2), value);
    return value;
  }

  static inline int countedRuns = 0;  // runs of "counted", on the server thread
  TestServer server_;
};

TEST_F(HttpServerTest, UnknownMissingAndWrongCaseActionsAreBadRequests) {
  for (const char* target : {"/", "/?do=", "/?do=nothing", "/?do=ECHO", "/?x=1"}) {
    std::string response = exchange(server_.port(), std::string("GET ") + target + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(response.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << target;
    EXPECT_EQ(bodyOf(response), "<h2>Bad Request!</h2>") << target;
    EXPECT_EQ(headerOf(response, "Content-Type"), "text/html;charset=gbk");
    EXPECT_EQ(headerOf(response, "Server"), "Vendara 1.0 Local Server Daemon");
    EXPECT_EQ(headerOf(response, "Connection"), "Closed");
    EXPECT_EQ(headerOf(response, "Content-Length"), "21");
  }
}

TEST_F(HttpServerTest, JsonpAnswerIsUtf8WithItsByteLength) {
  std::string response = exchange(server_.port(), "GET /?do=chinese&callback=jsonp123 HTTP/1.1\r\n\r\n");
  std::string body = bodyOf(response);
  EXPECT_EQ(body, "jsonp123({\n   \"MSG\" : \"\xE4\xB8\xAD\xE6\x96\x87\",\n   \"SUCCESS\" : 1\n}\n)");
  EXPECT_EQ(headerOf(response, "Content-Type"), "text/javascript;charset=utf-8;");
  EXPECT_EQ(headerOf(response, "Content-Length"), std::to_string(body.size()));
  // Without a callback the text is merely parenthesised.
  EXPECT_EQ(bodyOf(exchange(server_.port(), "GET /?do=chinese HTTP/1.1\r\n\r\n")).substr(0, 2), "({");
}

TEST_F(HttpServerTest, GbkNamesWithBackslashSecondBytesReachThePageIntact) {
  Json::Value reply = jsonOf(exchange(server_.port(), "GET /?do=names&callback=cb HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(reply["SUCCESS"].asInt(), 1);
  EXPECT_EQ(reply["MSG"].asString(), "淺東乛乕亄匽");
  ASSERT_EQ(reply["LIST"].size(), 5u);
  EXPECT_EQ(reply["LIST"][0].asString(), "淺");
  EXPECT_EQ(reply["LIST"][1].asString(), "淺東");
  EXPECT_EQ(reply["LIST"][2].asString(), "淺n");
  EXPECT_EQ(reply["LIST"][3].asString(), "東乛乕亄匽淺");
  EXPECT_EQ(reply["LIST"][4].asString(), "a\"淺");
}

TEST_F(HttpServerTest, TextThatIsNotGbkIsAnsweredWithAFailureTheScriptCanRead) {
  // A lead byte without its second byte, before the closing quote, before an
  // escape that would complete it, and a byte GBK does not have.
  for (const char* text : {"abc%9C", "%9C%0A", "%9C%22", "%FF"}) {
    std::string response =
        exchange(server_.port(), std::string("GET /?do=notGbk&callback=cb&text=") + text + " HTTP/1.1\r\n\r\n");
    Json::Value reply = jsonOf(response);
    EXPECT_EQ(reply["SUCCESS"].asInt(), 0) << text;
    EXPECT_NE(reply["MSG"].asString().find("not valid GBK"), std::string::npos) << text;
    EXPECT_EQ(headerOf(response, "Content-Length"), std::to_string(bodyOf(response).size()));
  }
}

TEST_F(HttpServerTest, CallbacksThatAreNotScriptNamesAreRefusedBeforeTheActionRuns) {
  const std::string tooLong(kMaxCallbackLength + 1, 'a');
  for (const std::string& callback : {std::string("1cb"), tooLong, std::string("cb%28"), std::string("%D6%D0"),
                                      std::string("%3Cscript%3E"), std::string("a-b"), std::string("cb%0A"),
                                      std::string("alert(1);cb")}) {
    countedRuns = 0;
    std::string response =
        exchange(server_.port(), "GET /?do=counted&callback=" + callback + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(response.rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << callback;
    EXPECT_EQ(bodyOf(response), kBadCallbackBody);
    EXPECT_EQ(headerOf(response, "Content-Length"), std::to_string(bodyOf(response).size()));
    EXPECT_EQ(countedRuns, 0) << callback;
  }
  // A refused callback is refused when the post data cannot be read, too.
  EXPECT_EQ(exchange(server_.port(), "GET /?do=counted&callback=%3C&_postData=a%3D%25FF HTTP/1.1\r\n\r\n")
                .rfind("HTTP/1.1 400 ", 0),
            0u);

  // Plain names, the longest one included, and no callback at all still work.
  const std::string longest(kMaxCallbackLength, 'b');
  for (const std::string& callback : {std::string("jQuery17205_1344"), std::string("$.cb_1"), std::string("_"), longest}) {
    countedRuns = 0;
    std::string response = exchange(server_.port(), "GET /?do=counted&callback=" + callback + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(response.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << callback;
    EXPECT_EQ(bodyOf(response), callback + "({}\n)");
    EXPECT_EQ(countedRuns, 1);
  }
  countedRuns = 0;
  EXPECT_EQ(bodyOf(exchange(server_.port(), "GET /?do=counted HTTP/1.1\r\n\r\n")), "({}\n)");
  EXPECT_EQ(countedRuns, 1);
  // An empty callback is no script name either.
  EXPECT_EQ(exchange(server_.port(), "GET /?do=counted&callback= HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 400 ", 0), 0u);
  EXPECT_EQ(countedRuns, 1);
}

TEST_F(HttpServerTest, RequestSplitOverSegmentsWaitsForTheEmptyLine) {
  RawClient client(server_.port());
  client.send("GET /?do=echo&call");
  client.send("back=cb&token=" + launchKey() + " HTTP/1.1\r\n" + hostHeader(server_.port()) + "X-A: 1\r\n");
  client.send("X-B: 2\r\n");
  client.send("\r\n");
  Json::Value reply = jsonOf(client.readAll());
  EXPECT_EQ(reply["HEADERS"].asInt(), 3);
}

TEST_F(HttpServerTest, BodyAnnouncedByContentLengthIsWaitedFor) {
  RawClient client(server_.port());
  client.send("POST " + keyed("/?do=echo&callback=cb") + " HTTP/1.1\r\n" + hostHeader(server_.port()) +
              "Content-Length: 12\r\n\r\nname=");
  client.send("abc&z=1");
  Json::Value reply = jsonOf(client.readAll());
  EXPECT_EQ(reply["POST"]["name"].asString(), "abc");
  EXPECT_EQ(reply["POST"]["z"].asString(), "1");
  EXPECT_EQ(reply["METHOD"].asString(), "POST");
}

// The body is the announced length whatever arrives with the header, so the
// answer does not depend on how the client's bytes were cut.
TEST_F(HttpServerTest, TheBodyIsWhatContentLengthAnnouncesHoweverTheBytesArrive) {
  RawClient lowerCase(server_.port());
  lowerCase.send("POST " + keyed("/?do=echo&callback=cb") + " HTTP/1.1\r\n" + hostHeader(server_.port()) +
                 "content-length: 12\r\n\r\nname=");
  lowerCase.send("abc&z=1");
  Json::Value reply = jsonOf(lowerCase.readAll());
  EXPECT_EQ(reply["POST"]["name"].asString(), "abc");
  EXPECT_EQ(reply["POST"]["z"].asString(), "1");

  reply = jsonOf(exchange(server_.port(), "POST /?do=echo&callback=cb HTTP/1.1\r\nContent-Length: 6\r\n\r\nname=xy&z=1"));
  EXPECT_EQ(reply["POST"]["name"].asString(), "x");
  EXPECT_FALSE(reply["POST"].isMember("z"));
  EXPECT_EQ(reply["POST"].size(), 1u);

  reply = jsonOf(exchange(server_.port(), "POST /?do=echo&callback=cb HTTP/1.1\r\n\r\nname=x"));
  EXPECT_EQ(reply["SUCCESS"].asInt(), 1);
  EXPECT_EQ(reply["POST"].size(), 0u);
}

TEST_F(HttpServerTest, PostDataIsConvertedToGbkAndBodyKeysReplaceIt) {
  // The query value decodes once to name=%E4%B8%AD, the form to the UTF-8 bytes.
  std::string response = exchange(server_.port(),
                                  "GET /?do=echo&callback=cb&_postData=name%3D%25E4%25B8%25AD%26keep%3D1 HTTP/1.1\r\n\r\n");
  Json::Value reply = jsonOf(response);
  // The answer is UTF-8 again: the GBK value came back as the same character.
  EXPECT_EQ(reply["POST"]["name"].asString(), "\xE4\xB8\xAD");
  EXPECT_EQ(reply["POST"]["keep"].asString(), "1");

  response = exchange(server_.port(),
                      "POST /?do=echo&callback=cb&_postData=name%3D%25E4%25B8%25AD HTTP/1.1\r\n"
                      "Content-Length: 6\r\n\r\nname=x");
  EXPECT_EQ(jsonOf(response)["POST"]["name"].asString(), "x");
}

TEST_F(HttpServerTest, UnreadablePostDataIsAnsweredOnTheSamePortWithItsReason) {
  // Bytes that are not UTF-8, and an overlong form of "/".
  for (const char* postData : {"name%3D%25FF%25FE", "name%3D%25C0%25AF", "name%3D%25E4%25B8"}) {
    Json::Value reply = jsonOf(
        exchange(server_.port(), std::string("GET /?do=echo&callback=cb&_postData=") + postData + " HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(reply["SUCCESS"].asInt(), 0);
    EXPECT_EQ(reply["MSG"].asString(), "请求中的数据（_postData）不是有效的 UTF-8 文本。") << postData;
  }
  // Valid UTF-8 with a character GBK has no form for (an emoji).
  Json::Value emoji = jsonOf(exchange(
      server_.port(), "GET /?do=echo&callback=cb&_postData=name%3D%25E4%25B8%25AD%25F0%259F%2598%2580 HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(emoji["SUCCESS"].asInt(), 0);
  EXPECT_EQ(emoji["MSG"].asString(), "请求中的数据（_postData）含有 GBK 无法保存的字符（如表情符号）。");
  EXPECT_EQ(jsonOf(exchange(server_.port(), "GET /?do=echo&callback=cb HTTP/1.1\r\n\r\n"))["SUCCESS"].asInt(), 1);
}

TEST_F(HttpServerTest, ContentLengthThatIsNotANumberCountsAsZero) {
  for (const char* length : {"abc", "-5", "12x", ""}) {
    std::string response =
        exchange(server_.port(), std::string("POST /?do=echo&callback=cb HTTP/1.1\r\nContent-Length: ") + length +
                                     "\r\n\r\n");
    EXPECT_EQ(jsonOf(response)["SUCCESS"].asInt(), 1) << length;
  }
}

TEST_F(HttpServerTest, LeadingEmptyLineIsTheRequestLine) {
  // The empty line counts as the (empty) request line: it carries no key,
  // so nothing runs.
  std::string request = "\r\nGET " + keyed("/?do=echo&callback=cb") + " HTTP/1.1\r\n" + hostHeader(server_.port()) + "\r\n";
  std::string response = exchangeAsIs(server_.port(), request);
  EXPECT_EQ(response.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u) << response;
}

TEST_F(HttpServerTest, ActionErrorPattern) {
  Json::Value ok = jsonOf(exchange(server_.port(), "GET /?do=guarded&callback=cb&n=%2042abc HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(ok["SUCCESS"].asInt(), 1);
  EXPECT_EQ(ok["N"].asInt(), 42);
  Json::Value failed = jsonOf(exchange(server_.port(), "GET /?do=guarded&callback=cb&fail=1 HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(failed["SUCCESS"].asInt(), 0);
  EXPECT_EQ(failed["MSG"].asString(), "操作失败：it failed") << "the seller is told in Chinese";
  Json::Value standard = jsonOf(exchange(server_.port(), "GET /?do=guarded&callback=cb&fail=2 HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(standard["MSG"].asString(), "操作失败：standard failure");
}

// Whatever escapes an action is answered on the same port with the failure
// envelope, in place of what the action had begun to write; the server goes
// on answering.
TEST_F(HttpServerTest, WhatEscapesAnActionIsAnsweredAsAFailureOnTheSamePort) {
  registerHandler("throws", [](const HttpRequest& request, Reply& out) {
    out.setHeader("Content-Type", "text/html;charset=GBK");
    out.setHeader("X-Half", "done");
    out.appendBody("half an answer");
    if (queryParam(request, "what") == "standard") throw std::runtime_error("vector too long");
    if (queryParam(request, "what") == "ours") throw Exception("no such card");
    throw 42;
  });
  const struct {
    const char* what;
    const char* message;
  } cases[] = {
      {"standard", "操作失败：vector too long"},
      {"ours", "操作失败：no such card"},
      {"other", "本地程序出现未知错误，请重试。"},
  };
  for (const auto& [what, message] : cases) {
    const std::string response =
        exchange(server_.port(), std::string("GET /?do=throws&callback=cb&what=") + what + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(response.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << what << ": " << response;
    EXPECT_EQ(headerOf(response, "Content-Type"), "text/javascript;charset=utf-8;") << what;
    EXPECT_EQ(headerOf(response, "X-Half"), "<none>") << what;
    EXPECT_EQ(headerOf(response, "Content-Length"), std::to_string(bodyOf(response).size())) << what;
    Json::Value failed = jsonOf(response);
    EXPECT_EQ(failed["SUCCESS"], Json::Value(0)) << what;
    EXPECT_EQ(failed["MSG"].asString(), message) << what;
    // The same port answers the next request.
    const int before = countedRuns;
    EXPECT_EQ(bodyOf(exchange(server_.port(), "GET /?do=counted&callback=cb HTTP/1.1\r\n\r\n")), "cb({}\n)") << what;
    EXPECT_EQ(countedRuns, before + 1) << what;
  }
  // A refused callback is still refused before the action runs.
  const std::string refused = exchange(server_.port(), "GET /?do=throws&callback=1x HTTP/1.1\r\n\r\n");
  EXPECT_EQ(refused.rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << refused;
}

// Small size limits and an idle limit far longer than any test: a connection
// closed within kSoon was closed by a size check.
class LimitedServerTest : public ::testing::Test {
 protected:
  static constexpr std::chrono::milliseconds kSoon{5000};
  static HttpServerLimits limits() {
    HttpServerLimits limits;
    limits.maxHeaderBytes = 1024;
    limits.maxBodyBytes = 4096;
    limits.idleTimeout = std::chrono::minutes(10);
    return limits;
  }
  bool stillAnswers() {
    return bodyOf(exchange(server_.port(), "GET / HTTP/1.1\r\n\r\n")) == "<h2>Bad Request!</h2>";
  }
  // A request without action, with key and Host, whose header block, empty
  // line included, is exactly `size` bytes.
  std::string requestOfSize(size_t size) {
    std::string head = "GET " + keyed("/") + " HTTP/1.1\r\n" + hostHeader(server_.port()) + "X-Pad: ";
    return head + std::string(size - head.size() - 4, 'p') + "\r\n\r\n";
  }
  TestServer server_{limits()};
};

TEST_F(LimitedServerTest, EndlessHeadersAreCutOff) {
  RawClient client(server_.port());
  client.send("GET /?do=x HTTP/1.1\r\n" + std::string(2048, 'h'));
  EXPECT_EQ(client.readAllWithin(kSoon), std::optional<std::string>(""));  // closed without an answer
  EXPECT_TRUE(stillAnswers());
}

TEST_F(LimitedServerTest, HeaderBlockLimitIsExact) {
  EXPECT_EQ(bodyOf(exchangeAsIs(server_.port(), requestOfSize(1024))), "<h2>Bad Request!</h2>");
  {
    RawClient whole(server_.port());  // the whole block in one segment
    whole.send(requestOfSize(1025));
    EXPECT_EQ(whole.readAllWithin(kSoon), std::optional<std::string>(""));
  }
  {
    RawClient split(server_.port());  // completed by a second segment
    std::string request = requestOfSize(1025);
    split.send(request.substr(0, 1000));
    split.send(request.substr(1000));
    EXPECT_EQ(split.readAllWithin(kSoon), std::optional<std::string>(""));
  }
  // A body behind a small header block is not counted as header.
  RawClient withBody(server_.port());
  withBody.send(testing::withAccess(server_.port(), "POST / HTTP/1.1\r\nContent-Length: 2000\r\n\r\n") +
                std::string(2000, 'b'));
  std::optional<std::string> answer = withBody.readAllWithin(kSoon);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(bodyOf(*answer), "<h2>Bad Request!</h2>");
}

TEST_F(LimitedServerTest, HugeBodiesAreRefused) {
  RawClient announced(server_.port());
  announced.send(testing::withAccess(server_.port(), "POST / HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n"));
  EXPECT_EQ(announced.readAllWithin(kSoon), std::optional<std::string>(""));
  EXPECT_TRUE(stillAnswers());
}

TEST(IdleServerTest, IdleConnectionsAreClosed) {
  HttpServerLimits limits;
  limits.idleTimeout = std::chrono::milliseconds(100);
  TestServer server(limits);
  RawClient silent(server.port());
  EXPECT_EQ(silent.readAll(), "");  // returns once the server gives up on it
  RawClient halfway(server.port());
  halfway.send("GET / HTTP/1.1\r\n");
  EXPECT_EQ(halfway.readAll(), "");
  EXPECT_EQ(bodyOf(exchange(server.port(), "GET / HTTP/1.1\r\n\r\n")), "<h2>Bad Request!</h2>");
}

}  // namespace
}  // namespace Quorvel
