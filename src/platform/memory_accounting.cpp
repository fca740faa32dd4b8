#include "platform/memory_accounting.h"

#include "platform/memory.h"

void set_allocation_limit(std::size_t bytes) {
  memory_accounting::AllocationLimit.store(bytes, std::memory_order_relaxed);
}

std::uint32_t allocation_failures() {
  return memory_accounting::Failures;
}
