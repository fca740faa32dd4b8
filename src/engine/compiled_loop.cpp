#include "engine/compiled_loop.h"

#include "base/syntax_node.h"
#include "engine/engine.h"
#include "engine/evaluate.h"
#include "engine/number_ops.h"
#include "engine/script.h"
#include "engine/simple_run.h"
#include "frontend/simple_sequence.h"

namespace {

constexpr std::int32_t kMaxOperations = 96;
constexpr std::int32_t kMaxConstants = 96;

// The steps of a pass, in order: the condition's operations and its test, the body's, the count of
// the pass, the step's, and the way back.
enum class Step : std::uint8_t {
  // out = left <operator> right
  LogicalAnd,
  LogicalOr,
  Less,
  LessEqual,
  Greater,
  GreaterEqual,
  Equal,
  NotEqual,
  BitAnd,
  BitOr,
  BitXor,
  ShiftLeft,
  ShiftRight,
  Add,
  Subtract,
  Multiply,
  Divide,
  Modulo,
  // out = <operator> left
  Not,
  Complement,
  Negate,
  Copy,
  Update,          // out += delta: a postfix update applied
  ExitIfZero,      // the condition's value is left: the loop ends when it is 0
  ExitUnlessLess,  // the condition is a comparison of left and right: the loop ends when it fails
  ExitUnlessLessEqual,
  ExitUnlessGreater,
  ExitUnlessGreaterEqual,
  ExitUnlessEqual,
  ExitUnlessNotEqual,
  CountPass,
  Back,
};

struct LoopOperation {
  Step step;
  std::int32_t delta;
  const std::int32_t* left;
  const std::int32_t* right;
  std::int32_t* out;
  SyntaxNode* stretch;  // the first node of the stretch it belongs to
};

struct CompiledLoop {
  LoopOperation operations[kMaxOperations];
  std::int32_t values[kMaxConstants];  // constants and intermediate results
  ValueNode* variables[kSimpleLoopNames];
  std::int32_t operation_count;
  std::int32_t value_count;
  SyntaxNode* condition_end;  // the last node of the condition
};

// The step of an operator node; Copy for one that passes its operand on.
Step step_of(NodeKind kind) {
  switch (kind) {
    case NodeKind::LogicalAnd:
      return Step::LogicalAnd;
    case NodeKind::LogicalOr:
      return Step::LogicalOr;
    case NodeKind::Less:
      return Step::Less;
    case NodeKind::LessEqual:
      return Step::LessEqual;
    case NodeKind::Greater:
      return Step::Greater;
    case NodeKind::GreaterEqual:
      return Step::GreaterEqual;
    case NodeKind::Equal:
    case NodeKind::Match:  // on two numbers, as Equal
      return Step::Equal;
    case NodeKind::NotEqual:
      return Step::NotEqual;
    case NodeKind::BitAnd:
      return Step::BitAnd;
    case NodeKind::BitOr:
      return Step::BitOr;
    case NodeKind::BitXor:
      return Step::BitXor;
    case NodeKind::ShiftLeft:
      return Step::ShiftLeft;
    case NodeKind::ShiftRight:
      return Step::ShiftRight;
    case NodeKind::Add:
      return Step::Add;
    case NodeKind::Subtract:
      return Step::Subtract;
    case NodeKind::Multiply:
      return Step::Multiply;
    case NodeKind::Divide:
      return Step::Divide;
    case NodeKind::Modulo:
      return Step::Modulo;
    case NodeKind::Not:
      return Step::Not;
    case NodeKind::Complement:
      return Step::Complement;
    case NodeKind::Negate:
      return Step::Negate;
    default:
      return Step::Copy;
  }
}

// The number a Name stands for, when its variable exists and is a plain local number.
std::int32_t* variable_number(CallContext* context, CompiledLoop* loop, const SyntaxNode* name) {
  ValueNode*& variable = loop->variables[name->simple_slot - 1];
  if (variable == nullptr) {
    variable = find_stretch_name(context, name);
    if (variable == nullptr) return nullptr;
  }
  Value* value = variable->value;
  if (is_shared_value(value) || value->is_string) return nullptr;
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
// *result is where the stretch's value is, right after it; *last its last node.
bool compile_stretch(CallContext* context, CompiledLoop* loop, SyntaxNode* first,
                     const std::int32_t** result, SyntaxNode** last) {
  Operand operands[kSimpleDepthLimit];
  Operand updates[kSimpleUpdateLimit];
  std::int32_t deltas[kSimpleUpdateLimit];
  std::int32_t depth = 0;
  std::int32_t update_count = 0;
  std::int32_t stretch_start = loop->operation_count;
  SyntaxNode* node = first;
  for (std::int32_t step = 0; step < first->simple_length; ++step, node = node->next) {
    *last = node;
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
        if (!add_operation(
                loop, {Step::Update, deltas[i], nullptr, nullptr, updates[i].location, first})) {
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
                           {Step::Copy, 0, source.location, nullptr, target.location, first})) {
          return false;
        }
        operands[depth - 1] = source;
      }
    } else {
      std::int32_t* out = new_value(loop, 0);
      if (out == nullptr) return false;
      Operand right = is_binary_operator(kind) ? operands[--depth] : Operand{nullptr, false};
      Operand left = operands[depth - 1];
      if (!add_operation(loop, {step_of(kind), 0, left.location, right.location, out, first}))
        return false;
      operands[depth - 1] = {out, false};
    }
  }
  *result = operands[0].location;
  return true;
}

// The test that ends the loop, from the condition's value. A comparison made just for the test
// becomes the test itself.
bool add_test(CompiledLoop* loop, const std::int32_t* value, std::int32_t condition_start,
              SyntaxNode* condition) {
  LoopOperation* last = loop->operation_count > condition_start
                            ? &loop->operations[loop->operation_count - 1]
                            : nullptr;
  bool made_for_test = value >= loop->values && value < loop->values + kMaxConstants;
  if (last != nullptr && last->out == value && made_for_test && last->step >= Step::Less &&
      last->step <= Step::NotEqual) {
    static constexpr Step kTests[] = {Step::ExitUnlessLess,    Step::ExitUnlessLessEqual,
                                      Step::ExitUnlessGreater, Step::ExitUnlessGreaterEqual,
                                      Step::ExitUnlessEqual,   Step::ExitUnlessNotEqual};
    last->step = kTests[static_cast<int>(last->step) - static_cast<int>(Step::Less)];
    return true;
  }
  return add_operation(loop, {Step::ExitIfZero, 0, value, nullptr, nullptr, condition});
}

bool compile_loop(CallContext* context, const LoopShape& shape, CompiledLoop* loop) {
  loop->operation_count = 0;
  loop->value_count = 0;
  for (ValueNode*& variable : loop->variables)
    variable = nullptr;
  const std::int32_t* value = nullptr;
  SyntaxNode* last = nullptr;
  if (!compile_stretch(context, loop, shape.condition, &value, &loop->condition_end) ||
      !add_test(loop, value, 0, shape.condition)) {
    return false;
  }
  for (SyntaxNode* statement = shape.statements; statement != nullptr;
       statement = statement->next) {
    if (statement->kind == NodeKind::Semicolon) continue;
    if (!compile_stretch(context, loop, statement, &value, &last)) return false;
    statement = last->next;  // its ";"
  }
  if (!add_operation(loop, {Step::CountPass, 0, nullptr, nullptr, nullptr, nullptr})) return false;
  if (shape.step != nullptr && !compile_stretch(context, loop, shape.step, &value, &last))
    return false;
  return add_operation(loop, {Step::Back, 0, nullptr, nullptr, nullptr, nullptr});
}

// out = left <K> right, as the general evaluator computes it.
template <NodeKind K>
void compute(const LoopOperation* operation) {
  apply_number_operator(K, *operation->left, *operation->right, operation->out);
}

// Whether left <K> right holds.
template <NodeKind K>
bool holds(const LoopOperation* operation) {
  std::int32_t value = 0;
  apply_number_operator(K, *operation->left, *operation->right, &value);
  return value != 0;
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
  for (;;) {
    if (stop_requested()) return CompiledRun::Stopped;
    for (const LoopOperation* operation = loop.operations;; ++operation) {
      bool ends = false;
      switch (operation->step) {
        case Step::LogicalAnd:
          compute<NodeKind::LogicalAnd>(operation);
          continue;
        case Step::LogicalOr:
          compute<NodeKind::LogicalOr>(operation);
          continue;
        case Step::Less:
          compute<NodeKind::Less>(operation);
          continue;
        case Step::LessEqual:
          compute<NodeKind::LessEqual>(operation);
          continue;
        case Step::Greater:
          compute<NodeKind::Greater>(operation);
          continue;
        case Step::GreaterEqual:
          compute<NodeKind::GreaterEqual>(operation);
          continue;
        case Step::Equal:
          compute<NodeKind::Equal>(operation);
          continue;
        case Step::NotEqual:
          compute<NodeKind::NotEqual>(operation);
          continue;
        case Step::BitAnd:
          compute<NodeKind::BitAnd>(operation);
          continue;
        case Step::BitOr:
          compute<NodeKind::BitOr>(operation);
          continue;
        case Step::BitXor:
          compute<NodeKind::BitXor>(operation);
          continue;
        case Step::ShiftLeft:
          compute<NodeKind::ShiftLeft>(operation);
          continue;
        case Step::ShiftRight:
          compute<NodeKind::ShiftRight>(operation);
          continue;
        case Step::Add:
          compute<NodeKind::Add>(operation);
          continue;
        case Step::Subtract:
          compute<NodeKind::Subtract>(operation);
          continue;
        case Step::Multiply:
          compute<NodeKind::Multiply>(operation);
          continue;
        case Step::Divide:
        case Step::Modulo:
          // A division by zero is the general evaluator's to report; nothing of the stretch has
          // been written yet (its assignment and updates come last).
          if (!apply_number_operator(
                  operation->step == Step::Divide ? NodeKind::Divide : NodeKind::Modulo,
                  *operation->left, *operation->right, operation->out)) {
            *handed_over = operation->stretch;
            return CompiledRun::HandedOver;
          }
          continue;
        case Step::Not:
          *operation->out = apply_pure_unary(NodeKind::Not, *operation->left);
          continue;
        case Step::Complement:
          *operation->out = apply_pure_unary(NodeKind::Complement, *operation->left);
          continue;
        case Step::Negate:
          *operation->out = apply_pure_unary(NodeKind::Negate, *operation->left);
          continue;
        case Step::Copy:
          *operation->out = *operation->left;
          continue;
        case Step::Update:
          *operation->out = static_cast<std::int32_t>(static_cast<std::uint32_t>(*operation->out) +
                                                      static_cast<std::uint32_t>(operation->delta));
          continue;
        case Step::ExitIfZero:
          ends = *operation->left == 0;
          break;
        case Step::ExitUnlessLess:
          ends = !holds<NodeKind::Less>(operation);
          break;
        case Step::ExitUnlessLessEqual:
          ends = !holds<NodeKind::LessEqual>(operation);
          break;
        case Step::ExitUnlessGreater:
          ends = !holds<NodeKind::Greater>(operation);
          break;
        case Step::ExitUnlessGreaterEqual:
          ends = !holds<NodeKind::GreaterEqual>(operation);
          break;
        case Step::ExitUnlessEqual:
          ends = !holds<NodeKind::Equal>(operation);
          break;
        case Step::ExitUnlessNotEqual:
          ends = !holds<NodeKind::NotEqual>(operation);
          break;
        case Step::CountPass:
          count_step();
          continue;
        case Step::Back:
          break;
      }
      if (ends) {
        context->position = loop.condition_end->source;
        return CompiledRun::Ended;
      }
      if (operation->step == Step::Back) break;
    }
  }
}
