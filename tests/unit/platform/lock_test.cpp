#include "platform/lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/thread.h"

TEST(RecursiveLock, OwnerMayEnterAgain) {
  RecursiveLock lock;
  lock_init(&lock);
  lock_enter(&lock);
  lock_enter(&lock);  // a second entry by the owner must not deadlock
  lock_leave(&lock);
  lock_leave(&lock);
  lock_destroy(&lock);
}

TEST(RecursiveLock, SerialisesThreads) {
  RecursiveLock lock;
  lock_init(&lock);
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        LockGuard outer(&lock);
        LockGuard inner(&lock);
        ++counter;
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(counter, 80000);
  lock_destroy(&lock);
}

TEST(Thread, IdentifiersDifferBetweenThreads) {
  std::uint32_t main_id = current_thread_id();
  std::uint32_t other_id = main_id;
  std::thread([&] { other_id = current_thread_id(); }).join();
  EXPECT_NE(main_id, other_id);
  yield_processor();
  sleep_milliseconds(1);
}

namespace {
std::atomic<int> ExitRoutineRuns{0};
thread_local int ThreadCache = 0;
std::atomic<int> SeenCache{0};
void exit_routine() {
  ++ExitRoutineRuns;
  SeenCache = ThreadCache;  // the thread's own storage is still there
}
}  // namespace

TEST(Thread, ExitRoutineRunsOnceWhenTheThreadEnds) {
  bool offered = true;
  std::thread([&] {
    ThreadCache = 42;
    offered = call_at_thread_exit(&exit_routine);
    call_at_thread_exit(&exit_routine);  // asked twice, run once
  }).join();
#if defined(_WIN32)
  EXPECT_FALSE(offered);
  EXPECT_EQ(ExitRoutineRuns.load(), 0);
#else
  EXPECT_TRUE(offered);
  EXPECT_EQ(ExitRoutineRuns.load(), 1);
  EXPECT_EQ(SeenCache.load(), 42);
#endif
}
