#include "platform/memory.h"

#include <windows.h>

// The process heap through the local-memory functions, which extension DLLs can call too.
void* alloc_zeroed(std::size_t size) {
  return LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, size == 0 ? 1 : size);
}

void* alloc_block(std::size_t size) {
  return LocalAlloc(LMEM_FIXED, size == 0 ? 1 : size);
}

void free_block(void* block) {
  if (block != nullptr) LocalFree(block);
}
