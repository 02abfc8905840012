#include "market/HttpClient.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <latch>
#include <sstream>
#include <thread>

#include "LoopbackServer.h"
#include "TempFolder.h"
#include "base/Charset.h"
#include "base/ProcessWide.h"
#include "market/CookieJar.h"

namespace Quorvel {
namespace {

using testing::answer;
using testing::LoopbackServer;
using testing::SeenRequest;

// Every test starts with its own empty cookie file and an Env with the
// default limits.
class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetProcessWide();
    CookieJar::instance()->open(cookieFile());
  }
  void TearDown() override { resetProcessWide(); }

  std::string cookieFile() const { return folder_.file("cookie.txt"); }
  std::string cookieFileText() const {
    std::ifstream in(cookieFile());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  testing::TempFolder folder_;
  const Env env_;
};

TEST_F(HttpClientTest, GetReturnsTheBodyBytesUnchanged) {
  // The body holds a blank line and GBK bytes: only the first header end counts.
  const std::string body = "<p>" + gbk("标准登录框") + "</p>\r\n\r\nHTTP/1.1 200 OK\r\n\r\nrest";
  LoopbackServer server([&](const SeenRequest&) { return answer(200, body); });
  RedirectInfo redirect;
  EXPECT_EQ(httpGet(env_, server.url("/page?x=1"), &redirect), body);
  EXPECT_EQ(redirect.location, "");
  EXPECT_EQ(redirect.status, 0);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].method, "GET");
  EXPECT_EQ(server.requests()[0].target, "/page?x=1");
}

TEST_F(HttpClientTest, PostSendsTheFormEncodedFields) {
  LoopbackServer server([](const SeenRequest&) { return answer(200, "ok"); });
  FormFields fields{{"TPL_username", gbk("卖家")}, {"memo", "a-b c"}};
  EXPECT_EQ(httpRequest(env_, server.url("/form"), fields, nullptr), "ok");
  ASSERT_EQ(server.requests().size(), 1u);
  const SeenRequest seen = server.requests()[0];
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.body, buildQuery(fields));
  EXPECT_NE(seen.body.find("memo=a%2Db%20c"), std::string::npos);
  EXPECT_NE(seen.body.find("TPL_username=%C2%F4%BC%D2"), std::string::npos);
}

TEST_F(HttpClientTest, RedirectsAreFollowedAndOnlyTheFirstHopIsRecorded) {
  LoopbackServer server([&](const SeenRequest& request) {
    if (request.target == "/start") return answer(302, "moved", "Location: " + server.url("/second") + "\r\n");
    if (request.target == "/second") return answer(301, "moved", "Location: /third?a=1\r\n");
    return answer(200, "final page");
  });
  RedirectInfo redirect;
  EXPECT_EQ(httpGet(env_, server.url("/start"), &redirect), "final page");
  EXPECT_EQ(redirect.location, server.url("/second"));
  EXPECT_EQ(redirect.status, 302);
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].target, "/third?a=1");  // relative Location resolved on the same host
}

TEST_F(HttpClientTest, RedirectedPostIsPostedAgainWithItsFields) {
  LoopbackServer server([&](const SeenRequest& request) {
    if (request.target == "/consign") return answer(302, "", "Location: " + server.url("/served") + "\r\n");
    return answer(200, "posted");
  });
  FormFields fields{{"trade_id", "42"}, {"mailNo", ""}};
  EXPECT_EQ(httpRequest(env_, server.url("/consign"), fields, nullptr), "posted");
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].method, "POST");
  EXPECT_EQ(seen[1].target, "/served");
  EXPECT_EQ(seen[1].body, buildQuery(fields));
}

TEST_F(HttpClientTest, RedirectChainsAreBoundedToTenHops) {
  // /hop/N redirects to /hop/N+1 until N reaches `last`, which answers a page.
  std::atomic<int> last{10};
  LoopbackServer server([&](const SeenRequest& request) {
    int n = std::stoi(request.target.substr(5));
    if (n >= last) return answer(200, "arrived");
    return answer(302, "", "Location: /hop/" + std::to_string(n + 1) + "\r\n");
  });
  EXPECT_EQ(httpGet(env_, server.url("/hop/0")), "arrived");  // ten redirects followed
  EXPECT_EQ(server.requests().size(), 11u);

  last = 1000;  // a loop: the eleventh redirect is not followed
  RedirectInfo redirect;
  EXPECT_EQ(httpGet(env_, server.url("/hop/0"), &redirect), "");
  EXPECT_EQ(server.requests().size(), 22u);
  EXPECT_EQ(redirect.status, 302);
}

TEST_F(HttpClientTest, RedirectTargetsStayOnHttpAndHttps) {
  EXPECT_EQ(redirectTarget("https://a.example/x", "https://b.example/y"), "https://b.example/y");
  EXPECT_EQ(redirectTarget("http://a.example/x", "https://b.example/y"), "https://b.example/y");
  EXPECT_EQ(redirectTarget("https://a.example/x/y", "z?q=1"), "https://a.example/x/z?q=1");
  EXPECT_EQ(redirectTarget("https://a.example/x", "//c.example/p"), "https://c.example/p");
  EXPECT_EQ(redirectTarget("https://a.example/x", "http://a.example/x"), "");  // no downgrade
  EXPECT_EQ(redirectTarget("http://a.example/x", "file:///etc/passwd"), "");
  EXPECT_EQ(redirectTarget("http://a.example/x", "ftp://a.example/f"), "");

  LoopbackServer server([](const SeenRequest&) { return answer(302, "", "Location: file:///etc/hostname\r\n"); });
  EXPECT_EQ(httpGet(env_, server.url("/")), "");
  EXPECT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(httpGet(env_, "file:///etc/hostname"), "");
}

TEST_F(HttpClientTest, MalformedAnswers) {
  LoopbackServer server([](const SeenRequest& request) -> std::string {
    if (request.target == "/continue") {
      return "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: close\r\n\r\nB";
    }
    if (request.target == "/no-header-end") return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
    if (request.target == "/nothing") return "";
    if (request.target == "/302-no-location") return answer(302, "final body");
    if (request.target == "/303") return answer(303, "see other", "Location: /elsewhere\r\n");
    return answer(404, "not found");
  });
  EXPECT_EQ(httpGet(env_, server.url("/continue")), "B");
  EXPECT_EQ(httpGet(env_, server.url("/no-header-end")), "");
  EXPECT_EQ(httpGet(env_, server.url("/nothing")), "");
  RedirectInfo redirect;
  EXPECT_EQ(httpGet(env_, server.url("/302-no-location"), &redirect), "final body");
  EXPECT_EQ(redirect.status, 0);
  EXPECT_EQ(httpGet(env_, server.url("/303")), "see other");
  EXPECT_EQ(httpGet(env_, server.url("/missing")), "not found");
  EXPECT_EQ(server.requests().size(), 6u);  // nothing was followed
}

TEST_F(HttpClientTest, FailedTransfersGiveEmptyText) {
  std::string closedPort;
  {
    LoopbackServer gone([](const SeenRequest&) { return answer(200, "x"); });
    closedPort = gone.url("/");
  }
  EXPECT_EQ(httpGet(env_, closedPort), "");

  HttpOptions options;
  options.maxResponseBytes = 1000;
  options.transferTimeoutMs = 100;
  Env limited;
  limited.set(std::make_shared<HttpOptions>(options));
  LoopbackServer server([&](const SeenRequest& request) {
    if (request.target == "/silent") {
      server.waitUntilStopped();
      return std::string();
    }
    return answer(200, std::string(request.target == "/big" ? 5000 : 100, 'x'));
  });
  EXPECT_EQ(httpGet(limited, server.url("/small")), std::string(100, 'x'));
  EXPECT_EQ(httpGet(limited, server.url("/big")), "");
  EXPECT_EQ(httpGet(limited, server.url("/silent")), "");
}

// The reason travels with the result, for failure texts the seller reads.
TEST_F(HttpClientTest, FetchTellsTheStatusOrWhyThereWasNoAnswer) {
  std::string closedPort;
  {
    LoopbackServer gone([](const SeenRequest&) { return answer(200, "x"); });
    closedPort = gone.url("/");
  }
  HttpResult refused = httpFetch(env_, closedPort, {});
  EXPECT_EQ(refused.status, 0);
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.reason().find("onnect"), std::string::npos) << refused.reason();

  LoopbackServer server([&](const SeenRequest& request) {
    if (request.target == "/loop") return answer(302, "", "Location: /loop\r\n");
    if (request.target == "/gone") return answer(404, "no such page");
    if (request.target == "/to-file") return answer(302, "", "Location: file:///etc/passwd\r\n");
    return answer(200, "fine");
  });
  HttpResult fine = httpFetch(env_, server.url("/page"), {});
  EXPECT_TRUE(fine.ok());
  EXPECT_EQ(fine.status, 200);
  EXPECT_EQ(fine.body, "fine");
  EXPECT_EQ(fine.reason(), "");

  // A page that is not there still has its body, as httpRequest gives it.
  HttpResult gone = httpFetch(env_, server.url("/gone"), {});
  EXPECT_FALSE(gone.ok());
  EXPECT_EQ(gone.reason(), "HTTP 404");
  EXPECT_EQ(gone.body, "no such page");
  EXPECT_EQ(httpGet(env_, server.url("/gone")), "no such page");

  HttpResult loop = httpFetch(env_, server.url("/loop"), {});
  EXPECT_EQ(loop.body, "");
  EXPECT_NE(loop.reason().find("redirects"), std::string::npos) << loop.reason();
  EXPECT_NE(httpFetch(env_, server.url("/to-file"), {}).reason().find("file:///etc/passwd"), std::string::npos);
}

TEST_F(HttpClientTest, CookiesAreSentBackAndSurviveARestart) {
  LoopbackServer server([&](const SeenRequest& request) {
    if (request.target == "/login") {
      return answer(302, "", "Set-Cookie: sid=abc; Path=/\r\nSet-Cookie: nick=x; Path=/\r\nLocation: /home\r\n");
    }
    return answer(200, "cookie=" + request.header("Cookie"));
  });
  // The cookies of the redirect answer already reach the followed hop.
  std::string home = httpGet(env_, server.url("/login"));
  EXPECT_NE(home.find("sid=abc"), std::string::npos) << home;
  EXPECT_NE(home.find("nick=x"), std::string::npos) << home;
  EXPECT_NE(cookieFileText().find("sid"), std::string::npos);

  CookieJar::instance()->open(cookieFile());  // as after a restart of the program
  std::string later = httpGet(env_, server.url("/page"));
  EXPECT_NE(later.find("sid=abc"), std::string::npos) << later;

  std::filesystem::remove(cookieFile());  // logs the seller out
  EXPECT_EQ(httpGet(env_, server.url("/page")), "cookie=");
}

// The cookie file is a login: only the owner may read it, whether libcurl
// creates it or replaces one that others could read.
TEST_F(HttpClientTest, TheCookieFileIsOwnerOnly) {
  auto modeOf = [](const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0u;
  };
  const mode_t saved = ::umask(022);
  LoopbackServer server([](const SeenRequest&) { return answer(200, "ok", "Set-Cookie: sid=abc; Path=/\r\n"); });
  httpGet(env_, server.url("/login"));
  ASSERT_NE(cookieFileText().find("sid"), std::string::npos);
  EXPECT_EQ(modeOf(cookieFile()), 0600u);

  // A file left readable by others (an older version, a copy) is narrowed.
  const std::string old = folder_.file("old-cookie.txt");
  std::ofstream(old) << "# Netscape HTTP Cookie File\n";
  ::chmod(old.c_str(), 0644);
  CookieJar::instance()->open(old);
  EXPECT_EQ(modeOf(old), 0600u);
  httpGet(env_, server.url("/again"));
  EXPECT_EQ(modeOf(old), 0600u);
  ::umask(saved);
}

// Suites named "...Threads" also run under ThreadSanitizer (scripts/tsan.sh).
using MarketCookieThreads = HttpClientTest;

TEST_F(MarketCookieThreads, OverlappingRequestsKeepEveryCookie) {
  // Both answers are held back until both requests have arrived, so the two
  // transfers overlap; each sets its own cookie.
  std::latch bothArrived(2);
  LoopbackServer server([&](const SeenRequest& request) {
    if (request.target == "/check") return answer(200, request.header("Cookie"));
    bothArrived.arrive_and_wait();
    std::string name = request.target.substr(1);
    return answer(200, "ok", "Set-Cookie: " + name + "=1; Path=/\r\n");
  });
  std::thread first([&] { EXPECT_EQ(httpGet(env_, server.url("/first")), "ok"); });
  std::thread second([&] { EXPECT_EQ(httpGet(env_, server.url("/second")), "ok"); });
  first.join();
  second.join();

  CookieJar::instance()->open(cookieFile());
  std::string sent = httpGet(env_, server.url("/check"));
  EXPECT_NE(sent.find("first=1"), std::string::npos) << sent;
  EXPECT_NE(sent.find("second=1"), std::string::npos) << sent;
}

// Two parts built with different Envs, asking at the same time: each request
// keeps the limits of its own Env and is counted there alone.
using HttpEnvThreads = HttpClientTest;

TEST_F(HttpEnvThreads, TwoEnvsAtOnceKeepTheirOwnLimitsAndCounts) {
  std::latch bothArrived(2);
  LoopbackServer server([&](const SeenRequest& request) {
    if (request.target == "/both") bothArrived.arrive_and_wait();
    return answer(200, std::string(5000, 'x'));
  });
  HttpOptions small;
  small.maxResponseBytes = 1000;
  Env capped;
  capped.set(std::make_shared<HttpOptions>(small));
  const Env open;

  HttpResult cut, whole;
  std::thread first([&] { cut = httpFetch(capped, server.url("/both"), {}); });
  std::thread second([&] { whole = httpFetch(open, server.url("/both"), {}); });
  first.join();
  second.join();
  EXPECT_NE(cut.reason().find("larger than 1000 bytes"), std::string::npos) << cut.reason();
  EXPECT_EQ(whole.body, std::string(5000, 'x'));

  // The client's part of an Env (as an entry of that Env keeps it) has the
  // same limits and adds to the same counts.
  EXPECT_TRUE(httpGet(httpEnvOf(capped), server.url("/again")).empty());
  EXPECT_EQ(capped.get<HttpTotals>()->requests.load(), 2);
  EXPECT_EQ(open.get<HttpTotals>()->requests.load(), 1);
  EXPECT_EQ(env_.get<HttpTotals>()->requests.load(), 0);
}

TEST(HttpHeaders, ParseHeaders) {
  HeaderMap headers = parseHeaders(
      "HTTP/1.1 302 Found\r\nSet-Cookie: A\r\nLocation: /one\r\nset-cookie: B\r\nLocation: /two\r\n"
      "X-Empty\r\nX-Colon: a: b");
  EXPECT_EQ(headers["success_code"], "302");
  EXPECT_EQ(headers["Set-Cookie"], "A\r\nB\r\n");
  EXPECT_EQ(headers["Location"], "/two");
  EXPECT_EQ(headers["location"], "/two");  // HTTP/2 answers spell names in lower case
  EXPECT_EQ(headers["X-Empty"], "");
  EXPECT_EQ(headers["X-Colon"], "a: b");
  EXPECT_EQ(parseHeaders("HTTP/2 200")["success_code"], "200");
  EXPECT_EQ(parseHeaders("garbage")["success_code"], "");
  EXPECT_EQ(parseHeaders("")["success_code"], "");
}

TEST(HttpHeaders, FormEncodingIsByteForByte) {
  EXPECT_EQ(urlEncode("aZ09"), "aZ09");
  EXPECT_EQ(urlEncode("x y-_.~+&="), "x%20y%2D%5F%2E%7E%2B%26%3D");
  EXPECT_EQ(urlEncode("\xB1\xEA\x81\x5C"), "%B1%EA%81%5C");
  EXPECT_EQ(buildQuery({}), "");
  EXPECT_EQ(buildQuery({{"a", "x y"}}), "a=x%20y");
  std::string two = buildQuery({{"a", "x y"}, {"b", "1"}});
  EXPECT_TRUE(two == "a=x%20y&b=1" || two == "b=1&a=x%20y") << two;
  EXPECT_EQ(buildQuery({{"memo", gbk("卡密")}}), "memo=%BF%A8%C3%DC");
}

}  // namespace
}  // namespace Quorvel
