#include "engine/value_stack.h"

#include "platform/memory.h"

void push_cell(ValueStack* stack, ValueNode* cell) {
  cell->next = stack->top;
  stack->top = cell;
}

ValueNode* pop_operand(ValueStack* stack) {
  ValueNode* cell = stack->top;
  if (cell == nullptr || is_call_marker(cell)) return nullptr;
  stack->top = cell->next;
  cell->next = nullptr;
  return cell;
}

void release_stack(ValueStack* stack) {
  free_chain(stack->top);
  stack->top = nullptr;
  stack->open_calls = 0;
}

ValueNode* make_number_cell(std::int32_t number) {
  ValueNode* cell = make_node();
  if (cell != nullptr) cell->value->data.number = number;
  return cell;
}

ValueNode* make_reference(ValueNode* target) {
  ValueNode* cell = make_cell();
  if (cell == nullptr) return nullptr;
  cell->value = target->value;
  cell->elements = elements_of(target);
  return cell;
}

ValueNode* make_owning_copy(ValueNode* entry) {
  ValueNode* copy = make_node();
  if (copy == nullptr) return nullptr;
  assign_value(nullptr, copy->value, entry->value);
  copy->elements = copy_chain(elements_of(entry));
  copy->is_hash = entry->is_hash;
  copy->pattern = entry->pattern;
  if (entry->name != nullptr) {
    copy->name = dup_string(entry->name);
    copy->name_hash = entry->name_hash;
  }
  return copy;
}
