#include "engine/cells.h"

#include <cstring>

#include "engine/element_index.h"
#include "engine/error_report.h"
#include "engine/retire.h"
#include "engine/script.h"
#include "platform/lock.h"
#include "platform/memory.h"

ValueNode* make_reference(ValueNode* target) {
  ValueNode* cell = make_cell();
  if (cell == nullptr) return nullptr;
  Value* value = target->value;
  cell->value = value;
  cell->elements = elements_of(target);
  // Until it is released this thread may reach into a shared chain through the cell.
  if (value->shared) count_shared_reference(1);
  return cell;
}

ValueNode* make_number_cell(std::int32_t number) {
  ValueNode* cell = make_node();
  if (cell != nullptr) cell->value->data.number = number;
  return cell;
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

bool return_copy(CallContext* context, ValueNode* result, ValueNode* value) {
  // Without memory for the result the function fails ("Alloc failed" is reported).
  bool failed = false;
  ValueNode* copy = copy_chain(elements_of(value), &failed);
  if (failed) report_error(context, "Alloc failed", context->position, 0);
  if (failed || !assign_taking(context, result->value, value)) {
    free_chain(copy);
    free_node(value);
    return false;
  }
  if (result->elements != nullptr) note_chains_changed();  // the old cells may be indexed
  free_chain(result->elements);
  result->elements = copy;
  result->is_hash = value->is_hash;
  free_node(value);
  return true;
}
