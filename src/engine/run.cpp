// The statement loop: runs a node list, with jumps, loops, switch, blocks and the result codes that
// carry break, continue, return and exit outward.
#include <cstdint>

#include "base/syntax_node.h"
#include "engine/element_index.h"
#include "engine/engine.h"
#include "engine/error_report.h"
#include "engine/evaluate.h"
#include "engine/retire.h"
#include "engine/script.h"
#include "engine/value_stack.h"
#include "platform/memory.h"
#include "platform/thread.h"

namespace {

std::int32_t fail_sentence(CallContext* context) {
  report_error(context, "Sentence error", context->position, 0);
  return RUN_FAILED;
}

// Hands the remaining stack out in push order, or releases it.
void finish_stack(ValueStack* stack, ValueNode** output) {
  if (output == nullptr) {
    release_stack(stack);
    return;
  }
  settle_names(stack, stack->top, false);
  // A run that ended inside a call's arguments leaves its marker: that is no value.
  ValueNode* in_push_order = nullptr;
  while (stack->top != nullptr) {
    ValueNode* cell = stack->top;
    stack->top = cell->next;
    if (is_call_marker(cell)) {
      cell->next = nullptr;
      free_node(cell);
      continue;
    }
    cell->next = in_push_order;
    in_push_order = cell;
  }
  *output = in_push_order;
}

SyntaxNode* skip_to_colon(SyntaxNode* node) {
  while (node->next != nullptr && node->kind != NodeKind::Colon)
    node = node->next;
  return node;
}

// Locals a return looks through for the variable it returns; past them it copies, as before.
constexpr std::int32_t kDyingLocalsLooked = 64;

// Whether every element of the chain owns its Value. The elements of `arg` refer to the caller's
// arguments, which go with the call: such a chain must be copied.
bool owns_elements(const ValueNode* first) {
  for (const ValueNode* element = first; element != nullptr; element = element->next) {
    if (element->value == nullptr || element->value->owner != element) return false;
  }
  return true;
}

// Whether `variable` is a local of the frames a function's return leaves (its own frame and the
// blocks open inside it), which go right after the return, and its value can move as it is. A
// return with a result is always inside a function's call, whose frames keep nothing.
bool dies_with_return(const CallContext* context, const ValueNode* variable) {
  const Value* value = variable->value;
  if (value == nullptr || value->owner != variable || is_shared_value(value)) {
    return false;  // a `&` parameter's or a global's Value lives on
  }
  std::int32_t looked = 0;
  for (const CallContext* frame = context; frame != nullptr; frame = frame->enclosing) {
    if (frame->keeps_locals != 0) return false;
    for (const ValueNode* local = frame->locals; local != nullptr; local = local->next) {
      if (local == variable)
        return !(value->is_string && value->data.text == nullptr) &&
               owns_elements(variable->elements);
      if (++looked == kDyingLocalsLooked) return false;
    }
  }
  return false;
}

// Returns a dying local's value by moving its text and its elements into the result instead of
// copying them: the local is released with its frame right after, holding nothing.
void return_dying_local(ValueNode* result, ValueNode* variable) {
  Value* from = variable->value;
  if (from->is_string) {
    char* text = from->data.text;
    from->data.number = 0;
    from->is_string = 0;
    store_scalar(result->value, 1, 0, text);
  } else {
    store_scalar(result->value, 0, from->data.number, nullptr);
  }
  if (result->elements != nullptr || variable->elements != nullptr) note_chains_changed();
  free_chain(result->elements);
  result->elements = variable->elements;
  variable->elements = nullptr;
}

}  // namespace

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

SyntaxNode* choose_label(CallContext* context, SyntaxNode* body, ValueNode* value) {
  for (SyntaxNode* label = body; label != nullptr; label = label->next) {
    if (label->kind != NodeKind::Case) continue;
    if (!GeneralEvaluationOnly && is_literal_label(label)) {
      bool equal = false;
      if (!literal_label_equals(context, label, value, &equal)) return nullptr;
      if (equal) return label;
      continue;
    }
    std::int32_t saved_stop = context->stop_kind;
    context->stop_kind = static_cast<std::int32_t>(NodeKind::Colon);
    ValueNode* output = nullptr;
    ValueNode* pending = context->pending_updates;
    std::int32_t code = run_nodes(context, label->next, nullptr, &output, nullptr);
    if (code == RUN_FAILED) discard_pending_updates(context, pending);
    context->stop_kind = saved_stop;
    bool equal = false;
    bool compared =
        code != RUN_FAILED && output != nullptr && entries_equal(context, output, value, &equal);
    free_chain(output);
    if (!compared) return nullptr;
    if (equal) return label;
  }
  for (SyntaxNode* label = body; label != nullptr; label = label->next) {
    if (label->kind == NodeKind::Default) return label;
  }
  return nullptr;
}

namespace {

std::int32_t run_return(CallContext* context, ValueStack* stack, ValueNode* result, NodeKind kind) {
  if (result != nullptr) {
    ValueNode* value = pop_operand(stack);
    // The general evaluation copies, as a reference for the move.
    ValueNode* variable = value != nullptr && !is_temporary(value) && !GeneralEvaluationOnly
                              ? owner_of(value)
                              : nullptr;
    if (value == nullptr) {
      store_scalar(result->value, 0, 0, nullptr);
    } else if (variable != nullptr && dies_with_return(context, variable)) {
      return_dying_local(result, variable);
      result->is_hash = value->is_hash;
      free_node(value);
    } else if (!return_copy(context, result, value)) {
      return RUN_FAILED;
    }
  }
  return kind == NodeKind::Return ? RUN_RETURN : RUN_EXIT;
}

std::int32_t run_break(ValueStack* stack, std::int32_t* break_counter) {
  ValueNode* value = pop_operand(stack);
  if (break_counter != nullptr) {
    std::int32_t count = value != nullptr ? number_of_value(value->value) : 0;
    *break_counter = count < 0 ? 0 : count;
  }
  free_node(value);
  return RUN_BREAK;
}

// Runs a loop body; returns the code that ends this run, and moves *node on as the loop decides.
std::int32_t run_loop(CallContext* context, SyntaxNode** node, ValueStack* stack, ValueNode* result,
                      std::int32_t* break_counter) {
  SyntaxNode* loop = *node;
  ValueNode* condition = pop_operand(stack);
  if (condition != nullptr) {
    bool go_on = value_is_true(condition->value);
    free_node(condition);
    if (!go_on) return RUN_NORMAL;  // on with the exit jump
  }
  SyntaxNode* body = loop->body;
  std::int32_t code;
  if (body != nullptr && body->kind == NodeKind::Block && body->next == nullptr &&
      context->stop_node != body && context->stop_kind != static_cast<std::int32_t>(body->kind)) {
    // A body in braces, as most are: the block runs at once, as its one-node run would run it.
    if (stop_requested()) return RUN_FAILED;
    context->position = body->source;
    code = run_block_discarding(context, body, result, break_counter);
  } else {
    code = run_nodes(context, body, result, nullptr, break_counter);
  }
  if (code == RUN_NORMAL || code == RUN_CONTINUE) {
    if (loop->next != nullptr) *node = loop->next;  // skip the exit jump
    count_step();
    return RUN_NORMAL;
  }
  if (code == RUN_BREAK) {
    if (break_counter != nullptr && *break_counter > 0) {
      --*break_counter;
      return RUN_BREAK;
    }
    SyntaxNode* end = loop;
    while (end->kind != NodeKind::LoopEnd && end->next != nullptr)
      end = end->next;
    *node = end;
    return RUN_NORMAL;
  }
  return code;
}

std::int32_t run_switch(CallContext* context, SyntaxNode* node, ValueStack* stack,
                        ValueNode* result, std::int32_t* break_counter) {
  ValueNode* value = pop_operand(stack);
  if (value == nullptr) return fail_sentence(context);
  SyntaxNode* label = choose_label(context, node->body, value);
  free_node(value);
  if (label == nullptr) return RUN_NORMAL;
  CallContext frame = nested_frame(context);
  std::int32_t code = run_nodes(&frame, label, result, nullptr, break_counter);
  release_frame(&frame);
  if (code == RUN_BREAK && break_counter != nullptr && *break_counter > 0) {
    --*break_counter;
    return RUN_BREAK;
  }
  return code == RUN_NORMAL || code == RUN_BREAK ? RUN_NORMAL : code;
}

}  // namespace

// Steps between two quiescent tests: retired memory waits a few statements or loop passes at most,
// and the tightest code does not pay for the test on every step.
constexpr std::uint32_t kStepsPerQuiescentTest = 64;
// A busy loop must not starve the window thread, but a system call per pass costs far more than
// the pass: yield once every so many batches (4096 steps).
constexpr std::uint32_t kBatchesPerYield = 64;
static thread_local std::uint32_t StepBatches = 0;

constinit thread_local std::uint32_t step_detail::StepsToBatch = kStepsPerQuiescentTest;

void step_detail::end_step_batch() {
  StepsToBatch = kStepsPerQuiescentTest;
  quiescent_point();
  if (++StepBatches % kBatchesPerYield == 0) yield_processor();
}

bool shared_value_is_true(const Value* value) {
  ScalarSnapshot scalar = read_scalar(value);
  return scalar.is_string ? scalar.text != nullptr && scalar.text[0] != '\0' : scalar.number != 0;
}

std::int32_t run_nodes(CallContext* context, SyntaxNode* first, ValueNode* result,
                       ValueNode** output, std::int32_t* break_counter) {
  if (stop_requested()) return RUN_FAILED;
  if (output != nullptr) *output = nullptr;
  if (first == nullptr) return RUN_NORMAL;

  ValueStack stack;
  stack.collecting = output != nullptr;
  std::int32_t code = RUN_NORMAL;
  // Where the run stops does not change while it runs: nested runs that set another stop on this
  // frame put the old one back before they return.
  const std::int32_t stop_kind = context->stop_kind;
  const SyntaxNode* const stop_node = context->stop_node;
  const bool may_stop = stop_kind != 0 || stop_node != nullptr;
  const bool shortcuts = !GeneralEvaluationOnly;
  for (SyntaxNode* node = first; node != nullptr; node = node->next) {
    if (may_stop && ((stop_kind != 0 && static_cast<std::int32_t>(node->kind) == stop_kind) ||
                     node == stop_node))
      break;
    context->position = node->source;
    switch (node->kind) {
      case NodeKind::Semicolon:
        release_stack(&stack);
        count_step();
        break;
      case NodeKind::Jump:
        if (node->target == nullptr) break;
        node = node->target;
        break;
      case NodeKind::SkipIfTrue: {
        ValueNode* condition = pop_operand(&stack);
        bool skip = condition == nullptr || value_is_true(condition->value);
        free_node(condition);
        if (skip && node->next != nullptr) node = node->next;
        break;
      }
      case NodeKind::LoopTop:
      case NodeKind::Else:
      case NodeKind::EndIf:
      case NodeKind::LoopEnd:
      case NodeKind::DoTest:
      case NodeKind::FunctionEnd:
      case NodeKind::Colon:
        break;
      case NodeKind::Loop:
        code = run_loop(context, &node, &stack, result, break_counter);
        break;
      case NodeKind::Break:
        code = run_break(&stack, break_counter);
        break;
      case NodeKind::Continue:
        code = RUN_CONTINUE;
        break;
      case NodeKind::Return:
      case NodeKind::Exit:
        code = run_return(context, &stack, result, node->kind);
        break;
      case NodeKind::Switch:
        code = run_switch(context, node, &stack, result, break_counter);
        break;
      case NodeKind::Case:
      case NodeKind::Default:
        node = skip_to_colon(node);
        break;
      case NodeKind::Function:
      case NodeKind::Argmatch:
        // A definition is reached only through its leading jump; met otherwise it runs nothing.
        while (node->next != nullptr && node->kind != NodeKind::FunctionEnd)
          node = node->next;
        break;
      case NodeKind::String:
        // A literal the next node only reads is read in place, unless the run may stop there.
        if (may_stop || !shortcuts) {
          code = execute_expression_node(context, node, &stack, result, break_counter);
        } else if (is_literal_operand(node)) {
          code = run_literal_operand(context, node, &stack);
          node = node->next;
        } else if (is_literal_key(node)) {
          code = run_literal_key(context, node, &stack);
          node = node->next;
        } else if (is_read_argument(node)) {
          code = run_read_argument(context, node, &stack);
        } else {
          code = execute_expression_node(context, node, &stack, result, break_counter);
        }
        break;
      case NodeKind::Name:
        code = run_name(context, node, &stack);
        break;
      case NodeKind::CallStart:
        code = run_call_start(context, &stack);
        break;
      case NodeKind::Call:
        code = run_call(context, node, &stack);
        break;
      default:
        code = execute_expression_node(context, node, &stack, result, break_counter);
        break;
    }
    if (code != RUN_NORMAL) break;
  }
  finish_stack(&stack, output);
  return code;
}
