// The value stack of one node-list run, and the cells it holds. Internal to the evaluator.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/value.h"

struct SyntaxNode;

// Pending postfix updates made inside one open call's argument list are applied when that call has
// returned; the run remembers, per open call, where the pending chains stood at its CallStart.
struct PendingMark {
  ValueNode* increments;
  ValueNode* decrements;
};

struct ValueStack {
  ValueNode* top;
  bool collecting;  // the run hands its values out: assignments and names carry the variable's name
  std::int32_t open_calls;
  PendingMark* marks;  // one per open call
  std::int32_t mark_capacity;
};

void push_cell(ValueStack* stack, ValueNode* cell);
// The top entry, unless the stack is empty or a call marker is on top.
ValueNode* pop_operand(ValueStack* stack);
void release_stack(ValueStack* stack);

// A new owning cell holding a number; null when memory runs out.
ValueNode* make_number_cell(std::int32_t number);
// A new cell sharing the Value and the elements of `target`; null when memory runs out.
ValueNode* make_reference(ValueNode* target);
// An owning copy of an entry: its scalar and a deep copy of its elements.
ValueNode* make_owning_copy(ValueNode* entry);

inline bool is_call_marker(const ValueNode* cell) {
  return cell->value == nullptr;
}
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

// Executes one expression node (operands, operators, calls, list literals). RUN_NORMAL or
// RUN_FAILED; list literals may also end with the codes of their body.
std::int32_t execute_expression_node(CallContext* context, SyntaxNode* node, ValueStack* stack,
                                     ValueNode* result, std::int32_t* break_counter);
// Applies the pending postfix updates of the frame down to (not including) the marked heads.
void apply_pending_updates(CallContext* context, const PendingMark& down_to);
// The Equal operator on two entries; false after a reported failure.
bool entries_equal(CallContext* context, ValueNode* left, ValueNode* right, bool* equal);
