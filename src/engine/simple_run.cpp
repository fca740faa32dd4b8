// Plain number arithmetic on named variables and constants, run without value-stack cells. Where
// the general evaluator would do more than compute numbers (a missing variable, a string operand,
// a division by zero, a collecting run, updates inside a call's arguments) the stretch goes back
// to it before anything has changed; otherwise the result is the same, step for step.
#include "engine/simple_run.h"

#include "engine/error_report.h"
#include "engine/evaluate.h"
#include "engine/number_ops.h"
#include "engine/script.h"
#include "engine/value_stack.h"
#include "frontend/simple_sequence.h"
#include "frontend/syntax_node.h"

namespace {

// An operand: a variable (read when an operator takes it, as the general evaluator reads its
// reference) or a number.
struct Slot {
  ValueNode* variable;
  std::int32_t number;
};

struct Update {
  ValueNode* variable;
  std::uint32_t delta;
};

// The number a binary operator reads from the slot; false when the value is a string, which makes
// the operator a string operator.
bool number_operand(const Slot& slot, std::int32_t* number) {
  if (slot.variable == nullptr) {
    *number = slot.number;
    return true;
  }
  ScalarSnapshot scalar = read_scalar(slot.variable->value);
  if (scalar.is_string) return false;
  *number = scalar.number;
  return true;
}

void apply_updates(CallContext* context, const Update* updates, std::int32_t count) {
  for (std::int32_t i = count - 1; i >= 0; --i) {
    Value* value = updates[i].variable->value;
    auto number = static_cast<std::uint32_t>(number_of_value(value));
    store_scalar(value, 0, static_cast<std::int32_t>(number + updates[i].delta), nullptr);
  }
  // Updates made before the stretch are due now too.
  apply_pending_updates(context, PendingMark{nullptr});
}

}  // namespace

std::int32_t run_simple_sequence(CallContext* context, SyntaxNode* first, ValueStack* stack,
                                 SyntaxNode** last) {
  if (stack->collecting) return SIMPLE_NOT_RUN;
  Slot slots[kSimpleDepthLimit];
  Update updates[kSimpleUpdateLimit];
  std::int32_t depth = 0;
  std::int32_t update_count = 0;
  SyntaxNode* node = first;
  for (std::int32_t step = 0; step < first->simple_length; ++step, node = node->next) {
    *last = node;
    NodeKind kind = node->kind;
    switch (kind) {
      case NodeKind::Name: {
        const char* name = node->text[0] == '&' ? node->text + 1 : node->text;
        ValueNode* variable = find_variable(context, name, node->number, nullptr);
        if (variable == nullptr) return SIMPLE_NOT_RUN;  // to be declared, or reported
        slots[depth++] = {variable, 0};
        break;
      }
      case NodeKind::Number:
        slots[depth++] = {nullptr, node->number};
        break;
      case NodeKind::PostIncrement:
      case NodeKind::PostDecrement:
        // Inside a call's arguments the update waits for the call: a pending cell is needed.
        if (stack->open_calls != 0) return SIMPLE_NOT_RUN;
        if (slots[depth - 1].variable != nullptr) {
          updates[update_count++] = {slots[depth - 1].variable,
                                     kind == NodeKind::PostIncrement ? 1u : ~0u};
        }
        break;
      case NodeKind::Assign: {
        // The last operator: nothing after it can send the stretch back.
        Slot source = slots[--depth];
        Slot& target = slots[depth - 1];
        if (target.variable == nullptr) return SIMPLE_NOT_RUN;
        Value number{};
        number.data.number = source.number;
        assign_value(context, target.variable->value,
                     source.variable != nullptr ? source.variable->value : &number);
        target = source;
        break;
      }
      case NodeKind::ApplyPostfix:
        if (stack->open_calls == 0) apply_updates(context, updates, update_count);
        update_count = 0;
        break;
      default:
        if (is_binary_operator(kind)) {
          std::int32_t left = 0;
          std::int32_t right = 0;
          std::int32_t result = 0;
          if (!number_operand(slots[depth - 2], &left) ||
              !number_operand(slots[depth - 1], &right) ||
              !apply_number_operator(kind, left, right, &result)) {
            return SIMPLE_NOT_RUN;
          }
          slots[--depth - 1] = {nullptr, result};
        } else {
          Slot& operand = slots[depth - 1];
          std::int32_t number = operand.variable != nullptr
                                    ? number_of_value(operand.variable->value)
                                    : operand.number;
          operand = {nullptr, apply_pure_unary(kind, number)};
        }
        break;
    }
  }
  context->position = (*last)->source;
  // A statement's end releases the value at once: it need not be made.
  if ((*last)->next != nullptr && (*last)->next->kind == NodeKind::Semicolon) return RUN_NORMAL;
  const Slot& result = slots[0];
  ValueNode* cell = nullptr;
  if (result.variable != nullptr) {
    if (push_variable_reference(stack, result.variable)) return RUN_NORMAL;
  } else if ((cell = make_number_cell(result.number)) != nullptr) {
    push_cell(stack, cell);
    return RUN_NORMAL;
  }
  report_error(context, "Alloc failed", context->position, 0);
  return RUN_FAILED;
}
