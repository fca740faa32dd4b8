#include "engine/value_stack.h"

#include <cstring>

#include "engine/retire.h"
#include "engine/script.h"
#include "platform/lock.h"
#include "platform/memory.h"

ValueStack::~ValueStack() {
  free_chain(top);
  if (marks != inline_marks) release(&marks);
  if (sources != inline_sources) release(&sources);
}

void release_stack(ValueStack* stack) {
  free_chain(stack->top);
  stack->top = nullptr;
  stack->open_calls = 0;
  stack->source_count = 0;
}

namespace {

void copy_name(ValueNode* cell, const ValueNode* variable) {
  cell->name = dup_string(variable->name);  // out of memory: the value goes without its name
  cell->name_hash = cell->name != nullptr ? variable->name_hash : 0;
}

bool remember_source(ValueStack* stack, ValueNode* cell, ValueNode* variable) {
  if (!make_room(stack->sources, stack->source_count, stack->source_capacity,
                 stack->inline_sources)) {
    return false;
  }
  stack->sources[stack->source_count++] = {cell, variable};
  return true;
}

// The newest remembered source of a live entry below index `limit`, or -1. A released cell may
// have been made again since: an entry is taken only when the cell still refers to the variable's
// Value, which no other kind of stack entry does.
std::int32_t find_source(const ValueStack* stack, const ValueNode* cell, std::int32_t limit) {
  if (cell->name != nullptr || is_call_marker(cell) || is_temporary(cell)) return -1;
  for (std::int32_t i = limit - 1; i >= 0; --i) {
    const NameSource& source = stack->sources[i];
    if (source.cell == cell && source.variable->value == cell->value) return i;
  }
  return -1;
}

}  // namespace

namespace {

// make_reference, inline in the push of a variable, which every name read makes.
inline ValueNode* reference_to(ValueNode* target) {
  ValueNode* cell = make_cell();
  if (cell == nullptr) return nullptr;
  Value* value = target->value;
  cell->value = value;
  cell->elements = elements_of(target);
  // Until it is released this thread may reach into a shared chain through the cell.
  if (value->shared) count_shared_reference(1);
  return cell;
}

}  // namespace

bool push_variable_reference(ValueStack* stack, ValueNode* variable) {
  ValueNode* reference = reference_to(variable);
  if (reference == nullptr) return false;
  if (stack->collecting && variable->name != nullptr &&
      !remember_source(stack, reference, variable)) {
    copy_name(reference, variable);
  }
  push_cell(stack, reference);
  return true;
}

void settle_name(ValueStack* stack, ValueNode* cell) {
  std::int32_t found = find_source(stack, cell, stack->source_count);
  if (found >= 0) copy_name(cell, stack->sources[found].variable);
}

void settle_names(ValueStack* stack, ValueNode* newest, bool stop_at_marker) {
  // Each entry's source lies before those of the entries pushed after it, so one backward walk
  // through the sources serves the whole chain.
  std::int32_t limit = stack->source_count;
  for (ValueNode* cell = newest; cell != nullptr && limit > 0; cell = cell->next) {
    if (is_call_marker(cell)) {
      if (stop_at_marker) return;
      continue;
    }
    std::int32_t found = find_source(stack, cell, limit);
    if (found >= 0) {
      copy_name(cell, stack->sources[found].variable);
      limit = found;
    }
  }
}
ValueNode* make_number_cell(std::int32_t number) {
  ValueNode* cell = make_node();
  if (cell != nullptr) cell->value->data.number = number;
  return cell;
}

ValueNode* make_reference(ValueNode* target) {
  return reference_to(target);
}

bool assign_taking(CallContext* context, Value* target, ValueNode* source) {
  Value* value = source->value;
  if (!is_temporary(source) || is_shared_value(value) || !value->is_string ||
      value->data.text == nullptr || value == target) {
    return assign_value(context, target, value);
  }
  // Under the same lock as assign_value: a global's scalar changes as one step for other threads.
  RecursiveLock* lock = target->shared ? script_set_lock(context) : nullptr;
  if (lock != nullptr) lock_enter(lock);
  char* text = value->data.text;
  value->data.number = 0;
  value->is_string = 0;
  store_scalar(target, 1, 0, text);
  if (lock != nullptr) lock_leave(lock);
  return true;
}

ValueNode* make_owning_copy(ValueNode* entry) {
  ValueNode* copy = make_node();
  if (copy == nullptr) return nullptr;
  bool failed = !assign_value(nullptr, copy->value, entry->value);
  if (!failed) copy->elements = copy_chain(elements_of(entry), &failed);
  if (!failed && entry->name != nullptr) {
    copy->name = dup_string(entry->name);
    copy->name_hash = entry->name_hash;
    failed = copy->name == nullptr;
  }
  if (failed) {
    free_node(copy);
    return nullptr;
  }
  copy->is_hash = entry->is_hash;
  copy->pattern = entry->pattern;
  return copy;
}
