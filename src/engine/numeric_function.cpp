#include "engine/numeric_function.h"

#include <atomic>
#include <cstring>

#include "base/syntax_node.h"
#include "engine/call.h"
#include "engine/engine.h"
#include "engine/number_ops.h"
#include "engine/script.h"
#include "engine/value_stack.h"
#include "platform/memory.h"

namespace {

constexpr std::int32_t kMaxInstructions = 256;
constexpr std::int32_t kMaxParameters = 8;
constexpr std::int32_t kMaxHeight = 32;   // values on the stack of one call
constexpr std::int32_t kMaxNesting = 16;  // open calls and blocks of one call

enum class Op : std::int32_t {
  Nothing,
  Parameter,   // push parameter `operand`
  Number,      // push `operand`
  Binary,      // `kind` on the top two
  Unary,       // `kind` on the top one
  Clear,       // a statement's end: back to the block's base
  Jump,        // on at `operand`
  SkipIfTrue,  // pop; when true (or nothing there), skip the next instruction
  Comma,       // between values: nothing, as long as one is there
  CallStart,   // remember where the arguments begin
  Call,        // call `callee` with the values since the CallStart
  Return,      // the top value (or 0) is the result
  BlockStart,  // a braced body: its statements clear back to here
  BlockEnd,
};

struct Instruction {
  Op op;
  NodeKind kind;
  std::int32_t operand;
  FunctionEntry* callee;
};

struct NumericFunction {
  Instruction code[kMaxInstructions];
  std::int32_t count;
  std::int32_t parameter_count;
  Script* module;
  std::atomic<bool> disabled;  // a callee turned out to be of another kind
};

// What the entry's `numeric` holds when the function is of another kind.
NumericFunction* const kNotNumeric = reinterpret_cast<NumericFunction*>(std::uintptr_t{1});

struct Compiler {
  NumericFunction* function;
  const char* parameters[kMaxParameters];
  SyntaxNode* nodes[kMaxInstructions];  // the node of each instruction
};

bool emit(Compiler* compiler, SyntaxNode* node, Op op, std::int32_t operand = 0) {
  NumericFunction* function = compiler->function;
  if (function->count == kMaxInstructions) return false;
  compiler->nodes[function->count] = node;
  function->code[function->count++] = {op, node != nullptr ? node->kind : NodeKind::None, operand,
                                       nullptr};
  return true;
}

std::int32_t parameter_index(const Compiler* compiler, const char* name) {
  for (std::int32_t i = 0; i < compiler->function->parameter_count; ++i) {
    if (std::strcmp(compiler->parameters[i], name) == 0) return i;
  }
  return -1;
}

bool compile_list(Compiler* compiler, SyntaxNode* list) {
  for (SyntaxNode* node = list; node != nullptr; node = node->next) {
    NodeKind kind = node->kind;
    bool ok = true;
    if (is_binary_operator(kind)) {
      ok = emit(compiler, node, Op::Binary);
    } else if (kind == NodeKind::Not || kind == NodeKind::Complement || kind == NodeKind::Plus ||
               kind == NodeKind::Negate) {
      ok = emit(compiler, node, Op::Unary);
    } else {
      switch (kind) {
        case NodeKind::Name: {
          std::int32_t index = node->text != nullptr ? parameter_index(compiler, node->text) : -1;
          ok = index >= 0 && emit(compiler, node, Op::Parameter, index);
          break;
        }
        case NodeKind::Number:
          ok = emit(compiler, node, Op::Number, node->number);
          break;
        case NodeKind::Semicolon:
          ok = emit(compiler, node, Op::Clear);
          break;
        case NodeKind::Jump:
        case NodeKind::SkipIfTrue:
          // Jump targets are filled in once every node has its instruction.
          ok = emit(compiler, node, kind == NodeKind::Jump ? Op::Jump : Op::SkipIfTrue);
          break;
        case NodeKind::Else:
        case NodeKind::EndIf:
        case NodeKind::ApplyPostfix:  // no updates can be pending: nothing changes a variable
          ok = emit(compiler, node, Op::Nothing);
          break;
        case NodeKind::Comma:
          // Between arguments it does nothing; an empty argument would be a 0: not here.
          ok = node->next != nullptr && node->next->kind != NodeKind::Comma &&
               emit(compiler, node, Op::Comma);
          break;
        case NodeKind::CallStart:
          ok = emit(compiler, node, Op::CallStart);
          break;
        case NodeKind::Call: {
          // A plain name of a user function of the same module, found as the call would find it.
          const char* name = node->text;
          FunctionEntry* callee = nullptr;
          if (name != nullptr && std::strchr(name, '.') == nullptr && name[0] != '&' &&
              std::strcmp(name, "?") != 0) {
            callee = find_function(compiler->function->module, name);
          }
          ok = callee != nullptr && callee->definition != nullptr &&
               callee->definition->kind == NodeKind::Function && emit(compiler, node, Op::Call);
          if (ok) compiler->function->code[compiler->function->count - 1].callee = callee;
          break;
        }
        case NodeKind::Return:
          ok = emit(compiler, node, Op::Return);
          break;
        case NodeKind::Block:
          // A braced statement; the block's own frame would stay empty.
          ok = emit(compiler, node, Op::BlockStart) && compile_list(compiler, node->body) &&
               emit(compiler, nullptr, Op::BlockEnd);
          break;
        default:
          ok = false;
          break;
      }
    }
    if (!ok) return false;
  }
  return true;
}

// A jump continues after its target node: at the instruction that follows the target's own.
bool resolve_jumps(Compiler* compiler) {
  NumericFunction* function = compiler->function;
  for (std::int32_t i = 0; i < function->count; ++i) {
    Instruction& instruction = function->code[i];
    if (instruction.op == Op::SkipIfTrue) {
      // It skips the next node, which must be the next instruction.
      if (i + 1 >= function->count || compiler->nodes[i + 1] == nullptr ||
          compiler->nodes[i + 1] != compiler->nodes[i]->next) {
        return false;
      }
    }
    if (instruction.op != Op::Jump) continue;
    SyntaxNode* target = compiler->nodes[i]->target;
    instruction.operand = -1;
    for (std::int32_t j = 0; j < function->count; ++j) {
      if (compiler->nodes[j] == target) instruction.operand = j + 1;
    }
    if (instruction.operand < 0) return false;
  }
  return true;
}

// The compiled form of the definition, or null when the function is of another kind.
NumericFunction* compile_function(Script* module, FunctionEntry* entry) {
  SyntaxNode* head = entry->definition;
  if (head == nullptr || head->kind != NodeKind::Function) return nullptr;
  auto* function = alloc_record<NumericFunction>();
  if (function == nullptr) return nullptr;
  function->module = module;
  Compiler compiler{};
  compiler.function = function;
  // Parameters: plain names only, each once, then the Call node that holds the body.
  SyntaxNode* node = head->next;
  for (; node != nullptr && node->kind == NodeKind::DeclareName; node = node->next) {
    const char* name = node->text;
    // `arg` is the frame's list of arguments, whatever a parameter is called.
    if (name == nullptr || name[0] == '&' || std::strcmp(name, "arg") == 0 ||
        function->parameter_count == kMaxParameters || parameter_index(&compiler, name) >= 0) {
      release(&function);
      return nullptr;
    }
    compiler.parameters[function->parameter_count++] = name;
    if (node->next != nullptr && node->next->kind == NodeKind::Comma) node = node->next;
  }
  bool ok = node != nullptr && node->kind == NodeKind::Call && node->next != nullptr &&
            node->next->kind == NodeKind::FunctionEnd && compile_list(&compiler, node->body) &&
            resolve_jumps(&compiler);
  if (!ok) release(&function);
  return function;
}

NumericFunction* numeric_form(Script* module, FunctionEntry* entry) {
  std::atomic_ref<void*> slot(entry->numeric);
  void* known = slot.load(std::memory_order_acquire);
  if (known != nullptr) return static_cast<NumericFunction*>(known);
  NumericFunction* made = compile_function(module, entry);
  void* published = made != nullptr ? made : kNotNumeric;
  if (!slot.compare_exchange_strong(known, published, std::memory_order_acq_rel)) {
    release(&made);  // another thread was first
    return static_cast<NumericFunction*>(known);
  }
  return static_cast<NumericFunction*>(published);
}

enum class Outcome { Done, NotNumeric, Failed };

// A call returns by failing over to the general evaluator: these nest no deeper than it would.
// Aligned to a cache line, so that where its branches fall does not move with unrelated code.
[[gnu::aligned(64)]] Outcome run(NumericFunction* function, const std::int32_t* parameters,
                                 std::int32_t depth, std::int32_t* result) {
  if (stop_requested() || call_too_deep(depth)) return Outcome::Failed;
  std::int32_t values[kMaxHeight];
  std::int32_t height = 0;
  std::int32_t bases[kMaxNesting];  // of the open blocks
  std::int32_t block_depth = 0;
  std::int32_t base = 0;
  std::int32_t marks[kMaxNesting];  // of the open calls
  std::int32_t open_calls = 0;
  // Operators take nothing from below the block's base or the latest call's arguments.
  std::int32_t floor = 0;
  const Instruction* code = function->code;
  for (std::int32_t pc = 0; pc < function->count; ++pc) {
    const Instruction& instruction = code[pc];
    switch (instruction.op) {
      case Op::Nothing:
        break;
      case Op::Parameter:
      case Op::Number:
        if (height == kMaxHeight) return Outcome::NotNumeric;
        values[height++] =
            instruction.op == Op::Number ? instruction.operand : parameters[instruction.operand];
        break;
      case Op::Binary:
        if (height - floor < 2) return Outcome::NotNumeric;
        if (!apply_number_operator(instruction.kind, values[height - 2], values[height - 1],
                                   &values[height - 2])) {
          return Outcome::Failed;
        }
        --height;
        break;
      case Op::Unary:
        if (height == floor) return Outcome::NotNumeric;
        values[height - 1] = apply_pure_unary(instruction.kind, values[height - 1]);
        break;
      case Op::Clear:
        if (open_calls != 0) return Outcome::NotNumeric;
        height = base;
        break;
      case Op::Jump:
        pc = instruction.operand - 1;
        break;
      case Op::SkipIfTrue: {
        bool skip = height == floor || values[--height] != 0;
        if (skip) ++pc;
        break;
      }
      case Op::Comma:
        if (height == floor) return Outcome::NotNumeric;
        break;
      case Op::CallStart:
        if (open_calls == kMaxNesting) return Outcome::NotNumeric;
        marks[open_calls++] = height;
        floor = height;
        break;
      case Op::Call: {
        if (open_calls == 0) return Outcome::NotNumeric;
        std::int32_t mark = marks[--open_calls];
        floor = open_calls > 0 && marks[open_calls - 1] > base ? marks[open_calls - 1] : base;
        NumericFunction* callee = numeric_form(function->module, instruction.callee);
        if (callee == kNotNumeric || callee == nullptr ||
            callee->disabled.load(std::memory_order_relaxed) ||
            height - mark < callee->parameter_count) {
          return Outcome::NotNumeric;
        }
        std::int32_t value = 0;
        Outcome outcome = run(callee, values + mark, depth + 1, &value);
        if (outcome != Outcome::Done) return outcome;
        height = mark;
        values[height++] = value;
        break;
      }
      case Op::Return:
        *result = height > floor ? values[height - 1] : 0;
        return Outcome::Done;
      case Op::BlockStart:
        if (block_depth == kMaxNesting) return Outcome::NotNumeric;
        bases[block_depth++] = base;
        base = height;
        floor = base;
        break;
      case Op::BlockEnd:
        // Values left in a block would make it a list: not a number.
        if (height != base || open_calls != 0) return Outcome::NotNumeric;
        base = bases[--block_depth];
        floor = open_calls > 0 && marks[open_calls - 1] > base ? marks[open_calls - 1] : base;
        break;
    }
  }
  *result = 0;
  return Outcome::Done;
}

}  // namespace

bool has_numeric_form(Script* module, FunctionEntry* entry) {
  NumericFunction* function = numeric_form(module, entry);
  return function != kNotNumeric && function != nullptr &&
         !function->disabled.load(std::memory_order_relaxed);
}

NumericCall run_numeric_call(Script* module, FunctionEntry* entry, ValueNode* arguments,
                             std::int32_t* result) {
  NumericFunction* function = numeric_form(module, entry);
  if (function == kNotNumeric || function == nullptr ||
      function->disabled.load(std::memory_order_relaxed)) {
    return NumericCall::NotNumeric;
  }
  std::int32_t parameters[kMaxParameters];
  std::int32_t count = 0;
  for (ValueNode* argument = arguments; argument != nullptr && count < function->parameter_count;
       argument = argument->next) {
    ScalarSnapshot scalar = read_scalar(argument->value);
    if (scalar.is_string || elements_of(argument) != nullptr) return NumericCall::NotNumeric;
    parameters[count++] = scalar.number;
  }
  // Missing arguments would take their defaults.
  if (count < function->parameter_count) return NumericCall::NotNumeric;
  switch (run(function, parameters, 1, result)) {
    case Outcome::Done:
      return NumericCall::Done;
    case Outcome::NotNumeric:
      function->disabled.store(true, std::memory_order_relaxed);
      return NumericCall::NotNumeric;
    case Outcome::Failed:
      break;
  }
  return NumericCall::Failed;
}

void release_numeric_function(FunctionEntry* entry) {
  auto* function = static_cast<NumericFunction*>(entry->numeric);
  if (function != kNotNumeric) release(&function);
  entry->numeric = nullptr;
}

void keep_general(FunctionEntry* entry) {
  auto* function = static_cast<NumericFunction*>(entry->numeric);
  if (function == nullptr) {
    entry->numeric = kNotNumeric;
  } else if (function != kNotNumeric) {
    function->disabled.store(true, std::memory_order_relaxed);
  }
}
