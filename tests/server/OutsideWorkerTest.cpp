// Actions that wait on outside parties run on the server's outside worker:
// the server thread keeps answering meanwhile, and each waiting request still
// gets its own answer, unless its client has gone.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "base/Exception.h"
#include "server/ActionTable.h"
#include "server/HttpServer.h"
#include "tests/server/TestServer.h"
#include "tests/support/FakeClock.h"
#include "tests/support/Gate.h"

namespace Quorvel {
namespace {

using testing::bodyOf;
using testing::exchange;
using testing::Gate;
using testing::RawClient;
using testing::TestServer;
using testing::withAccess;

// Holds every outside action at its start while it is closed.
Gate gate;

class OutsideWorkerThreads : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registerHandler("quick", [](const HttpRequest& request, Reply& out) {
      Json::Value reply(Json::objectValue);
      reply["SUCCESS"] = 1;
      reply["MSG"] = "quick " + queryParam(request, "n");
      out.writeJsonp(reply);
    });
    registerHandler(
        "slow",
        [](const HttpRequest& request, Reply& out) {
          gate.pass();
          Json::Value reply(Json::objectValue);
          reply["SUCCESS"] = 1;
          // Read after the wait: the request is still this action's own.
          reply["MSG"] = "slow " + queryParam(request, "n") + " " + postParam(request, "p");
          out.writeJsonp(reply);
        },
        ActionPlace::kOutsideWorker);
    registerHandler(
        "slowFailing", [](const HttpRequest&, Reply&) { throw Exception("the marketplace did not answer"); }, ActionPlace::kOutsideWorker);
  }
  void SetUp() override { gate.close(); }
  void TearDown() override { gate.open(); }

  static std::string get(const std::string& query) {
    return "GET /?" + query + "&callback=cb HTTP/1.1\r\n\r\n";
  }
};

TEST_F(OutsideWorkerThreads, OtherActionsAnswerWhileAnOutsideActionWaits) {
  TestServer server;
  auto slow = std::async(std::launch::async, [&] {
    return exchange(server.port(), "POST /?do=slow&n=1&callback=cb HTTP/1.1\r\nContent-Length: 3\r\n\r\np=x");
  });
  ASSERT_TRUE(gate.waitHeld(1));
  for (int n = 0; n < 5; ++n) {
    EXPECT_NE(bodyOf(exchange(server.port(), get("do=quick&n=" + std::to_string(n))))
                  .find("\"quick " + std::to_string(n) + "\""),
              std::string::npos);
  }
  EXPECT_EQ(slow.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  gate.open();
  const std::string answer = slow.get();
  EXPECT_NE(answer.find("200 OK"), std::string::npos) << answer;
  EXPECT_NE(bodyOf(answer).find("\"slow 1 x\""), std::string::npos) << answer;
}

TEST_F(OutsideWorkerThreads, OutsideActionsRunOneAtATimeAndEachGetsItsOwnAnswer) {
  TestServer server;
  std::vector<std::future<std::string>> answers;
  for (int n = 0; n < 3; ++n) {
    answers.push_back(std::async(std::launch::async, [&server, n] {
      return exchange(server.port(), get("do=slow&n=" + std::to_string(n)));
    }));
  }
  ASSERT_TRUE(gate.waitHeld(1));
  gate.open();
  for (int n = 0; n < 3; ++n) {
    EXPECT_NE(bodyOf(answers[n].get()).find("\"slow " + std::to_string(n) + " \""), std::string::npos);
  }
}

TEST_F(OutsideWorkerThreads, AFullQueueIsAnsweredAtOnceWithAFailure) {
  HttpServerLimits limits;
  limits.maxWaitingOutside = 1;
  TestServer server(limits);
  auto running = std::async(std::launch::async, [&] { return exchange(server.port(), get("do=slow&n=1")); });
  ASSERT_TRUE(gate.waitHeld(1));
  // One place left in the queue and two asking: one waits, the other is
  // refused at once.
  std::future<std::string> second[2];
  for (int n = 0; n < 2; ++n) {
    second[n] = std::async(std::launch::async, [&server, n] {
      return exchange(server.port(), get("do=slow&n=" + std::to_string(n + 2)));
    });
  }
  int refused = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (refused < 0 && std::chrono::steady_clock::now() < deadline) {
    for (int n = 0; n < 2 && refused < 0; ++n) {
      if (second[n].wait_for(std::chrono::milliseconds(5)) == std::future_status::ready) refused = n;
    }
  }
  ASSERT_GE(refused, 0) << "a full queue must answer at once";
  const std::string refusal = second[refused].get();
  EXPECT_NE(refusal.find("\"SUCCESS\" : 0"), std::string::npos) << refusal;
  EXPECT_NE(refusal.find("\"MSG\""), std::string::npos) << refusal;
  gate.open();
  EXPECT_NE(bodyOf(running.get()).find("\"slow 1 \""), std::string::npos);
  EXPECT_NE(bodyOf(second[1 - refused].get()).find("\"slow " + std::to_string(3 - refused) + " \""), std::string::npos);
}

TEST_F(OutsideWorkerThreads, AClientThatLeavesDoesNotDisturbTheServer) {
  TestServer server;
  {
    RawClient leaving(server.port());
    leaving.send(withAccess(server.port(), get("do=slow&n=1")));
    ASSERT_TRUE(gate.waitHeld(1));
  }  // closed while its action waits
  EXPECT_NE(bodyOf(exchange(server.port(), get("do=quick&n=2"))).find("quick 2"), std::string::npos);
  gate.open();
  EXPECT_NE(bodyOf(exchange(server.port(), get("do=slow&n=3"))).find("slow 3"), std::string::npos);
}

TEST_F(OutsideWorkerThreads, AWaitingRequestOutlivesTheSweepLimits) {
  HttpServerLimits limits;
  limits.idleTimeout = std::chrono::milliseconds(40);
  limits.requestDeadline = std::chrono::milliseconds(40);
  auto clock = std::make_shared<testing::FakeClock>(1'700'000'000);
  TestServer server(limits, Env(clock));
  auto slow = std::async(std::launch::async, [&] { return exchange(server.port(), get("do=slow&n=1")); });
  ASSERT_TRUE(gate.waitHeld(1));
  // Several sweeps pass while the action waits, each one past both limits.
  for (int sweep = 0; sweep < 5; ++sweep) {
    clock->step(std::chrono::milliseconds(50));
    server.settle();
  }
  // A connection that is not with the worker goes at the very next sweep:
  // the sweeps did run.
  RawClient idle(server.port());
  ASSERT_TRUE(server.waitUntil([](httpServer& s) { return s.openConnections() == 2; }));
  clock->step(std::chrono::milliseconds(50));
  server.settle();
  EXPECT_EQ(idle.readAllWithin(std::chrono::seconds(10)), std::optional<std::string>(""));
  gate.open();
  EXPECT_NE(bodyOf(slow.get()).find("slow 1"), std::string::npos);
}

TEST_F(OutsideWorkerThreads, AFailureEscapingAnOutsideActionIsAnsweredAsAFailure) {
  TestServer server;
  const std::string answer = exchange(server.port(), get("do=slowFailing"));
  EXPECT_NE(answer.find("\"SUCCESS\" : 0"), std::string::npos) << answer;
  EXPECT_NE(answer.find("the marketplace did not answer"), std::string::npos) << answer;
  EXPECT_NE(bodyOf(exchange(server.port(), get("do=quick&n=1"))).find("quick 1"), std::string::npos);
}

}  // namespace
}  // namespace Quorvel
