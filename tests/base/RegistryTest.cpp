#include "base/Registry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "base/Exception.h"

namespace Quorvel {
namespace {

TEST(Registry, SetGetRemoveAndTypeCheck) {
  auto& registry = Registry::instance();
  EXPECT_EQ(registry.get<std::string>("registry-test-unknown"), nullptr);
  registry.set<std::string>("registry-test-account", "seller");
  ASSERT_NE(registry.get<std::string>("registry-test-account"), nullptr);
  EXPECT_EQ(*registry.get<std::string>("registry-test-account"), "seller");
  // Asking for another type than stored gives nothing instead of garbage.
  EXPECT_EQ(registry.get<std::int64_t>("registry-test-account"), nullptr);
  registry.remove("registry-test-account");
  EXPECT_EQ(registry.getOr<std::string>("registry-test-account", "none"), "none");
}

TEST(Registry, ConcurrentWritersAndReaders) {
  auto& registry = Registry::instance();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&registry, t] {
      for (std::int64_t i = 0; i < 2000; ++i) {
        registry.set<std::int64_t>("registry-test-time", i);
        auto value = registry.get<std::int64_t>("registry-test-time");
        ASSERT_NE(value, nullptr);
        EXPECT_GE(*value, 0);
      }
    });
  }
  for (auto& thread : threads) thread.join();
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
