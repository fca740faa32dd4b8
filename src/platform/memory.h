// Heap entry points of the engine. The heap is one that a separately built extension library can
// share: the process heap on Windows, the C library's heap on POSIX.
#pragma once

#include <cstddef>
#include <cstdint>

// A zero-filled block (records), or null when memory is exhausted.
void* alloc_zeroed(std::size_t size);
// An uninitialised block (strings), or null when memory is exhausted.
void* alloc_block(std::size_t size);
// Frees a block from either allocator; null is ignored.
void free_block(void* block);
// The bytes a block from either allocator can hold: at least its requested size, often a little
// more (the heap rounds requests up).
std::size_t block_capacity(void* block);

// How many requests of this thread have failed so far: code that may fail for other reasons
// compares it before and after, to tell whether memory ran out.
std::uint32_t allocation_failures();

// From now on, requests for more than `bytes` fail as if memory had run out; 0 lifts the limit.
// How tests make the heap run out on purpose, at a size they choose.
void set_allocation_limit(std::size_t bytes);

// Frees *pointer when it is set and clears the caller's pointer.
template <class T>
inline void release(T** pointer) {
  if (*pointer != nullptr) {
    free_block(const_cast<void*>(static_cast<const void*>(*pointer)));
    *pointer = nullptr;
  }
}

// A zero-filled record of type T (plain records only).
template <class T>
inline T* alloc_record() {
  return static_cast<T*>(alloc_zeroed(sizeof(T)));
}
