// What every heap of the platform layer shares: the limit tests set, and each thread's count of
// requests that failed. Inline: each request tests the limit.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace memory_accounting {

inline std::atomic<std::size_t> AllocationLimit{0};
inline thread_local constinit std::uint32_t Failures = 0;

inline bool over_limit(std::size_t size) {
  std::size_t limit = AllocationLimit.load(std::memory_order_relaxed);
  return limit != 0 && size > limit;
}

// The block, or null (counted) when memory ran out.
inline void* counted(void* block) {
  if (block == nullptr) ++Failures;
  return block;
}

}  // namespace memory_accounting
