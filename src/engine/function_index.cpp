#include "engine/function_index.h"

#include <cstring>

#include "engine/element_index.h"
#include "engine/script.h"
#include "platform/memory.h"

namespace {

// Names like f1 ... f99999 share their signature often: the slots are chosen by a strong hash.
std::uint32_t slot_hash(const char* name) {
  return static_cast<std::uint32_t>(key_hash(name));
}

void place(FunctionEntry** slots, std::uint32_t capacity, FunctionEntry* entry) {
  std::uint32_t mask = capacity - 1;
  std::uint32_t at = slot_hash(entry->name) & mask;
  while (slots[at] != nullptr)
    at = (at + 1) & mask;
  slots[at] = entry;
}

bool grow(FunctionIndex* index) {
  std::uint32_t capacity = index->capacity == 0 ? 16 : index->capacity * 2;
  if (capacity == 0) return false;
  auto* slots = static_cast<FunctionEntry**>(alloc_zeroed(sizeof(FunctionEntry*) * capacity));
  if (slots == nullptr) return false;
  for (std::uint32_t i = 0; i < index->capacity; ++i) {
    if (index->slots[i] != nullptr) place(slots, capacity, index->slots[i]);
  }
  release(&index->slots);
  index->slots = slots;
  index->capacity = capacity;
  return true;
}

}  // namespace

bool index_function(Script* module, FunctionEntry* entry) {
  if (find_function(module, entry->name) != nullptr) return true;
  FunctionIndex* index = &module->function_index;
  // At most half full, so a probe for a missing name ends soon.
  if ((index->count + 1) * 2 > index->capacity && !grow(index)) return false;
  place(index->slots, index->capacity, entry);
  ++index->count;
  return true;
}

FunctionEntry* find_function(const Script* module, const char* name) {
  const FunctionIndex* index = &module->function_index;
  if (index->capacity == 0) return nullptr;
  std::uint32_t mask = index->capacity - 1;
  for (std::uint32_t at = slot_hash(name) & mask; index->slots[at] != nullptr;
       at = (at + 1) & mask) {
    if (std::strcmp(index->slots[at]->name, name) == 0) return index->slots[at];
  }
  return nullptr;
}

void release_function_index(Script* module) {
  release(&module->function_index.slots);
  module->function_index.capacity = 0;
  module->function_index.count = 0;
}
