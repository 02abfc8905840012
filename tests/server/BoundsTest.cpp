// Whatever clients do, the server's connections and buffered bytes stay
// bounded: a request must be whole within its deadline however slowly it
// trickles, there are at most so many connections, and all connections
// together hold at most so many request bytes. Time limits run on a fake
// clock the tests step.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "server/HttpServer.h"
#include "tests/server/TestServer.h"
#include "tests/support/FakeClock.h"

namespace Quorvel {
namespace {

using testing::bodyOf;
using testing::exchange;
using testing::RawClient;
using testing::TestServer;
using testing::withAccess;

constexpr std::chrono::seconds kSoon{10};

bool answers(std::uint16_t port) { return bodyOf(exchange(port, "GET / HTTP/1.1\r\n\r\n")) == "<h2>Bad Request!</h2>"; }

std::shared_ptr<testing::FakeClock> fakeClock() { return std::make_shared<testing::FakeClock>(1'700'000'000); }

std::size_t openConnections(TestServer& server) {
  return server.onServer([](httpServer& s) { return s.openConnections(); });
}

TEST(RequestDeadline, ATricklingSenderIsCutOffThoughItNeverFallsSilent) {
  HttpServerLimits limits;
  limits.idleTimeout = std::chrono::minutes(10);  // never reached here
  limits.requestDeadline = std::chrono::milliseconds(300);
  auto clock = fakeClock();
  TestServer server(limits, Env(clock));

  // One byte every 20 ms: the request would take minutes to complete, and
  // the idle limit never ends it.
  RawClient client(server.port());
  ASSERT_TRUE(server.waitUntil([](httpServer& s) { return s.openConnections() == 1; }));
  const std::string request = withAccess(server.port(), "GET / HTTP/1.1\r\nX-Pad: " + std::string(2000, 'p'));
  std::size_t sent = 0;
  while (sent < request.size()) {
    client.send(request.substr(sent++, 1));
    clock->step(std::chrono::milliseconds(20));
    server.settle();
    if (openConnections(server) == 0) break;
  }
  // Cut off at the deadline (found by the first sweep after it, a quarter
  // of the deadline apart), not earlier, and long before the request ended.
  EXPECT_GE(sent, 300u / 20u) << "cut off before its deadline";
  EXPECT_LE(sent, (300u + 75u) / 20u + 1) << "the trickling request was not cut off at its deadline";
  EXPECT_EQ(client.readAllWithin(kSoon), std::optional<std::string>(""));  // closed without an answer
  EXPECT_TRUE(answers(server.port()));
}

// A connection still waiting for its request; it has not shown the key.
std::unique_ptr<RawClient> stranger(std::uint16_t port) {
  auto client = std::make_unique<RawClient>(port);
  client->send("GET /?do=getStatus HTTP/1.1\r\n");  // never finished
  return client;
}

// Whether the server has closed `client`'s connection (without an answer).
bool closedUnanswered(RawClient& client) { return client.readAllWithin(kSoon) == std::optional<std::string>(""); }

bool stillOpen(RawClient& client) { return !client.readAllWithin(std::chrono::milliseconds(50)).has_value(); }

// A keyed request whose body is still on its way: it has shown the key.
std::unique_ptr<RawClient> seller(std::uint16_t port) {
  auto client = std::make_unique<RawClient>(port);
  client->send(withAccess(port, "POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\nab"));
  return client;
}

TEST(ConnectionCap, ANewcomerTakesThePlaceOfTheOldestStrangerNeverOfTheSeller) {
  HttpServerLimits limits;
  limits.maxConnections = 3;
  TestServer server(limits);

  auto keyedOne = seller(server.port());
  ASSERT_TRUE(server.waitForKeyed(1));
  std::vector<std::unique_ptr<RawClient>> strangers;
  strangers.push_back(stranger(server.port()));
  strangers.push_back(stranger(server.port()));

  // Full: each newcomer closes the oldest connection without the key, in
  // the order they came, and the keyed one stays.
  strangers.push_back(stranger(server.port()));
  EXPECT_TRUE(closedUnanswered(*strangers[0]));
  strangers.push_back(stranger(server.port()));
  EXPECT_TRUE(closedUnanswered(*strangers[1]));
  EXPECT_TRUE(stillOpen(*strangers[2]));
  EXPECT_TRUE(stillOpen(*strangers[3]));

  keyedOne->send("cd");
  std::optional<std::string> answer = keyedOne->readAllWithin(kSoon);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(bodyOf(*answer), "<h2>Bad Request!</h2>");
}

TEST(ConnectionCap, WhenEveryConnectionHasShownTheKeyTheNewcomerIsClosed) {
  HttpServerLimits limits;
  limits.maxConnections = 2;
  TestServer server(limits);
  auto first = seller(server.port());
  auto second = seller(server.port());
  ASSERT_TRUE(server.waitForKeyed(2));
  auto newcomer = stranger(server.port());
  EXPECT_TRUE(closedUnanswered(*newcomer));
  EXPECT_TRUE(stillOpen(*first));
  EXPECT_TRUE(stillOpen(*second));

  // A place that frees up is taken by the next newcomer.
  first.reset();
  ASSERT_TRUE(server.waitForKeyed(1));
  EXPECT_TRUE(answers(server.port()));
}

TEST(HeadDeadline, AHeadNotWholeInTimeIsCutOffButASlowBodyIsNot) {
  HttpServerLimits limits;
  limits.headDeadline = std::chrono::milliseconds(200);
  auto clock = fakeClock();
  TestServer server(limits, Env(clock));

  auto late = stranger(server.port());
  // The whole head arrived in time; its body may take the request deadline.
  auto slowBody = seller(server.port());
  ASSERT_TRUE(server.waitForKeyed(1));
  ASSERT_TRUE(server.waitUntil([](httpServer& s) { return s.openConnections() == 2; }));
  clock->step(std::chrono::milliseconds(199));
  server.settle();
  EXPECT_EQ(openConnections(server), 2u) << "cut off before its deadline";
  // The next sweep, a quarter of the deadline later, finds it late.
  clock->step(std::chrono::milliseconds(60));
  server.settle();
  EXPECT_TRUE(closedUnanswered(*late));
  EXPECT_TRUE(stillOpen(*slowBody));
  slowBody->send("cd");
  std::optional<std::string> answer = slowBody->readAllWithin(kSoon);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(bodyOf(*answer), "<h2>Bad Request!</h2>");
}

TEST(ConnectionCap, TheSellerIsAnsweredWhileAThousandStrangersHoldConnections) {
  // A thousand clients and the server's own sockets in one process.
  rlimit files{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
  if (files.rlim_cur < 2200) {
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
    if (::setrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur < 2200) GTEST_SKIP() << "too few file descriptors";
  }
  TestServer server;  // the program's limits: 256 places
  std::vector<std::unique_ptr<RawClient>> strangers;
  for (int i = 0; i < 1000; ++i) strangers.push_back(stranger(server.port()));
  // Some of them trickle on, as a slow attacker would.
  for (int i = 0; i < 1000; i += 10) strangers[i]->send("X");

  RawClient keyed(server.port());
  keyed.send(withAccess(server.port(), "GET / HTTP/1.1\r\n\r\n"));
  std::optional<std::string> answer = keyed.readAllWithin(kSoon);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(bodyOf(*answer), "<h2>Bad Request!</h2>");
  // The oldest strangers lost their places; the newest still hold theirs.
  EXPECT_TRUE(closedUnanswered(*strangers.front()));
  EXPECT_TRUE(stillOpen(*strangers.back()));
}

TEST(BufferedBytes, AllConnectionsTogetherStayWithinTheBudget) {
  HttpServerLimits limits;
  limits.maxBodyBytes = 8000;
  limits.maxBufferedBytes = 10000;
  TestServer server(limits);
  auto post = [&server](size_t length) {
    return withAccess(server.port(), "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n");
  };

  // The first announces 6000 bytes and sends half of them.
  RawClient first(server.port());
  first.send(post(6000) + std::string(3000, 'a'));
  // A small request still fits beside it; answered after the first one's
  // bytes were read, it also tells that they are in.
  EXPECT_TRUE(answers(server.port()));
  // A second announcing 6000 more would pass the budget: closed unanswered,
  // however small each body is on its own.
  RawClient second(server.port());
  second.send(post(6000));
  EXPECT_EQ(second.readAllWithin(kSoon), std::optional<std::string>(""));

  // The first completes, and its bytes are released with it.
  first.send(std::string(3000, 'a'));
  std::optional<std::string> answer = first.readAllWithin(kSoon);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(bodyOf(*answer), "<h2>Bad Request!</h2>");
  ASSERT_TRUE(server.waitUntil([](httpServer& s) { return s.bufferedBytes() == 0; }));
  RawClient third(server.port());
  third.send(post(6000) + std::string(6000, 'c'));
  std::optional<std::string> thirdAnswer = third.readAllWithin(kSoon);
  ASSERT_TRUE(thirdAnswer.has_value());
  EXPECT_EQ(bodyOf(*thirdAnswer), "<h2>Bad Request!</h2>");
}

}  // namespace
}  // namespace Quorvel
