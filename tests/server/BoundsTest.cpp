// Whatever clients do, the server's connections and buffered bytes stay
// bounded: a request must be whole within its deadline however slowly it
// trickles, there are at most so many connections, and all connections
// together hold at most so many request bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "server/HttpServer.h"
#include "tests/server/TestServer.h"

namespace Quorvel {
namespace {

using testing::bodyOf;
using testing::exchange;
using testing::RawClient;
using testing::TestServer;
using testing::withAccess;

constexpr std::chrono::seconds kSoon{10};

bool answers(std::uint16_t port) { return bodyOf(exchange(port, "GET / HTTP/1.1\r\n\r\n")) == "<h2>Bad Request!</h2>"; }

TEST(RequestDeadline, ATricklingSenderIsCutOffThoughItNeverFallsSilent) {
  HttpServerLimits limits;
  limits.idleTimeout = std::chrono::minutes(10);  // never reached here
  limits.requestDeadline = std::chrono::milliseconds(300);
  TestServer server(limits);

  // One byte every 20 ms: the request would take minutes to complete, and
  // the idle limit never ends it.
  RawClient client(server.port());
  const std::string request = withAccess(server.port(), "GET / HTTP/1.1\r\nX-Pad: " + std::string(2000, 'p'));
  bool closed = false;
  for (size_t i = 0; i < request.size() && !closed; ++i) {
    try {
      client.send(request.substr(i, 1));
    } catch (const boost::system::system_error&) {
      closed = true;  // the server has gone
      break;
    }
    std::optional<std::string> answer = client.readAllWithin(std::chrono::milliseconds(20));
    if (answer) {
      EXPECT_EQ(*answer, "");  // closed without an answer
      closed = true;
    }
  }
  EXPECT_TRUE(closed) << "the trickling request was never cut off";
  EXPECT_TRUE(answers(server.port()));
}

TEST(ConnectionCap, ANewcomerBeyondTheCapIsClosedAtOnce) {
  HttpServerLimits limits;
  limits.maxConnections = 4;
  TestServer server(limits);

  std::vector<std::unique_ptr<RawClient>> held;
  for (int i = 0; i < 4; ++i) {
    held.push_back(std::make_unique<RawClient>(server.port()));
    held.back()->send("GET / HTTP/1.1\r\n");  // open, and never finished
  }
  // The server accepts in order: the fifth is beyond the cap.
  RawClient fifth(server.port());
  EXPECT_EQ(fifth.readAllWithin(kSoon), std::optional<std::string>(""));

  // A place that frees up is taken by the next newcomer.
  held.pop_back();
  bool served = false;
  for (int attempt = 0; attempt < 100 && !served; ++attempt) {
    RawClient next(server.port());
    next.send(withAccess(server.port(), "GET / HTTP/1.1\r\n\r\n"));
    std::optional<std::string> answer = next.readAllWithin(kSoon);
    served = answer && bodyOf(*answer) == "<h2>Bad Request!</h2>";
    if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(served);
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
  bool fits = false;
  for (int attempt = 0; attempt < 100 && !fits; ++attempt) {
    RawClient third(server.port());
    third.send(post(6000) + std::string(6000, 'c'));
    std::optional<std::string> thirdAnswer = third.readAllWithin(kSoon);
    fits = thirdAnswer && bodyOf(*thirdAnswer) == "<h2>Bad Request!</h2>";
    if (!fits) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(fits);
}

}  // namespace
}  // namespace Quorvel
