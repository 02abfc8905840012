// Only the seller's own page reaches an action: the request must carry the
// launch key and name one of our hosts with our port. Everything else is
// refused with 403 before the action, the post data or the body is looked at.
#include <gtest/gtest.h>

#include <atomic>

#include "base/ProcessWide.h"
#include "server/ActionTable.h"
#include "server/HttpServer.h"
#include "server/LaunchKey.h"
#include "tests/server/TestServer.h"

namespace Quorvel {
namespace {

using testing::bodyOf;
using testing::exchange;
using testing::exchangeAsIs;
using testing::headerOf;
using testing::RawClient;
using testing::TestServer;

constexpr const char* kKey = "5f0c9a1e7b3d42c8a6e1f09b8d7c6a5e";

class AccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installProcessWide(std::make_shared<LaunchKey>(kKey));
    registerHandler("touch", [](const HttpRequest&, Reply& out) {
      ++runs;
      out.writeJsonp(Json::Value(Json::objectValue));
    });
    runs = 0;
  }
  void TearDown() override { resetProcessWide(); }

  static HttpServerOptions options() {
    HttpServerOptions options;
    options.localHost = [] { return std::string("vendara.local"); };
    options.pageOrigin = [] { return std::string("http://127.0.0.1:18080"); };
    return options;
  }

  // The answer to a GET of `target` with exactly `headers`.
  std::string get(const std::string& target, const std::string& headers) {
    return exchangeAsIs(server_.port(), "GET " + target + " HTTP/1.1\r\n" + headers + "\r\n");
  }
  std::string ourHost() { return "Host: 127.0.0.1:" + std::to_string(server_.port()) + "\r\n"; }

  static bool refused(const std::string& response) {
    return response.rfind("HTTP/1.1 403 Forbidden\r\n", 0) == 0 && bodyOf(response) == kForbiddenBody;
  }

  static inline std::atomic<int> runs{0};  // runs of "touch"
  TestServer server_{options()};
};

TEST_F(AccessTest, RequestsWithoutTheRightKeyAreRefusedBeforeTheActionRuns) {
  const std::string key = kKey;
  const std::string base = "/?do=touch&callback=cb";
  for (const std::string& target :
       {base, base + "&token=", base + "&token=" + key.substr(0, key.size() - 1), base + "&token=" + key + "0",
        base + "&token=" + key.substr(1) + "x", base + "&token=5F0C9A1E7B3D42C8A6E1F09B8D7C6A5E",
        base + "&Token=" + key, base + "&token=" + key + "&token=wrong",
        // The key belongs in the query: neither in the post data nor in a cookie.
        base + "&_postData=token%3D" + key}) {
    std::string response = get(target, ourHost() + "Cookie: token=" + key + "\r\n");
    EXPECT_TRUE(refused(response)) << target << "\n" << response;
  }
  EXPECT_EQ(runs, 0);

  // The same request with the key runs the action, once.
  EXPECT_EQ(bodyOf(get(base + "&token=" + key, ourHost())), "cb({}\n)");
  EXPECT_EQ(runs, 1);
}

TEST_F(AccessTest, OnlyOurHostsWithOurPortMayBeNamed) {
  const std::string target = "/?do=touch&callback=cb&token=" + std::string(kKey);
  const std::string port = std::to_string(server_.port());
  for (const std::string& host :
       {"127.0.0.1:" + port, "localhost:" + port, "LocalHost:" + port, "[::1]:" + port, "vendara.local:" + port}) {
    EXPECT_EQ(bodyOf(get(target, "Host: " + host + "\r\n")), "cb({}\n)") << host;
  }
  EXPECT_EQ(runs, 5);

  // A rebinding page names its own host; a page on another port of ours
  // names that port; and a request may name one host only.
  const std::string otherPort = std::to_string(server_.port() == 65535 ? 1 : server_.port() + 1);
  for (const std::string& headers :
       {std::string(), "Host: rebind.example:" + port + "\r\n", std::string("Host: 127.0.0.1\r\n"),
        "Host: 127.0.0.1:" + otherPort + "\r\n", "Host: localhost.evil.example:" + port + "\r\n",
        "Host: 127.0.0.2:" + port + "\r\n", "Host: vendara.local.evil:" + port + "\r\n",
        "Host: 127.0.0.1:" + port + " \r\n", "Host: 127.0.0.1:" + port + "\r\nhost: evil.example:" + port + "\r\n",
        "Host: evil.example:" + port + "\r\nHost: 127.0.0.1:" + port + "\r\n",
        "Host: 127.0.0.1:" + port + "\r\nHost: evil.example:" + port + "\r\n"}) {
    EXPECT_TRUE(refused(get(target, headers))) << headers;
  }
  EXPECT_EQ(runs, 5);
}

TEST_F(AccessTest, RefusalComesBeforeTheCallbackAndThePostDataAreLookedAt) {
  // A bad callback and post data that is not UTF-8 would each be answered
  // otherwise; without the key the answer says nothing about either.
  EXPECT_TRUE(refused(get("/?do=touch&callback=%3Cscript%3E", ourHost())));
  EXPECT_TRUE(refused(get("/?do=touch&callback=cb&_postData=a%3D%25FF", ourHost())));
  EXPECT_TRUE(refused(get("/?do=nothing", ourHost())));
  EXPECT_TRUE(refused(get("/", ourHost())));
}

TEST_F(AccessTest, ARefusedBodyIsNeverKeptAndTheAnswerStillArrives) {
  // A form posted by a foreign page: answered once the header block is in,
  // while its body is still on its way; the rest is read and dropped.
  RawClient client(server_.port());
  client.send("POST /?do=touch HTTP/1.1\r\n" + ourHost() + "Content-Length: 300000\r\n\r\n" +
              std::string(100000, 'a'));
  client.send(std::string(200000, 'b'));
  std::optional<std::string> answer = client.readAllWithin(std::chrono::seconds(10));
  ASSERT_TRUE(answer.has_value());
  EXPECT_TRUE(refused(*answer)) << *answer;
  EXPECT_EQ(runs, 0);
}

TEST_F(AccessTest, EveryAnswerForbidsSniffingAndReferrersAndOnlyThePageMayFrameOrReadARefusal) {
  std::string jsonp = exchange(server_.port(), "GET /?do=touch&callback=cb HTTP/1.1\r\n\r\n");
  std::string html = exchange(server_.port(), "GET /?do=nothing HTTP/1.1\r\n\r\n");
  std::string badCallback = exchange(server_.port(), "GET /?do=touch&callback=1x HTTP/1.1\r\n\r\n");
  std::string forbidden = get("/?do=touch", ourHost());
  for (const std::string* response : {&jsonp, &html, &badCallback, &forbidden}) {
    EXPECT_EQ(headerOf(*response, "X-Content-Type-Options"), "nosniff") << *response;
    EXPECT_EQ(headerOf(*response, "Referrer-Policy"), "no-referrer") << *response;
  }
  EXPECT_EQ(headerOf(jsonp, "Content-Security-Policy"), "<none>");
  for (const std::string* response : {&html, &badCallback, &forbidden}) {
    EXPECT_EQ(headerOf(*response, "Content-Security-Policy"), "frame-ancestors http://127.0.0.1:18080") << *response;
  }
  EXPECT_EQ(headerOf(forbidden, "Access-Control-Allow-Origin"), "http://127.0.0.1:18080");
  EXPECT_EQ(headerOf(jsonp, "Access-Control-Allow-Origin"), "<none>");
  EXPECT_EQ(headerOf(html, "Access-Control-Allow-Origin"), "<none>");
}

TEST(AccessWithoutPageOrigin, HtmlMayBeFramedByNoOneAndNoOneReadsARefusal) {
  installProcessWide(std::make_shared<LaunchKey>(kKey));
  TestServer server;
  std::string html = exchange(server.port(), "GET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(headerOf(html, "Content-Security-Policy"), "frame-ancestors 'none'");
  std::string forbidden = exchangeAsIs(server.port(), "GET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(forbidden.rfind("HTTP/1.1 403 ", 0), 0u);
  EXPECT_EQ(headerOf(forbidden, "Access-Control-Allow-Origin"), "<none>");
  resetProcessWide();
}

TEST(LaunchKeyTest, DrawnFromTheSystemAndComparedWhole) {
  std::shared_ptr<LaunchKey> first = LaunchKey::makeProcessWide();
  std::shared_ptr<LaunchKey> second = LaunchKey::makeProcessWide();
  EXPECT_EQ(first->text().size(), 2 * LaunchKey::kRandomBytes);
  EXPECT_EQ(first->text().find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(first->text(), second->text());
  EXPECT_TRUE(first->matches(first->text()));
  EXPECT_FALSE(first->matches(second->text()));
  EXPECT_FALSE(first->matches(""));
  EXPECT_FALSE(first->matches(first->text().substr(0, 63)));
  EXPECT_FALSE(first->matches(first->text() + "0"));
  EXPECT_FALSE(LaunchKey("").matches(""));
}

}  // namespace
}  // namespace Quorvel
