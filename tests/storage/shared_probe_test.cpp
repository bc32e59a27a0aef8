// Concurrent pages of one PostgreSQL data set share the read of its change number,
// but never one that started before they arrived.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "server/pg_set_cache.h"

namespace qmx::server {
namespace {

TEST(SharedProbe, ARequestGetsOnlyAReadStartedAfterItArrivedAndAFailedReadIsRetried) {
  SharedProbe probe;
  EXPECT_THROW(probe.current([]() -> std::optional<std::int64_t> { throw DatabaseError("down"); }), DatabaseError);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> reads = 0;
  const SharedProbe::Read read = [&]() -> std::optional<std::int64_t> {
    const int n = ++reads;
    if (n == 1) released.wait();
    return n;
  };
  auto first = std::async(std::launch::async, [&] { return probe.current(read); });
  while (reads == 0) std::this_thread::yield();
  // Arrives while the first read is under way: a change committed just before it
  // would be missing from that read's answer.
  auto second = std::async(std::launch::async, [&] { return probe.current(read); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  release.set_value();
  EXPECT_EQ(first.get(), 1);
  EXPECT_EQ(second.get(), 2);
  EXPECT_EQ(probe.current([]() -> std::optional<std::int64_t> { return std::nullopt; }), std::nullopt);
}

}  // namespace
}  // namespace qmx::server
