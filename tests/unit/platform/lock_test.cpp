#include "platform/lock.h"

#include <gtest/gtest.h>

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
