#include "platform/memory.h"

#include "platform/memory_accounting.h"

#include <cstdlib>

#include <malloc.h>

using memory_accounting::counted;
using memory_accounting::over_limit;

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
