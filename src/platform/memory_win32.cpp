#include "platform/memory.h"

#include "platform/memory_accounting.h"

#include <windows.h>

using memory_accounting::counted;
using memory_accounting::over_limit;

// The process heap through the local-memory functions, which extension DLLs can call too.
void* alloc_zeroed(std::size_t size) {
  if (over_limit(size)) return counted(nullptr);
  return counted(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, size == 0 ? 1 : size));
}

void* alloc_block(std::size_t size) {
  if (over_limit(size)) return counted(nullptr);
  return counted(LocalAlloc(LMEM_FIXED, size == 0 ? 1 : size));
}

void free_block(void* block) {
  if (block != nullptr) LocalFree(block);
}

std::size_t block_capacity(void* block) {
  return LocalSize(block);
}
