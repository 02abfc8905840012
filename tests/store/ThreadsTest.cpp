// Several threads on one database file, each through its own connection.
// Run under ThreadSanitizer by scripts/tsan.sh (the suite names carry
// "Threads" for that).
#include <sqlite3.h>

#include <future>
#include <thread>

#include "store/MsgQueue.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel {
namespace {

class StoreThreads : public StoreFixture {};

TEST_F(StoreThreads, EachThreadHasItsOwnConnectionUntilItReleasesIt) {
  std::shared_ptr<IDb> mine = getDb();
  EXPECT_EQ(getDb(), mine);
  std::shared_ptr<IDb> theirs;
  std::thread([&] {
    theirs = getDb();
    releaseDb();
  }).join();
  EXPECT_NE(theirs, mine);
  releaseDb();
  EXPECT_NE(getDb(), mine);  // `mine` is still held, so a new object is a new connection
}

TEST_F(StoreThreads, AWriteWaitsForAnotherConnectionsTransaction) {
  std::promise<bool> waiting;  // true: the writer is waiting; false: it finished without waiting
  std::atomic<bool> told{false};
  auto tell = [&](bool value) {
    if (!told.exchange(true)) waiting.set_value(value);
  };
  changeDatabaseOptions([&](DatabaseOptions& options) { options.busyObserver = [&](int) { tell(true); }; });

  auto holder = otherConnection();
  holder->begin();
  holder->exec("insert into `items` (`cg_id`) values (1)");

  std::string failure;
  std::thread writer([&] {
    try {
      getDb()->exec("insert into `items` (`cg_id`) values (2)");
    } catch (Exception e) {
      failure = e.message();
    }
    releaseDb();
    tell(false);
  });
  bool waited = waiting.get_future().get();
  holder->commit();
  writer.join();
  EXPECT_TRUE(waited);
  EXPECT_EQ(failure, "");
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 2);
}

TEST_F(StoreThreads, WithoutTimeLeftALockedWriteRaisesBusy) {
  changeDatabaseOptions([](DatabaseOptions& options) { options.busyTimeout = std::chrono::milliseconds(0); });
  releaseDb();  // the next connection of this thread gets no time to wait
  auto holder = otherConnection();
  holder->begin();
  holder->exec("insert into `items` (`cg_id`) values (1)");
  try {
    getDb()->execute(std::make_shared<SQL>("insert into `items` (`cg_id`) values (?)")->bind(2));
    ADD_FAILURE() << "the locked write reported success";
  } catch (DbException e) {
    EXPECT_EQ(e.code(), SQLITE_BUSY);
  }
  holder->rollback();
}

TEST_F(StoreThreads, SettingsAndQueueFromManyThreadsAtOnce) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 15;
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  std::shared_ptr<MsgQueue> queue = MsgQueue::instance();
  std::atomic<int> failures{0};
  std::atomic<bool> writing{true};

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::string key = "key" + std::to_string(t);
      for (int round = 0; round < kRounds; ++round) {
        try {
          getDb()->exec("pragma synchronous=off");
          config->set(getDb(), key, std::to_string(round));
          if (config->get(key) != std::to_string(round)) ++failures;
          queue->add(getDb(), t % 3, "to", "from", key, "", "");
          queue->add(getDb(), t % 3, "to", "from", key, "", "");
          queue->pending(getDb());  // committed rows join the lists
          MsgEntry entry;
          if (!queue->take(getDb(), t % 3, entry)) ++failures;
        } catch (Exception e) {
          ADD_FAILURE() << e.message();
        }
        releaseDb();
      }
    });
  }
  std::thread reader([&] {
    while (writing) {
      config->getAll();
      config->flag("key0");
    }
  });
  for (auto& thread : threads) thread.join();
  writing = false;
  reader.join();

  EXPECT_EQ(failures, 0);
  config->load(getDb());
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(config->get("key" + std::to_string(t)), std::to_string(kRounds - 1));
  EXPECT_EQ(queue->pending(getDb()), kThreads * kRounds);
  EXPECT_EQ(count("select count(*) as `num` from `msg_queue`"), kThreads * kRounds);
}

}  // namespace
}  // namespace Quorvel
