#include "engine/compiled_loop.h"

#include "engine/engine.h"
#include "engine/evaluate.h"
#include "engine/number_ops.h"
#include "engine/script.h"
#include "engine/simple_run.h"
#include "frontend/simple_sequence.h"
#include "frontend/syntax_node.h"

namespace {

constexpr std::int32_t kMaxOperations = 96;
constexpr std::int32_t kMaxConstants = 96;
constexpr std::int32_t kMaxStretches = 24;

// One step: out = left <kind> right for an operator; Assign copies left to out; PostIncrement adds
// `delta` to out (a postfix update being applied).
struct LoopOperation {
  NodeKind kind;
  std::int32_t delta;
  const std::int32_t* left;
  const std::int32_t* right;
  std::int32_t* out;
};

struct CompiledStretch {
  SyntaxNode* first;
  SyntaxNode* last;
  std::int32_t end;            // one past its last operation
  const std::int32_t* result;  // where its value is, read right after it
};

struct CompiledLoop {
  LoopOperation operations[kMaxOperations];
  std::int32_t values[kMaxConstants];  // constants and intermediate results
  CompiledStretch stretches[kMaxStretches];
  ValueNode* variables[kSimpleLoopNames];
  std::int32_t operation_count;
  std::int32_t value_count;
  std::int32_t stretch_count;
  std::int32_t step_index;  // the step's stretch, or stretch_count without one
};

// The number a Name stands for, when its variable exists and is a plain local number.
std::int32_t* variable_number(CallContext* context, CompiledLoop* loop, const SyntaxNode* name) {
  ValueNode*& variable = loop->variables[name->simple_slot - 1];
  if (variable == nullptr) {
    variable = find_stretch_name(context, name);
    if (variable == nullptr) return nullptr;
  }
  Value* value = variable->value;
  if (value->shared || value->is_string) return nullptr;
  return &value->data.number;
}

struct Operand {
  std::int32_t* location;
  bool variable;
};

bool add_operation(CompiledLoop* loop, const LoopOperation& operation) {
  if (loop->operation_count == kMaxOperations) return false;
  loop->operations[loop->operation_count++] = operation;
  return true;
}

std::int32_t* new_value(CompiledLoop* loop, std::int32_t number) {
  if (loop->value_count == kMaxConstants) return nullptr;
  loop->values[loop->value_count] = number;
  return &loop->values[loop->value_count++];
}

// Compiles one stretch, in the order the simple run reads and writes: operands are read when an
// operator takes them, the assignment is the last operator, the postfix updates come after it.
bool compile_stretch(CallContext* context, CompiledLoop* loop, SyntaxNode* first) {
  if (loop->stretch_count == kMaxStretches) return false;
  Operand operands[kSimpleDepthLimit];
  Operand updates[kSimpleUpdateLimit];
  std::int32_t deltas[kSimpleUpdateLimit];
  std::int32_t depth = 0;
  std::int32_t update_count = 0;
  std::int32_t stretch_start = loop->operation_count;
  SyntaxNode* node = first;
  SyntaxNode* last = first;
  for (std::int32_t step = 0; step < first->simple_length; ++step, node = node->next) {
    last = node;
    NodeKind kind = node->kind;
    if (kind == NodeKind::Name) {
      std::int32_t* number = variable_number(context, loop, node);
      if (number == nullptr) return false;
      operands[depth++] = {number, true};
    } else if (kind == NodeKind::Number) {
      std::int32_t* constant = new_value(loop, node->number);
      if (constant == nullptr) return false;
      operands[depth++] = {constant, false};
    } else if (kind == NodeKind::PostIncrement || kind == NodeKind::PostDecrement) {
      if (operands[depth - 1].variable) {
        deltas[update_count] = kind == NodeKind::PostIncrement ? 1 : -1;
        updates[update_count++] = operands[depth - 1];
      }
    } else if (kind == NodeKind::ApplyPostfix) {
      for (std::int32_t i = update_count - 1; i >= 0; --i) {
        if (!add_operation(loop, {NodeKind::PostIncrement, deltas[i], nullptr, nullptr,
                                  updates[i].location})) {
          return false;
        }
      }
      update_count = 0;
    } else if (kind == NodeKind::Assign) {
      Operand source = operands[--depth];
      Operand target = operands[depth - 1];
      if (!target.variable) return false;
      LoopOperation* previous = loop->operation_count > stretch_start
                                    ? &loop->operations[loop->operation_count - 1]
                                    : nullptr;
      if (!source.variable && previous != nullptr && previous->out == source.location &&
          update_count == 0) {
        // The result goes straight into the variable.
        previous->out = target.location;
        operands[depth - 1] = target;
      } else {
        if (!add_operation(loop,
                           {NodeKind::Assign, 0, source.location, nullptr, target.location})) {
          return false;
        }
        operands[depth - 1] = source;
      }
    } else {
      std::int32_t* out = new_value(loop, 0);
      if (out == nullptr) return false;
      Operand right = is_binary_operator(kind) ? operands[--depth] : Operand{nullptr, false};
      Operand left = operands[depth - 1];
      if (!add_operation(loop, {kind, 0, left.location, right.location, out})) return false;
      operands[depth - 1] = {out, false};
    }
  }
  loop->stretches[loop->stretch_count++] = {first, last, loop->operation_count,
                                            operands[0].location};
  return true;
}

bool compile_loop(CallContext* context, const LoopShape& shape, CompiledLoop* loop) {
  loop->operation_count = 0;
  loop->value_count = 0;
  loop->stretch_count = 0;
  for (ValueNode*& variable : loop->variables)
    variable = nullptr;
  if (!compile_stretch(context, loop, shape.condition)) return false;
  for (SyntaxNode* statement = shape.statements; statement != nullptr;
       statement = statement->next) {
    if (statement->kind == NodeKind::Semicolon) continue;
    if (!compile_stretch(context, loop, statement)) return false;
    statement = loop->stretches[loop->stretch_count - 1].last->next;  // its ";"
  }
  loop->step_index = loop->stretch_count;
  return shape.step == nullptr || compile_stretch(context, loop, shape.step);
}

// False when an operation cannot compute (a division by zero): nothing of the stretch was written.
bool run_operations(const LoopOperation* operation, const LoopOperation* end) {
  for (; operation != end; ++operation) {
    switch (operation->kind) {
      case NodeKind::Assign:
        *operation->out = *operation->left;
        break;
      case NodeKind::PostIncrement:
        *operation->out = static_cast<std::int32_t>(static_cast<std::uint32_t>(*operation->out) +
                                                    static_cast<std::uint32_t>(operation->delta));
        break;
      case NodeKind::Not:
      case NodeKind::Complement:
      case NodeKind::Plus:
      case NodeKind::Negate:
        *operation->out = apply_pure_unary(operation->kind, *operation->left);
        break;
      default:
        if (!apply_number_operator(operation->kind, *operation->left, *operation->right,
                                   operation->out)) {
          return false;
        }
        break;
    }
  }
  return true;
}

}  // namespace

LoopShape loop_shape(SyntaxNode* top) {
  LoopShape shape{};
  shape.top = top;
  shape.condition = top->next;
  shape.loop = after_stretch(shape.condition);
  shape.statements = loop_statements(shape.loop);
  shape.in_braces = shape.statements != shape.loop->body;
  shape.exit = shape.loop->next;
  shape.step = shape.exit->next->kind == NodeKind::Jump ? nullptr : shape.exit->next;
  return shape;
}

CompiledRun run_compiled_loop(CallContext* context, const LoopShape& shape,
                              SyntaxNode** handed_over) {
  CompiledLoop loop;
  if (!compile_loop(context, shape, &loop)) return CompiledRun::NotCompiled;
  const CompiledStretch* stretches = loop.stretches;
  for (;;) {
    if (stop_requested()) return CompiledRun::Stopped;
    const LoopOperation* operation = loop.operations;
    for (std::int32_t i = 0; i < loop.stretch_count; ++i) {
      if (i == loop.step_index) count_loop_pass();
      const LoopOperation* end = loop.operations + stretches[i].end;
      if (!run_operations(operation, end)) {
        *handed_over = stretches[i].first;
        return CompiledRun::HandedOver;
      }
      operation = end;
      if (i == 0 && *stretches[0].result == 0) {
        context->position = stretches[0].last->source;
        return CompiledRun::Ended;
      }
    }
    if (loop.step_index == loop.stretch_count) count_loop_pass();
  }
}
