#include "platform/memory.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include <malloc.h>

static std::atomic<std::size_t> AllocationLimit{0};

void set_allocation_limit(std::size_t bytes) {
  AllocationLimit.store(bytes, std::memory_order_relaxed);
}

static thread_local constinit std::uint32_t Failures = 0;

std::uint32_t allocation_failures() {
  return Failures;
}

// The block, or null (counted) when memory ran out.
static void* counted(void* block) {
  if (block == nullptr) ++Failures;
  return block;
}

static bool over_limit(std::size_t size) {
  std::size_t limit = AllocationLimit.load(std::memory_order_relaxed);
  return limit != 0 && size > limit;
}

// A request of 0 bytes still yields a distinct block, so null always means exhaustion.
void* alloc_zeroed(std::size_t size) {
  if (over_limit(size)) return counted(nullptr);
  return counted(std::calloc(1, size == 0 ? 1 : size));
}

void* alloc_block(std::size_t size) {
  if (over_limit(size)) return counted(nullptr);
  return counted(std::malloc(size == 0 ? 1 : size));
}

void free_block(void* block) {
  std::free(block);
}

std::size_t block_capacity(void* block) {
  return malloc_usable_size(block);
}
