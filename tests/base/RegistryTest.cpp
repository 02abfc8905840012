#include "base/Registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "base/Exception.h"
#include "base/ProcessWide.h"

namespace Quorvel {
namespace {

TEST(Registry, SetGetRemoveAndTypeCheck) {
  auto registry = Registry::instance();
  EXPECT_EQ(registry->get<std::string>("registry-test-unknown"), nullptr);
  registry->set<std::string>("registry-test-account", "seller");
  ASSERT_NE(registry->get<std::string>("registry-test-account"), nullptr);
  EXPECT_EQ(*registry->get<std::string>("registry-test-account"), "seller");
  // Asking for another type than stored gives nothing instead of garbage.
  EXPECT_EQ(registry->get<std::int64_t>("registry-test-account"), nullptr);
  registry->remove("registry-test-account");
  EXPECT_EQ(registry->getOr<std::string>("registry-test-account", "none"), "none");
}

// Every thread counts up its own key while all of them also overwrite one
// shared key: no write may be lost or torn, and a value read back always has
// the type written.
TEST(RegistryThreads, EveryWriteIsKeptWhileOthersWriteAtOnce) {
  auto registry = Registry::instance();
  constexpr int kThreads = 4;
  constexpr std::int64_t kRounds = 3000;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string own = "registry-test-own-" + std::to_string(t);
      for (std::int64_t i = 1; i <= kRounds; ++i) {
        const std::int64_t before = registry->getOr<std::int64_t>(own, 0);
        registry->set<std::int64_t>(own, before + 1);
        registry->set<std::string>("registry-test-shared", std::to_string(t));
        auto shared = registry->get<std::string>("registry-test-shared");
        if (!shared || shared->size() != 1 || (*shared)[0] < '0' || (*shared)[0] >= '0' + kThreads) ++wrong;
        if (t % 2 == 0) registry->remove("registry-test-gone");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(registry->getOr<std::int64_t>("registry-test-own-" + std::to_string(t), -1), kRounds);
  }
}

struct Counted {
  static std::atomic<int> built;
  static std::atomic<bool> failNext;
  static std::shared_ptr<Counted> makeProcessWide() {
    if (failNext.exchange(false)) throw Exception("cannot build");
    ++built;
    return std::make_shared<Counted>();
  }
  int value = 7;
};
std::atomic<int> Counted::built{0};
std::atomic<bool> Counted::failNext{false};

TEST(ProcessWide, BuiltOnceOnFirstUseReplacedByInstallAndDroppedByReset) {
  resetProcessWide();
  Counted::built = 0;
  auto first = processWide<Counted>();
  EXPECT_EQ(processWide<Counted>(), first);
  EXPECT_EQ(Counted::built.load(), 1);

  auto fake = std::make_shared<Counted>();
  fake->value = 9;
  installProcessWide(fake);
  EXPECT_EQ(processWide<Counted>()->value, 9);
  EXPECT_EQ(first->value, 7);  // the old holder keeps what it had

  resetProcessWide();
  EXPECT_NE(processWide<Counted>(), fake);
  EXPECT_EQ(Counted::built.load(), 2);
}

TEST(ProcessWide, AFailedBuildLeavesNothingAndTheNextUseTriesAgain) {
  resetProcessWide();
  Counted::failNext = true;
  EXPECT_THROW(processWide<Counted>(), Exception);
  EXPECT_NE(processWide<Counted>(), nullptr);
  resetProcessWide();
}

TEST(ProcessWideThreads, ManyThreadsAskingAtOnceGetOneObject) {
  resetProcessWide();
  Counted::built = 0;
  std::vector<std::thread> threads;
  std::vector<Counted*> seen(8);
  for (int t = 0; t < 8; ++t) threads.emplace_back([&, t] { seen[t] = processWide<Counted>().get(); });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(Counted::built.load(), 1);
  for (Counted* object : seen) EXPECT_EQ(object, seen[0]);
  resetProcessWide();
}

TEST(Exception, CarriesMessageAndCode) {
  Exception e("boom", 42);
  EXPECT_EQ(e.message(), "boom");
  EXPECT_EQ(e.code(), 42);
  EXPECT_STREQ(e.what(), "boom");
  errno = 7;
  Exception fromErrno("x");
  EXPECT_EQ(fromErrno.code(), 7);
}

}  // namespace
}  // namespace Quorvel
