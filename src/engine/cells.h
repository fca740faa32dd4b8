// Cells that values are handed around in: a new number, a reference to a variable, an owning copy,
// and the moves of a temporary's string.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/value.h"

// A new owning cell holding a number; null when memory runs out.
ValueNode* make_number_cell(std::int32_t number);
// A new cell sharing the Value and the elements of `target`; null when memory runs out.
ValueNode* make_reference(ValueNode* target);
// assign_value from an entry that is about to be released: a temporary's string moves into the
// target instead of being copied (the entry is left holding 0). Never fails for a moved string.
bool assign_taking(CallContext* context, Value* target, ValueNode* source);
// A returned value (an entry, released here) copied into the call's result cell, its elements
// too. False after a reported failure.
bool return_copy(CallContext* context, ValueNode* result, ValueNode* value);
// An owning copy of an entry: its scalar and a deep copy of its elements; null when memory runs
// out.
ValueNode* make_owning_copy(ValueNode* entry);

// A temporary owns its Value; a reference shares a variable's or an element's.
inline bool is_temporary(const ValueNode* entry) {
  return entry->value->owner == entry;
}
// The cell that owns the entry's Value: the variable itself for a reference.
inline ValueNode* owner_of(ValueNode* entry) {
  return entry->value->owner;
}
// The chain head of a global may be replaced by another thread: it is read with an acquire load.
inline ValueNode* elements_of(ValueNode* entry) {
  return std::atomic_ref<ValueNode*>(entry->value->owner->elements).load(std::memory_order_acquire);
}
