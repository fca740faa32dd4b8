// Plain number arithmetic on named variables and constants, run without value-stack cells. Where
// the general evaluator would do more than compute numbers (a string operand, a division by zero,
// a collecting run, updates inside a call's arguments) the stretch goes back to it before anything
// has changed but the declaration of a missing name, which that would make all the same; otherwise
// the result is the same, step for step.
#include "engine/simple_run.h"

#include "base/syntax_node.h"
#include "engine/compiled_loop.h"
#include "engine/engine.h"
#include "engine/error_report.h"
#include "engine/evaluate.h"
#include "engine/number_ops.h"
#include "engine/script.h"
#include "engine/value_stack.h"
#include "frontend/simple_sequence.h"

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
[[gnu::always_inline]] inline bool number_operand(const Slot& slot, std::int32_t* number) {
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
    step_value(context, updates[i].variable->value, static_cast<std::int32_t>(updates[i].delta));
  }
  // Updates made before the stretch are due now too.
  if (context->pending_updates != nullptr) apply_pending_updates(context, PendingMark{nullptr});
}

// Computes the stretch that starts at `first` into *result; `find` gives the variable of a Name
// node (null when it is missing). `in_arguments`: the stretch is inside a call's argument list.
// SIMPLE_NOT_RUN before anything has changed when the general evaluator must run it.
template <typename Find>
std::int32_t compute_stretch(CallContext* context, SyntaxNode* first, bool in_arguments,
                             Find&& find, Slot* result, SyntaxNode** last) {
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
        ValueNode* variable = find(node);
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
        if (in_arguments) return SIMPLE_NOT_RUN;
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
        Value* value = target.variable->value;
        std::int32_t number = source.number;
        if (!is_shared_value(value) &&
            (source.variable == nullptr || number_operand(source, &number))) {
          store_number(value, number);
        } else {
          Value constant{};
          constant.data.number = number;
          assign_value(context, value,
                       source.variable != nullptr ? source.variable->value : &constant);
        }
        target = source;
        break;
      }
      case NodeKind::ApplyPostfix:
        if (!in_arguments && update_count != 0) apply_updates(context, updates, update_count);
        update_count = 0;
        break;
      default:
        if (is_binary_operator(kind)) {
          std::int32_t left = 0;
          std::int32_t right = 0;
          std::int32_t value = 0;
          if (!number_operand(slots[depth - 2], &left) ||
              !number_operand(slots[depth - 1], &right) ||
              !apply_number_operator(kind, left, right, &value)) {
            return SIMPLE_NOT_RUN;
          }
          slots[--depth - 1] = {nullptr, value};
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
  *result = slots[0];
  return RUN_NORMAL;
}

}  // namespace

ValueNode* find_stretch_name(CallContext* context, const SyntaxNode* name) {
  return find_variable(context, name, nullptr);
}

namespace {

// Whether `after`, the node after a stretch, is the test of an if that takes the stretch's value,
// in a run that stops nowhere.
bool tested_by(const CallContext* context, const SyntaxNode* after) {
  return after != nullptr && after->kind == NodeKind::SkipIfTrue && context->stop_kind == 0 &&
         context->stop_node == nullptr;
}

// Whether the value of the stretch from `first` is released or tested right after it, where no
// run stops: then nobody sees the names a collecting run would give it.
bool value_goes_unseen(const CallContext* context, const SyntaxNode* first) {
  const SyntaxNode* after = first;
  for (std::int32_t step = 0; step < first->simple_length && after != nullptr; ++step)
    after = after->next;
  if (after == nullptr || after == context->stop_node) return false;
  if (after->kind == NodeKind::Semicolon)
    return context->stop_kind != static_cast<std::int32_t>(NodeKind::Semicolon);
  return tested_by(context, after);
}

}  // namespace

std::int32_t run_simple_sequence(CallContext* context, SyntaxNode* first, ValueStack* stack,
                                 SyntaxNode** last) {
  // A collecting run hands its values out with names; a value nobody sees needs none.
  if (stack->collecting && !value_goes_unseen(context, first)) return SIMPLE_NOT_RUN;
  // A missing name is declared here, where the general evaluator would declare it: in this frame,
  // with the stretch's first nodes run. Should the stretch still go back to the general evaluator,
  // that finds the variable made, as it would have made it itself.
  bool declaration_failed = false;
  auto find = [context, &declaration_failed](SyntaxNode* node) {
    ValueNode* variable = find_stretch_name(context, node);
    if (variable != nullptr || context->script == nullptr || context->script->is_explicit ||
        is_qualified(bare_name(node))) {
      return variable;  // the general evaluator reports a missing name, or looks it up elsewhere
    }
    variable = declare_variable(context, node);
    declaration_failed = variable == nullptr;  // reported
    return variable;
  };
  Slot result{};
  if (compute_stretch(context, first, stack->open_calls != 0, find, &result, last) != RUN_NORMAL)
    return declaration_failed ? RUN_FAILED : SIMPLE_NOT_RUN;
  context->position = (*last)->source;
  SyntaxNode* after = (*last)->next;
  // A statement's end releases the value at once: it need not be made.
  if (after != nullptr && after->kind == NodeKind::Semicolon) return RUN_NORMAL;
  // A condition is taken by the test after it, as the statement loop would take it (unless the
  // run is to stop there).
  if (tested_by(context, after)) {
    bool skip =
        result.variable != nullptr ? value_is_true(result.variable->value) : result.number != 0;
    *last = skip && after->next != nullptr ? after->next : after;
    return RUN_NORMAL;
  }
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

namespace {

// Gives the pass over to the general evaluator at `stretch`, which must run through it: the
// condition and the step are taken up where they stand in the node list; the rest of the body runs
// here, as the general loop runs a body. *node is where the general run goes on.
std::int32_t hand_over(CallContext* context, const LoopShape& shape, SyntaxNode* stretch,
                       SyntaxNode** node, ValueNode* result, std::int32_t* break_counter) {
  if (stretch == shape.condition) {
    *node = shape.top;
    return RUN_NORMAL;
  }
  if (stretch != shape.step) {
    CallContext frame = nested_frame(context);
    std::int32_t code =
        run_nodes(shape.in_braces ? &frame : context, stretch, result, nullptr, break_counter);
    release_frame(&frame);
    if (code != RUN_NORMAL && code != RUN_CONTINUE) return code;
    count_step();
  }
  *node = shape.exit;
  return RUN_NORMAL;
}

}  // namespace

std::int32_t run_simple_loop(CallContext* context, SyntaxNode** node, ValueNode* result,
                             std::int32_t* break_counter, SyntaxNode** handed_over) {
  LoopShape shape = loop_shape(*node);
  *handed_over = shape.top;  // unless the loop ends here
  SyntaxNode* stretch = nullptr;
  switch (run_compiled_loop(context, shape, &stretch)) {
    case CompiledRun::Ended:
      *node = shape.exit->target;
      *handed_over = nullptr;
      return RUN_NORMAL;
    case CompiledRun::Stopped:
      return RUN_FAILED;
    case CompiledRun::HandedOver:
      return hand_over(context, shape, stretch, node, result, break_counter);
    case CompiledRun::NotCompiled:
      break;
  }
  // Names that are missing, global or strings: each stretch is computed as the simple run does.
  // Nothing in the loop declares a name, so a name found once stays found.
  ValueNode* variables[kSimpleLoopNames] = {};
  auto find = [context, &variables](SyntaxNode* name) {
    ValueNode*& variable = variables[name->simple_slot - 1];
    if (variable == nullptr) variable = find_stretch_name(context, name);
    return variable;
  };
  SyntaxNode* last = nullptr;
  Slot value{};
  for (;;) {
    if (stop_requested()) return RUN_FAILED;
    if (compute_stretch(context, shape.condition, false, find, &value, &last) != RUN_NORMAL)
      return hand_over(context, shape, shape.condition, node, result, break_counter);
    context->position = last->source;
    bool go_on =
        value.variable != nullptr ? value_is_true(value.variable->value) : value.number != 0;
    if (!go_on) {
      *node = shape.exit->target;
      *handed_over = nullptr;
      return RUN_NORMAL;
    }
    for (SyntaxNode* statement = shape.statements; statement != nullptr;
         statement = statement->next) {
      if (statement->kind == NodeKind::Semicolon) continue;
      if (compute_stretch(context, statement, false, find, &value, &last) != RUN_NORMAL)
        return hand_over(context, shape, statement, node, result, break_counter);
      statement = last->next;  // its ";"
    }
    count_step();
    if (shape.step != nullptr &&
        compute_stretch(context, shape.step, false, find, &value, &last) != RUN_NORMAL) {
      return hand_over(context, shape, shape.step, node, result, break_counter);
    }
  }
}
