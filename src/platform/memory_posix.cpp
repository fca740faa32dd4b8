#include "platform/memory.h"

#include <cstdlib>

// A request of 0 bytes still yields a distinct block, so null always means exhaustion.
void* alloc_zeroed(std::size_t size) {
  return std::calloc(1, size == 0 ? 1 : size);
}

void* alloc_block(std::size_t size) {
  return std::malloc(size == 0 ? 1 : size);
}

void free_block(void* block) {
  std::free(block);
}
