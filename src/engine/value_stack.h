// The value stack of one node-list run, and the cells it holds. Internal to the evaluator.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "base/syntax_node.h"
#include "engine/value.h"
#include "platform/memory.h"

// Pending postfix updates made inside one open call's argument list are applied when that call has
// returned; the run remembers, per open call, where the pending chain stood at its CallStart.
struct PendingMark {
  ValueNode* updates;
};

// In a collecting run a reference to a variable carries the variable's name, but the name is only
// seen where the value is handed out: in the run's output, as an assignment's target, or as a call
// argument. Until then the run remembers which variable each such reference came from, so that the
// many references an expression consumes never copy a name.
struct NameSource {
  ValueNode* cell;      // not owned; may have been released since (compared, never read)
  ValueNode* variable;  // lives at least as long as the run
};

// An array that starts in storage of its own and moves to the heap when it outgrows it: makes room
// for one more item; false when memory runs out (the array unchanged).
template <typename Item, std::int32_t kInline>
bool make_room(Item*& items, std::int32_t count, std::int32_t& capacity,
               Item (&inline_items)[kInline]) {
  if (count < capacity) return true;
  if (items == nullptr) {
    items = inline_items;
    capacity = kInline;
    return true;
  }
  auto* grown =
      static_cast<Item*>(alloc_block(sizeof(Item) * static_cast<std::size_t>(capacity) * 2));
  if (grown == nullptr) return false;
  std::memcpy(grown, items, sizeof(Item) * static_cast<std::size_t>(count));
  if (items != inline_items) release(&items);
  items = grown;
  capacity *= 2;
  return true;
}

struct ValueStack {
  static constexpr std::int32_t kInlineMarks = 4;
  static constexpr std::int32_t kInlineSources = 8;

  ValueNode* top = nullptr;
  bool collecting = false;  // the run hands its values out: assignments and names carry names
  std::int32_t open_calls = 0;
  PendingMark* marks = nullptr;  // one per open call
  std::int32_t mark_capacity = 0;
  NameSource* sources = nullptr;  // in push order
  std::int32_t source_count = 0;
  std::int32_t source_capacity = 0;
  PendingMark inline_marks[kInlineMarks];
  NameSource inline_sources[kInlineSources];

  ValueStack() = default;
  ValueStack(const ValueStack&) = delete;
  ValueStack& operator=(const ValueStack&) = delete;
  ~ValueStack();
};

inline bool is_call_marker(const ValueNode* cell) {
  return cell->value == nullptr;
}

inline void push_cell(ValueStack* stack, ValueNode* cell) {
  cell->next = stack->top;
  stack->top = cell;
}
// The top entry, unless the stack is empty or a call marker is on top.
inline ValueNode* pop_operand(ValueStack* stack) {
  ValueNode* cell = stack->top;
  if (cell == nullptr || is_call_marker(cell)) return nullptr;
  stack->top = cell->next;
  cell->next = nullptr;
  return cell;
}
// Releases the entries (a statement's end); the stack stays usable.
void release_stack(ValueStack* stack);
// Pushes a reference to a variable; in a collecting run it will carry the variable's name. False
// when memory runs out.
bool push_variable_reference(ValueStack* stack, ValueNode* variable);
// Gives a reference pushed by push_variable_reference its variable's name now, if it has none yet.
void settle_name(ValueStack* stack, ValueNode* cell);
// settle_name for the entries of a chain linked newest first (the stack from its top), up to the
// first call marker when `stop_at_marker`, else past markers to the end.
void settle_names(ValueStack* stack, ValueNode* newest, bool stop_at_marker);

// A new owning cell holding a number; null when memory runs out.
ValueNode* make_number_cell(std::int32_t number);
// A new cell sharing the Value and the elements of `target`; null when memory runs out.
ValueNode* make_reference(ValueNode* target);
// assign_value from an entry that is about to be released: a temporary's string moves into the
// target instead of being copied (the entry is left holding 0). Never fails for a moved string.
bool assign_taking(CallContext* context, Value* target, ValueNode* source);
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

// Executes one expression node (operands, operators, calls, list literals). RUN_NORMAL or
// RUN_FAILED; list literals may also end with the codes of their body.
std::int32_t execute_expression_node(CallContext* context, SyntaxNode* node, ValueStack* stack,
                                     ValueNode* result, std::int32_t* break_counter);
// The nodes met most often, run directly by the statement loop.
// The variable a name stands for: found, or declared (reported in an explicit module, at the
// context's position). Null after a reported failure.
ValueNode* named_variable(CallContext* context, SyntaxNode* node);
std::int32_t run_name(CallContext* context, SyntaxNode* node, ValueStack* stack);
std::int32_t run_call_start(CallContext* context, ValueStack* stack);
std::int32_t run_call(CallContext* context, SyntaxNode* node, ValueStack* stack);
// An asynchronous call `&name(...)`: the cell of the new thread's identifier, or null after
// "Alloc failed" is reported (no thread runs then). The caller keeps the arguments.
ValueNode* start_async_call(CallContext* context, SyntaxNode* node, ValueNode* arguments);
// A string literal without escapes or «%expr%» parts that a binary operator takes at once, as its
// right operand: the operator runs on the literal's own bytes, without a copy or a cell. The run
// must not stop at the operator. run_literal_operand runs both nodes.
bool is_plain_literal(const SyntaxNode* node);
inline bool is_literal_operand(const SyntaxNode* node) {
  return node->next != nullptr && is_binary_operator(node->next->kind) && is_plain_literal(node);
}
std::int32_t run_literal_operand(CallContext* context, SyntaxNode* literal, ValueStack* stack);
// The same for a literal key that an Index takes at once (`h["key"]`): run_literal_key runs both
// nodes.
inline bool is_literal_key(const SyntaxNode* node) {
  return node->next != nullptr && node->next->kind == NodeKind::Index && is_plain_literal(node);
}
std::int32_t run_literal_key(CallContext* context, SyntaxNode* literal, ValueStack* stack);
// A case label that is a plain literal or a number alone (`case "PING":`, `case 1:`) is compared
// with the switch's value in place instead of being run; false after a reported failure.
bool is_literal_label(const SyntaxNode* label);
bool literal_label_equals(CallContext* context, const SyntaxNode* label, ValueNode* value,
                          bool* equal);
// A string literal that is the last argument of a call known to go to a built-in that only reads
// its arguments: the argument refers to a constant Value kept with the literal, without a copy.
// The run must not stop at the call. False when the literal must be evaluated as usual.
bool is_read_argument(const SyntaxNode* node);
// What a plain literal read in place by a built-in refers to: a cell with the literal's text, kept
// with the literal on the heap. Nothing writes to it: only built-ins that read their arguments see
// it. Made on first use by whichever thread comes first; null when memory runs out.
ValueNode* literal_constant(SyntaxNode* node);
// A reference to a plain literal's constant cell, for a built-in that only reads its arguments;
// null when memory runs out.
ValueNode* literal_reference(SyntaxNode* literal);
std::int32_t run_read_argument(CallContext* context, SyntaxNode* literal, ValueStack* stack);
// Runs a brace block in a frame of its own, its values released.
std::int32_t run_block_discarding(CallContext* context, SyntaxNode* block, ValueNode* result,
                                  std::int32_t* break_counter);
// Applies the pending postfix updates of the frame down to (not including) the marked heads.
void apply_pending_updates(CallContext* context, const PendingMark& down_to);
// Drops the pending postfix updates of the frame down to (not including) `down_to`: those of an
// expression that failed where the run goes on (a switch's label, a capture target, a literal's
// part), which no later statement's end may apply.
void discard_pending_updates(CallContext* context, const ValueNode* down_to);
// A hash assigned: the target (a variable, an element, or a reference to one) takes a copy of the
// source's elements, which replaces its own; its scalar stays. False after "Alloc failed" is
// reported (the target keeps its old elements then).
bool assign_elements(CallContext* context, ValueNode* target, ValueNode* source);
// Any binary operator on two entries, as an expression runs it: the result's new cell, or null
// after a reported failure. The operands stay the caller's; a temporary's string may move into
// the result.
ValueNode* binary_result(CallContext* context, NodeKind kind, ValueNode* left, ValueNode* right);
// The Equal operator on two entries; false after a reported failure.
bool entries_equal(CallContext* context, ValueNode* left, ValueNode* right, bool* equal);
