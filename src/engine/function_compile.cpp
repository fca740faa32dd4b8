#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/call.h"
#include "engine/cells.h"
#include "engine/context_parse.h"
#include "engine/evaluate.h"
#include "engine/function_code.h"
#include "engine/name_table.h"
#include "engine/operators.h"
#include "engine/script.h"
#include "platform/memory.h"
#include "regex/match.h"
#include "regex/pattern.h"

namespace {

using namespace compiled_body;

CompiledFunction* const kNotCompiled = reinterpret_cast<CompiledFunction*>(std::uintptr_t{1});

// The slots whose binding the compiler follows (see Compiler::bound); later ones count as unbound.
constexpr std::int32_t kBoundSlots = 256;

struct Compiler {
  CompiledFunction* function;
  std::int32_t open_calls;     // calls begun and not yet ended, at the instruction emitted last
  std::int32_t pending_steps;  // postfix steps since the last statement end
  std::int32_t declarations;   // `var` names
  // Compiling the parameters' defaults, which run in the binding mode: names parsed then (a
  // literal's parts) are declarations.
  bool binding;
  // The statement whose code could not be made, when that was not for want of memory.
  SyntaxNode* refused;
  // Each node compiled, with its first instruction and the one after its last: where a jump to
  // it, or past it, goes.
  struct NodeMark {
    SyntaxNode* node;
    std::int32_t first;
    std::int32_t end;
  };
  NodeMark* marks;
  std::int32_t mark_count;
  std::int32_t mark_capacity;
  // The first mark of each node, by the node's address (open addressing): mark number + 1, 0
  // where free. A jump finds its target without a walk over all the marks.
  std::int32_t* mark_index;
  std::uint32_t mark_index_mask;  // its size - 1, a power of two; 0 before it is made
  // Where values are gathered (braces, a label, a literal's part): built-ins see the names of the
  // variables they are given, and an assignment whose value goes on names it after its target.
  bool collecting;
  // The open scopes, and the loops around the node now compiled: each with the scopes open
  // outside its body and the jumps of its `continue`s, which go to its pass's end.
  std::int32_t depth;
  // The open ListStarts and framed switches: values kept apart from those before them.
  std::int32_t frames;
  // An earlier statement may have left values above the innermost frame's start: they are kept
  // apart from the statements of a loop, a switch or braces that follow, which then keep theirs
  // apart too.
  bool strays;
  struct OpenLoop {
    SyntaxNode* loop;  // or a Switch, which a `break` leaves too
    std::int32_t depth;
    std::int32_t frames;          // open outside it (its own pass's or statements' frame is not)
    std::int32_t first_continue;  // its continues' jumps are among those from here on
  };
  OpenLoop* loops;
  std::int32_t loop_count;
  std::int32_t loop_capacity;
  // The jumps of the `continue`s of the open loops: each with the loop it continues.
  struct Continue {
    std::int32_t loop;
    std::int32_t jump;
  };
  Continue* continues;
  std::int32_t continue_count;
  std::int32_t continue_capacity;
  // The most that the code's tables need at once (see TableSizes).
  std::int32_t most_calls;
  std::int32_t most_steps;
  std::int32_t most_depth;
  // The node now compiled starts a list, or follows a statement's end or the jump of an if's
  // branch (reached only once the condition is taken): nothing waits on the stack there.
  bool after_statement;
  // The slots whose names every run has found or declared in the function's own scope before any
  // braces open (see note_bound_prefix): braces that name no others declare nothing.
  std::uint64_t bound[kBoundSlots / 64];
};

// Makes room for one more item in a growable array of the compiler's; false when memory ran out.
template <typename T>
bool room_for_one(T** items, std::int32_t count, std::int32_t* capacity) {
  if (count < *capacity) return true;
  const std::int32_t grown_capacity = *capacity == 0 ? 16 : *capacity * 2;
  auto* grown = static_cast<T*>(alloc_block(sizeof(T) * grown_capacity));
  if (grown == nullptr) return false;
  if (count > 0) std::memcpy(static_cast<void*>(grown), *items, sizeof(T) * count);
  release(items);
  *items = grown;
  *capacity = grown_capacity;
  return true;
}

// Notes what the code's tables need once it is compiled.
void settle_table_sizes(CompiledFunction* function) {
  const TableSizes& sizes = function->table_sizes;
  function->large_tables =
      sizes.declared > kInlineTables.declared || sizes.scopes > kInlineTables.scopes ||
      sizes.pending > kInlineTables.pending || sizes.calls > kInlineTables.calls;
}

void release_compiler(Compiler* compiler) {
  release(&compiler->marks);
  release(&compiler->mark_index);
  release(&compiler->loops);
  release(&compiler->continues);
}

bool emit(Compiler* compiler, Op op, std::int32_t a, SyntaxNode* node) {
  CompiledFunction* function = compiler->function;
  if (function->count == function->capacity) {
    std::int32_t capacity = function->capacity == 0 ? 64 : function->capacity * 2;
    auto* grown = static_cast<Instruction*>(alloc_block(sizeof(Instruction) * capacity));
    if (grown == nullptr) return false;
    if (function->count > 0)
      std::memcpy(grown, function->code, sizeof(Instruction) * function->count);
    release(&function->code);
    function->code = grown;
    function->capacity = capacity;
  }
  Instruction& in = function->code[function->count++];
  in = Instruction{};
  in.op = op;
  in.a = a;
  in.node = node;
  switch (op) {
    case Op::CallStart:
      compiler->most_calls = std::max(compiler->most_calls, ++compiler->open_calls);
      return true;
    case Op::Call:
      --compiler->open_calls;
      return true;
    case Op::PostStep:
    case Op::StepClear:
      compiler->most_steps = std::max(compiler->most_steps, ++compiler->pending_steps);
      return true;
    case Op::Clear:
    case Op::AssignClear:
    case Op::AssignOf:
    case Op::AssignValue:
      compiler->pending_steps = 0;
      return true;
    case Op::EnterScope:
    case Op::LeaveScope:
      compiler->most_depth = std::max(compiler->most_depth, a);
      return true;
    case Op::Declare:
      ++compiler->declarations;
      return true;
    default:
      return true;
  }
}

// A name of the function's own code that has its slot, not `arg`. A qualified name finds a local
// of its own name first, as any other, and a declaration of one makes such a local. `&name`, read
// or declared, stands for `name`.
bool is_slot_name(const SyntaxNode* node, const NameTable* table) {
  return node->name_table == table && node->number != kArgNameHash;
}

// `arg` read by the function's own code: the call's arguments, which the lookup by name makes into
// a variable of the frame the first time.
bool is_arg_name(const SyntaxNode* node, const NameTable* table) {
  return node->name_table == table && node->number == kArgNameHash && node->text != nullptr &&
         same_name(node->text, "arg");
}

// What code that makes one value may hold (see makes_one_value).
enum class Holds { Pure, Effects, Declarations };

bool is_operand(const SyntaxNode* node, const NameTable* table) {
  if (node == nullptr) return false;
  if (node->kind == NodeKind::Number) return true;
  return node->kind == NodeKind::Name && is_slot_name(node, table);
}

std::uint32_t mark_slot(const SyntaxNode* node, std::uint32_t mask) {
  auto bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(node));
  return static_cast<std::uint32_t>((bits * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

// Where the index has the node's first mark, or the free place where it would go.
std::int32_t* find_mark(const Compiler* compiler, const SyntaxNode* node) {
  for (std::uint32_t slot = mark_slot(node, compiler->mark_index_mask);;
       slot = (slot + 1) & compiler->mark_index_mask) {
    std::int32_t* entry = &compiler->mark_index[slot];
    if (*entry == 0 || compiler->marks[*entry - 1].node == node) return entry;
  }
}

// Takes the newest mark into the index (unless its node has one already), making the index
// larger as the marks grow. False when memory ran out.
bool index_mark(Compiler* compiler) {
  if (static_cast<std::uint32_t>(compiler->mark_count) * 2 > compiler->mark_index_mask) {
    std::uint32_t size = compiler->mark_index_mask == 0 ? 256 : (compiler->mark_index_mask + 1) * 2;
    auto* index = static_cast<std::int32_t*>(alloc_zeroed(sizeof(std::int32_t) * size));
    if (index == nullptr) return false;
    release(&compiler->mark_index);
    compiler->mark_index = index;
    compiler->mark_index_mask = size - 1;
    for (std::int32_t i = 0; i + 1 < compiler->mark_count; ++i) {
      std::int32_t* entry = find_mark(compiler, compiler->marks[i].node);
      if (*entry == 0) *entry = i + 1;
    }
  }
  std::int32_t* entry = find_mark(compiler, compiler->marks[compiler->mark_count - 1].node);
  if (*entry == 0) *entry = compiler->mark_count;
  return true;
}

bool note_node(Compiler* compiler, SyntaxNode* node) {
  if (compiler->mark_count == compiler->mark_capacity) {
    std::int32_t capacity = compiler->mark_capacity == 0 ? 64 : compiler->mark_capacity * 2;
    auto* marks =
        static_cast<Compiler::NodeMark*>(alloc_block(sizeof(Compiler::NodeMark) * capacity));
    if (marks == nullptr) return false;
    if (compiler->mark_count > 0)
      std::memcpy(marks, compiler->marks, sizeof(Compiler::NodeMark) * compiler->mark_count);
    release(&compiler->marks);
    compiler->marks = marks;
    compiler->mark_capacity = capacity;
  }
  compiler->marks[compiler->mark_count++] = {node, compiler->function->count, -1};
  return index_mark(compiler);
}

std::int32_t index_of(const Compiler* compiler, const SyntaxNode* node, bool after) {
  if (compiler->mark_index_mask == 0) return -1;
  std::int32_t found = *find_mark(compiler, node);
  if (found == 0) return -1;
  const Compiler::NodeMark& mark = compiler->marks[found - 1];
  return after ? mark.end : mark.first;
}

// Whether a list's last statement ends with a semicolon (or is a label), is an if, a loop or a
// switch (whose parts the compiler takes only when they leave none), is braces whose list leaves
// none, or leaves the list as a return, an exit, a break or a continue does: then the list leaves
// no value.
bool leaves_no_value(const SyntaxNode* list) {
  if (list == nullptr) return true;  // empty braces
  const SyntaxNode* last = list;
  while (last != nullptr && last->next != nullptr)
    last = last->next;
  if (last != nullptr && last->kind == NodeKind::Block) return leaves_no_value(last->body);
  return last != nullptr && (last->kind == NodeKind::Semicolon || last->kind == NodeKind::Colon ||
                             last->kind == NodeKind::EndIf || last->kind == NodeKind::LoopEnd ||
                             last->kind == NodeKind::Switch || last->kind == NodeKind::Return ||
                             last->kind == NodeKind::Exit || last->kind == NodeKind::Break ||
                             last->kind == NodeKind::Continue);
}

bool ends_statement(const SyntaxNode* node);

// The last statement of a list: what follows its last statement end (null when it ends with one).
const SyntaxNode* last_statement(const SyntaxNode* list) {
  const SyntaxNode* start = list;
  for (const SyntaxNode* node = list; node != nullptr; node = node->next) {
    if (ends_statement(node) || node->kind == NodeKind::Jump) start = node->next;
  }
  return start;
}

bool may_strand(const SyntaxNode* list);

// Whether the node, which follows `previous` in its list, may leave a value on the stack that no
// statement end of its own releases: braces at a statement's start that make a list (or hold
// such values), or the last node of a statement without an end before an if's jump, its end or a
// loop.
bool strands(const SyntaxNode* previous, const SyntaxNode* node) {
  const NodeKind kind = node->kind;
  if (kind == NodeKind::Block) {
    const bool statement =
        previous == nullptr || ends_statement(previous) || previous->kind == NodeKind::Jump;
    return (statement && !leaves_no_value(node->body)) || may_strand(node->body);
  }
  const SyntaxNode* next = node->next;
  const bool before_control =
      next != nullptr && (next->kind == NodeKind::Jump || next->kind == NodeKind::EndIf ||
                          next->kind == NodeKind::LoopTop);
  const bool control =
      ends_statement(node) || kind == NodeKind::Jump || kind == NodeKind::SkipIfTrue ||
      kind == NodeKind::Loop || kind == NodeKind::LoopTop || kind == NodeKind::Return ||
      kind == NodeKind::Exit || kind == NodeKind::Break || kind == NodeKind::Continue;
  return before_control && !control;
}

// Whether a list may leave a value on the stack before a statement that follows, where a break,
// continue or return out of it could find it, or a statement's end inside a loop, switch or
// braces after it release it (in the list, or in braces in it; loops and switches inside decide
// for their own statements).
bool may_strand(const SyntaxNode* list) {
  const SyntaxNode* previous = nullptr;
  for (const SyntaxNode* node = list; node != nullptr; previous = node, node = node->next) {
    if (strands(previous, node)) return true;
  }
  return false;
}

bool compile_list(Compiler* compiler, SyntaxNode* list);
bool compile_node(Compiler* compiler, SyntaxNode* node);
bool compile_switch(Compiler* compiler, SyntaxNode* node);

// A list whose statements stand on a stack of their own (a loop's pass, a switch's statements,
// braces that make a list): what earlier statements left is out of their sight. `framed`: the
// caller keeps their values apart in a frame (ListStart) around them.
bool compile_apart(Compiler* compiler, SyntaxNode* list, bool framed) {
  const bool strays = compiler->strays;
  compiler->strays = false;
  if (framed) ++compiler->frames;
  const bool ok = compile_list(compiler, list);
  if (framed) --compiler->frames;
  compiler->strays = strays;
  return ok;
}

// Ends the innermost `count` frames (see Op::Unwind), if any; false when memory ran out.
bool emit_unwind(Compiler* compiler, std::int32_t count, SyntaxNode* node) {
  return count <= 0 || emit(compiler, Op::Unwind, count, node);
}

// A break or continue past every loop and switch open (`frames` frames open outside them): the
// call ends, and yields 0 whatever the stack holds.
bool emit_call_end(Compiler* compiler, std::int32_t frames, SyntaxNode* node) {
  return emit_unwind(compiler, frames, node) && emit(compiler, Op::Discard, 0, node) &&
         emit(compiler, Op::Return, 0, node);
}

// A loop or switch that a `break` inside leaves, with the scopes and frames open outside it: its
// number among the open ones, or -1 when memory ran out.
std::int32_t open_breakable(Compiler* compiler, SyntaxNode* node) {
  if (!room_for_one(&compiler->loops, compiler->loop_count, &compiler->loop_capacity)) return -1;
  compiler->loops[compiler->loop_count] = {node, compiler->depth, compiler->frames,
                                           compiler->continue_count};
  return compiler->loop_count++;
}

// Closes the innermost loop or switch; a loop's `continue`s go to `to`, its pass's end. Those of
// the loops outside it (from a switch inside) stay.
void close_breakable(Compiler* compiler, std::int32_t to) {
  const std::int32_t closed = --compiler->loop_count;
  std::int32_t kept = compiler->loops[closed].first_continue;
  for (std::int32_t i = kept; i < compiler->continue_count; ++i) {
    const Compiler::Continue& jump = compiler->continues[i];
    if (jump.loop == closed) {
      compiler->function->code[jump.jump].a = to;
    } else {
      compiler->continues[kept++] = jump;
    }
  }
  compiler->continue_count = kept;
}

// Where a break out of a loop or switch goes on: after the loop's LoopEnd, or after the switch.
SyntaxNode* breakable_end(SyntaxNode* loop) {
  SyntaxNode* end = loop;
  if (end->kind != NodeKind::Switch) {
    while (end->kind != NodeKind::LoopEnd && end->next != nullptr)
      end = end->next;
  }
  return end;
}

// Whether code makes one value as compiled code with nothing of its own to declare: names of the
// function's own slots, numbers, plain literals, indexes and the operators without side effects
// of their own; with Holds::Effects, also calls, any literal, assignments, steps, "=~" and `arg`. A
// case label's expression (`label`, up to its Colon), or else a literal's part or a capture target
// (to its list's end).
bool makes_one_value(const SyntaxNode* node, const NameTable* table, Holds holds, bool label) {
  std::int32_t height = 0;
  constexpr std::int32_t kMostCalls = 64;  // code with deeper calls gathers its values instead
  std::int32_t calls[kMostCalls];
  std::int32_t open_calls = 0;
  const bool effects = holds != Holds::Pure;
  for (; node != nullptr && node->kind != NodeKind::Colon; node = node->next) {
    NodeKind kind = node->kind;
    if (kind == NodeKind::Number ||
        (kind == NodeKind::String && (effects || is_plain_literal(node))) ||
        (kind == NodeKind::Name &&
         (is_slot_name(node, table) || (effects && is_arg_name(node, table)))) ||
        (kind == NodeKind::DeclareName && holds == Holds::Declarations &&
         (is_slot_name(node, table) || is_arg_name(node, table)))) {
      ++height;
    } else if (kind == NodeKind::Index || (is_binary_operator(kind) && kind != NodeKind::Match) ||
               (effects && (kind == NodeKind::Assign || kind == NodeKind::Match))) {
      if (height < 2) return false;
      --height;
    } else if (kind == NodeKind::Not || kind == NodeKind::Complement || kind == NodeKind::Plus ||
               kind == NodeKind::Negate ||
               (effects && (kind == NodeKind::PreIncrement || kind == NodeKind::PreDecrement ||
                            kind == NodeKind::PostIncrement || kind == NodeKind::PostDecrement))) {
      if (height < 1) return false;
    } else if (effects && kind == NodeKind::ApplyPostfix) {
      // the steps so far apply; the stack stays as it is
    } else if (effects && kind == NodeKind::Comma && open_calls > 0) {
      // between a call's arguments: the call's end decides the height
    } else if (effects && kind == NodeKind::CallStart && open_calls < kMostCalls) {
      calls[open_calls++] = height;
    } else if (effects && kind == NodeKind::Call && node->text != nullptr && open_calls > 0) {
      height = calls[--open_calls] + 1;
    } else {
      return false;
    }
  }
  return (node != nullptr) == label && open_calls == 0 && height == 1;
}

// Appends an item to one of the compiled form's arrays that it owns; false when memory ran out.
template <typename T>
bool keep(T*** items, std::int32_t* count, std::int32_t* capacity, T* item) {
  if (*count == *capacity) {
    std::int32_t grown_capacity = *capacity == 0 ? 8 : *capacity * 2;
    auto** grown = static_cast<T**>(alloc_block(sizeof(T*) * grown_capacity));
    if (grown == nullptr) return false;
    for (std::int32_t i = 0; i < *count; ++i)
      grown[i] = (*items)[i];
    release(items);
    *items = grown;
    *capacity = grown_capacity;
  }
  (*items)[(*count)++] = item;
  return true;
}

// The code of a parsed expression that makes_one_value accepts (without a label's calls); false
// when memory ran out.
bool emit_one_value(Compiler* compiler, SyntaxNode* list) {
  for (SyntaxNode* part = list; part != nullptr; part = part->next) {
    bool emitted = false;
    switch (part->kind) {
      case NodeKind::Number:
        emitted = emit(compiler, Op::PushNumber, part->number, part);
        break;
      case NodeKind::String:
        emitted = emit(compiler, Op::PushText, 0, part);
        break;
      case NodeKind::Name:
        emitted = emit(compiler, Op::PushName, 0, part);
        break;
      case NodeKind::Index:
        emitted = emit(compiler, Op::Index, 0, part);
        break;
      default:
        emitted = emit(compiler, is_binary_operator(part->kind) ? Op::Binary : Op::Unary, 0, part);
        break;
    }
    if (!emitted) return false;
  }
  return true;
}

// The code of a literal's part or a capture target that has calls or effects: its nodes compiled
// in order, gathering their values (built-ins see the names of the variables they are given; an
// assignment's value takes its target's name). False when memory ran out.
bool compile_part(Compiler* compiler, SyntaxNode* list) {
  bool collecting = compiler->collecting;
  bool after_statement = compiler->after_statement;
  compiler->collecting = true;
  compiler->after_statement = false;  // braces in it make a list
  bool ok = true;
  for (SyntaxNode* node = list; node != nullptr && ok; node = node->next)
    ok = compile_node(compiler, node);
  compiler->collecting = collecting;
  compiler->after_statement = after_statement;
  return ok;
}

bool compiles_as_list(const SyntaxNode* list, const NameTable* table, bool label, bool binding);

// compile_part for code that gathers_values accepts: its values gathered in a frame of their own
// (ListStart), which the instruction after it takes the first of and ends.
bool compile_gathered(Compiler* compiler, SyntaxNode* list, SyntaxNode* node) {
  if (!emit(compiler, Op::ListStart, 0, node)) return false;
  ++compiler->frames;
  const bool ok = compile_part(compiler, list);
  --compiler->frames;
  return ok;
}

// Whether a literal's part or a case label's expression (`label`, up to its Colon) that makes other
// than one value compiles as values gathered, of which its text is the first's: what braces that
// make a list may hold, with no steps applied outside braces (those would apply the literal's
// statement's steps as well). In the binding mode its names are declarations.
bool gathers_values(const SyntaxNode* part, const NameTable* table, bool label, bool binding) {
  for (const SyntaxNode* node = part; node != nullptr && !(label && node->kind == NodeKind::Colon);
       node = node->next) {
    if (node->kind == NodeKind::ApplyPostfix) return false;
  }
  return compiles_as_list(part, table, label, binding);
}

// A literal with escapes or «%expr%» parts made in line: its parts' code, then Interpolate (or,
// without parts, its finished text pushed as a plain literal's). When a part has calls or effects,
// each part is made text as soon as it has run, and its postfix steps applied then: a later part
// may change what an earlier one read. False when a part makes no value that can be gathered (the
// literal is refused), or memory ran out (*no_memory).
bool compile_text(Compiler* compiler, SyntaxNode* node, bool* no_memory) {
  CompiledFunction* function = compiler->function;
  TextTemplate* text = nullptr;
  if (make_text_template(node, function->table, compiler->binding, &text) != TemplateMade::Made) {
    *no_memory = true;
    return false;
  }
  // A part that does not parse: those before it run, each made text in turn, then the run fails
  // where it is reported. In a default, every name in a part is a declaration, an effect.
  bool effects = text->broken != nullptr || compiler->binding;
  const Holds most = compiler->binding ? Holds::Declarations : Holds::Effects;
  for (std::int32_t i = 0; i < text->part_count; ++i) {
    if (!effects && makes_one_value(text->parts[i], function->table, Holds::Pure, false)) continue;
    if (!makes_one_value(text->parts[i], function->table, most, false) &&
        !gathers_values(text->parts[i], function->table, false, compiler->binding)) {
      free_text_template(text);
      return false;
    }
    effects = true;
  }
  effects = effects || text->part_count > kInlineTextParts;
  if (!keep(&function->templates, &function->template_count, &function->template_capacity, text)) {
    free_text_template(text);
    *no_memory = true;
    return false;
  }
  if (text->plain != nullptr) return emit(compiler, Op::PushText, 0, text->plain);
  const std::int32_t at = function->count;
  const std::int32_t open_calls = compiler->open_calls;
  const std::int32_t pending_steps = compiler->pending_steps;
  bool ok = true;
  for (std::int32_t i = 0; ok && i < text->part_count; ++i) {
    if (!effects) {
      ok = emit_one_value(compiler, text->parts[i]);
      continue;
    }
    // A part that makes no one value gathers its values apart: its text is the first's.
    const bool gathered = !makes_one_value(text->parts[i], function->table, most, false);
    ok = emit(compiler, Op::PartStart, 0, node) &&
         (gathered ? compile_gathered(compiler, text->parts[i], node)
                   : compile_part(compiler, text->parts[i])) &&
         emit(compiler, Op::PartEnd, gathered ? 1 : 0, node);
  }
  ok = ok && emit(compiler, text->broken != nullptr ? Op::BrokenPart : Op::Interpolate,
                  function->template_count - 1, node);
  if (!ok) {
    // No memory, or a part's code refused: the statement fails to compile (compile_code tells
    // the two apart).
    *no_memory = true;
    function->count = at;
    compiler->open_calls = open_calls;
    compiler->pending_steps = pending_steps;
    return false;
  }
  function->code[function->count - 1].b = text->part_count;
  return true;
}

void mark_bound(Compiler* compiler, const SyntaxNode* node) {
  std::int32_t slot = node->name_slot;
  if (slot >= 0 && slot < kBoundSlots)
    compiler->bound[slot / 64] |= std::uint64_t{1} << (slot % 64);
}

bool is_bound(const Compiler* compiler, const SyntaxNode* node) {
  std::int32_t slot = node->name_slot;
  return slot >= 0 && slot < kBoundSlots && (compiler->bound[slot / 64] >> (slot % 64) & 1) != 0;
}

// Notes the names of the body's first statements, up to its first control statement: each run
// reads or assigns each of them there, in the function's own scope, so that afterwards it stands
// for a variable that scope holds to the call's end, or for a global. Braces further on that name
// none but these (and the parameters) then declare nothing of their own.
void note_bound_prefix(Compiler* compiler, const SyntaxNode* list) {
  const NameTable* table = compiler->function->table;
  for (const SyntaxNode* node = list; node != nullptr; node = node->next) {
    NodeKind kind = node->kind;
    if (kind == NodeKind::Name) {
      if (!is_slot_name(node, table)) return;
      mark_bound(compiler, node);
      continue;
    }
    // Braces in a literal's parts run before the names after it: what they name is not bound yet.
    if (kind == NodeKind::String && !is_plain_literal(node) && node->text != nullptr &&
        std::strchr(node->text, '{') != nullptr) {
      return;
    }
    bool plain = kind == NodeKind::Number || kind == NodeKind::String || kind == NodeKind::Assign ||
                 kind == NodeKind::Semicolon || kind == NodeKind::Index ||
                 kind == NodeKind::Comma || kind == NodeKind::ApplyPostfix ||
                 kind == NodeKind::CallStart || kind == NodeKind::Call ||
                 is_binary_operator(kind) || is_unary_operator(kind);
    if (!plain) return;
  }
}

// Whether braces around `list` can declare nothing of their own, so that they need no scope: every
// name in their statements (outside braces inside, which decide for themselves) is one already
// bound, and nothing runs there that could declare a name otherwise (a `var`, a literal's parts or
// a pattern's captures, a switch's labels).
bool declares_nothing(const Compiler* compiler, const SyntaxNode* list) {
  const NameTable* table = compiler->function->table;
  for (const SyntaxNode* node = list; node != nullptr; node = node->next) {
    NodeKind kind = node->kind;
    switch (kind) {
      case NodeKind::Name:
        if (!is_slot_name(node, table) || !is_bound(compiler, node)) return false;
        continue;
      case NodeKind::String:
        if (!is_plain_literal(node)) return false;
        continue;
      case NodeKind::Block:
        continue;  // a scope of its own, or braces that declare nothing either
      case NodeKind::Number:
      case NodeKind::Assign:
      case NodeKind::Semicolon:
      case NodeKind::Index:
      case NodeKind::Comma:
      case NodeKind::ApplyPostfix:
      case NodeKind::CallStart:
      case NodeKind::Jump:
      case NodeKind::SkipIfTrue:
      case NodeKind::Else:
      case NodeKind::EndIf:
      case NodeKind::Loop:
      case NodeKind::LoopTop:
      case NodeKind::LoopEnd:
      case NodeKind::Break:
      case NodeKind::Continue:
      case NodeKind::Return:
      case NodeKind::Exit:
        break;
      case NodeKind::Call:
        if (node->text == nullptr || node->text[0] == '&') return false;
        break;
      default:
        if (kind == NodeKind::Match || !(is_binary_operator(kind) || is_unary_operator(kind))) {
          return false;
        }
        break;
    }
    // A loop's body without braces is part of these statements.
    if (node->body != nullptr && !declares_nothing(compiler, node->body)) return false;
  }
  return true;
}

// Whether braces that make a list hold only what a list of values compiles from: names of the
// function's own slots and `arg`, numbers, literals and patterns, commas, indexes, operators (steps
// too), assignments, calls and lists of the same; in the binding mode (a parameter's default or
// capture target), declarations of its slots too. Statements inside are not (such braces are
// refused). A case label's expression (`label`) ends at its Colon.
bool compiles_as_list(const SyntaxNode* list, const NameTable* table, bool label, bool binding) {
  for (const SyntaxNode* node = list; node != nullptr && !(label && node->kind == NodeKind::Colon);
       node = node->next) {
    NodeKind kind = node->kind;
    bool known =
        kind == NodeKind::Number || kind == NodeKind::String || kind == NodeKind::Comma ||
        kind == NodeKind::Index || kind == NodeKind::Assign || kind == NodeKind::CallStart ||
        is_binary_operator(kind) || is_unary_operator(kind) || kind == NodeKind::ApplyPostfix ||
        (kind == NodeKind::Call && node->text != nullptr) || kind == NodeKind::Pattern ||
        (kind == NodeKind::Name && (is_slot_name(node, table) || is_arg_name(node, table))) ||
        (binding && kind == NodeKind::DeclareName &&
         (is_slot_name(node, table) || is_arg_name(node, table))) ||
        (kind == NodeKind::Block && compiles_as_list(node->body, table, false, binding));
    if (!known) return false;
  }
  return true;
}

// Braces whose values a list is made of, in a scope of their own unless they declare nothing:
// ListStart, their values, MakeList. The values are gathered with names carried, calls given their
// arguments' names. Braces that end code whose values nobody gathers run on a stack of their own,
// which goes at their end (Unwind), without a list made. False (nothing emitted) when they hold
// other than a list is made of (refused); *failed when the body was refused.
bool compile_list_value(Compiler* compiler, SyntaxNode* node, bool* failed) {
  // At a statement's start (no call open, nothing of the statement on the stack) the braces may
  // hold statements: a statement's end there releases only the values gathered since the list's
  // start.
  const bool statements = compiler->after_statement && compiler->open_calls == 0;
  const bool dropped = node->next == nullptr && !compiler->collecting;
  if (!dropped && !(statements || compiles_as_list(node->body, compiler->function->table, false,
                                                   compiler->binding)))
    return false;
  const bool scope = !declares_nothing(compiler, node->body);
  bool collecting = compiler->collecting;
  compiler->collecting = !dropped;
  if (scope) ++compiler->depth;
  bool ok =
      (!scope || emit(compiler, Op::EnterScope, compiler->depth, node)) &&
      emit(compiler, Op::ListStart, 0, node) && compile_apart(compiler, node->body, true) &&
      (dropped ? emit(compiler, Op::Unwind, 1, node) : emit(compiler, Op::MakeList, 0, node)) &&
      (!scope || emit(compiler, Op::LeaveScope, compiler->depth, node));
  if (scope) --compiler->depth;
  compiler->collecting = collecting;
  *failed = !ok;
  return ok;
}

// The assignment a literal before "=" is the target of: the Assign of the first "=" after it in
// the text, which follows the value's code in the same statement. Null when there is none.
SyntaxNode* assignment_of(const SyntaxNode* pattern) {
  SyntaxNode* found = nullptr;
  for (SyntaxNode* node = pattern->next; node != nullptr && node->kind != NodeKind::Semicolon;
       node = node->next) {
    if (node->kind == NodeKind::Assign && node->source > pattern->source &&
        (found == nullptr || node->source < found->source)) {
      found = node;
    }
  }
  return found;
}

// A pattern's capture table: PushPattern (a: the instruction after the table's code, b: the
// captures), a CaptureEntry per capture (a: where its target's code starts; b: 1 when it binds a
// target, 2 when its target does not parse and is reported at each binding), then each target's
// code with an End. The targets are parsed from their captures' names and placed at `position`;
// in the binding mode their names are declarations. A target that makes other than one value
// gathers them, and the first is bound; one that is neither (no value, or statements) is reported
// as one that does not parse. A pattern that cannot be made has no captures: each search reports
// it. False, with nothing emitted, when memory ran out (*no_memory).
bool compile_capture_table(Compiler* compiler, SyntaxNode* node, const char* position,
                           bool* no_memory) {
  CompiledFunction* function = compiler->function;
  PatternUse use(node->pattern);
  const CompiledPattern* pattern = use.get();
  if (pattern == nullptr && use.problem() == PATTERN_NO_MEMORY) {
    *no_memory = true;
    return false;
  }
  std::int32_t slots = pattern != nullptr ? capture_slot_count(pattern) : 0;
  CaptureSlot* captures =
      slots > 0 ? static_cast<CaptureSlot*>(alloc_zeroed(sizeof(CaptureSlot) * slots)) : nullptr;
  if (slots > 0 && captures == nullptr) {
    *no_memory = true;
    return false;
  }
  const std::int32_t count = slots > 0 ? list_captures(pattern, captures) : 0;
  const Holds most = compiler->binding ? Holds::Declarations : Holds::Effects;
  const std::int32_t first_target = function->target_count;
  bool compiled = true;
  for (std::int32_t i = 0; i < count && compiled && !*no_memory; ++i) {
    if (!capture_binds(captures[i])) continue;
    SyntaxNode* list = compiler->binding
                           ? parse_binding_part(captures[i].name, no_memory)
                           : parse_embedded_part(nullptr, captures[i].name, no_memory);
    settle_parsed_nodes(list, position, function->table);
    if (list != nullptr && !makes_one_value(list, function->table, most, false) &&
        !gathers_values(list, function->table, false, compiler->binding)) {
      free_syntax_node(&list);
    }
    // One that does not parse is kept as null, for the table to report.
    if (!keep(&function->targets, &function->target_count, &function->target_capacity, list)) {
      free_syntax_node(&list);
      *no_memory = true;
    }
  }
  const std::int32_t at = function->count;
  const std::int32_t open_calls = compiler->open_calls;
  const std::int32_t pending_steps = compiler->pending_steps;
  compiled = compiled && !*no_memory && emit(compiler, Op::PushPattern, 0, node);
  for (std::int32_t i = 0; compiled && i < count; ++i)
    compiled = emit(compiler, Op::CaptureEntry, 0, nullptr);
  std::int32_t target = first_target;
  for (std::int32_t i = 0; compiled && i < count; ++i) {
    if (!capture_binds(captures[i])) continue;
    Instruction& entry = function->code[at + 1 + i];
    SyntaxNode* list = function->targets[target++];
    if (list == nullptr) {
      entry.b = 2;
      continue;
    }
    entry.a = function->count;
    entry.b = 1;
    if (!makes_one_value(list, function->table, most, false)) {
      compiled = compile_gathered(compiler, list, node) && emit(compiler, Op::End, 0, nullptr);
      continue;
    }
    compiled = (makes_one_value(list, function->table, Holds::Pure, false)
                    ? emit_one_value(compiler, list)
                    : compile_part(compiler, list)) &&
               emit(compiler, Op::End, 0, nullptr);
  }
  release(&captures);
  if (!compiled) {
    function->count = at;
    compiler->open_calls = open_calls;
    compiler->pending_steps = pending_steps;
    return false;
  }
  function->code[at].a = function->count;
  function->code[at].b = count;
  for (std::int32_t i = 0; i < count; ++i) {
    if (function->code[at + 1 + i].b != 1) function->code[at + 1 + i].a = function->count;
  }
  return true;
}

// A destructuring assignment's pattern: its capture table, its targets placed at the assignment.
// False when there is no assignment after it (refused), or memory ran out (*no_memory).
bool compile_pattern_target(Compiler* compiler, SyntaxNode* node, bool* no_memory) {
  const SyntaxNode* assign = assignment_of(node);
  if (assign == nullptr || node->pattern == nullptr) return false;
  return compile_capture_table(compiler, node, assign->source, no_memory);
}

bool compile_node(Compiler* compiler, SyntaxNode* node) {
  const NameTable* table = compiler->function->table;
  NodeKind kind = node->kind;
  if (!note_node(compiler, node)) return false;
  if (is_binary_operator(kind)) {
    return emit(compiler, Op::Binary, 0, node);
  }
  switch (kind) {
    case NodeKind::Number:
      return emit(compiler, Op::PushNumber, node->number, node);
    case NodeKind::String: {
      if (is_plain_literal(node)) return emit(compiler, Op::PushText, 0, node);
      bool no_memory = false;
      if (compile_text(compiler, node, &no_memory)) return true;
      return !no_memory && emit(compiler, Op::Refused, 0, node);
    }
    case NodeKind::Pattern: {  // the target of a destructuring assignment
      bool no_memory = false;
      if (compile_pattern_target(compiler, node, &no_memory)) return true;
      return !no_memory && emit(compiler, Op::Refused, 0, node);
    }
    case NodeKind::Name:
      if (is_arg_name(node, table)) {
        compiler->function->reads_arguments = true;
        return emit(compiler, Op::PushName, 0, node);
      }
      return is_slot_name(node, table) && emit(compiler, Op::PushName, 0, node);
    case NodeKind::Assign: {
      bool released = node->next != nullptr && node->next->kind == NodeKind::Semicolon;
      // A value that goes on would carry its target's name there; one whose statement ends after
      // its postfix steps goes nowhere.
      bool ends = released ||
                  (node->next != nullptr && node->next->kind == NodeKind::ApplyPostfix &&
                   node->next->next != nullptr && node->next->next->kind == NodeKind::Semicolon);
      if (compiler->collecting && !ends) {
        return emit(compiler, Op::AssignNamed, 0, node);
      }
      return emit(compiler, Op::Assign, released ? 1 : 0, node);
    }
    case NodeKind::PostIncrement:
    case NodeKind::PostDecrement:
      return emit(compiler, Op::PostStep, kind == NodeKind::PostIncrement ? 1 : -1, node);
    case NodeKind::Not:
    case NodeKind::Complement:
    case NodeKind::Plus:
    case NodeKind::Negate:
    case NodeKind::PreIncrement:
    case NodeKind::PreDecrement:
      return emit(compiler, Op::Unary, 0, node);
    case NodeKind::ApplyPostfix:
      return emit(compiler, Op::ApplyPostfix, 0, node);
    case NodeKind::Semicolon:
      return emit(compiler, Op::Clear, 0, node);
    case NodeKind::Comma:
      return emit(compiler, Op::Comma,
                  node->next != nullptr && node->next->kind == NodeKind::Comma ? 1 : 0, node);
    case NodeKind::Jump:
      return node->target != nullptr && emit(compiler, Op::Jump, 0, node);
    case NodeKind::SkipIfTrue:
      return node->next != nullptr && node->next->kind == NodeKind::Jump &&
             emit(compiler, Op::SkipIfTrue, 0, node);
    case NodeKind::LoopTop:
    case NodeKind::Else:
    case NodeKind::EndIf:
    case NodeKind::LoopEnd:
    case NodeKind::DoTest:
      return true;  // markers: a jump to one goes on after it
    case NodeKind::Loop: {
      SyntaxNode* body = node->body;
      if (node->next == nullptr) return false;
      // A condition `a op b` just before is tested in the same step.
      CompiledFunction* function = compiler->function;
      Instruction* test = function->count > 0 ? &function->code[function->count - 1] : nullptr;
      if (test != nullptr && test->op == Op::BinaryOf && test->node->next == node) {
        test->op = Op::LoopTestOf;
        test->target = node;
      } else if (!emit(compiler, Op::LoopTest, 0, node)) {
        return false;
      }
      if (open_breakable(compiler, node) < 0) return false;
      // A loop's body runs without gathering its values, on a stack of its own, which it drops
      // at the pass's end. Values the braces leave would outlive the
      // variables they refer to, which the braces' end frees. A body in braces whose last
      // statement alone, without its end, makes one value leaves it for the pass's end to drop;
      // one that may leave other values, or follows values left, keeps each pass's values apart,
      // and drops them at its end or on a jump out of it.
      const bool braces = body != nullptr && body->kind == NodeKind::Block && body->next == nullptr;
      SyntaxNode* list = braces ? body->body : body;
      bool leaves_one = false;
      bool framed = compiler->strays || may_strand(list);
      if (!framed && !leaves_no_value(list)) {
        leaves_one = braces && makes_one_value(last_statement(list), table, Holds::Effects, false);
        framed = !leaves_one;
      }
      bool collecting = compiler->collecting;
      compiler->collecting = false;
      const bool scope = braces && !declares_nothing(compiler, list);
      if (scope) ++compiler->depth;
      bool ok = (!scope || emit(compiler, Op::EnterScope, compiler->depth, body)) &&
                (!framed || emit(compiler, Op::ListStart, 0, body)) &&
                compile_apart(compiler, list, framed) &&
                (!leaves_one || emit(compiler, Op::Drop, 0, body)) &&
                (!framed || emit(compiler, Op::Unwind, 1, body)) &&
                (!scope || emit(compiler, Op::LeaveScope, compiler->depth, body));
      if (scope) --compiler->depth;
      compiler->collecting = collecting;
      // A `continue` goes to the pass's end, which counts the pass as the loop's own end does.
      close_breakable(compiler, compiler->function->count);
      if (!ok) return false;
      return emit(compiler, Op::LoopBack, 0, node);
    }
    case NodeKind::Block: {
      // Braces in statement position that can leave no value, and after no values left: a
      // scope. Else their values are gathered (unless they end the list), and their statements
      // stand on a stack of their own.
      SyntaxNode* after = node->next;
      bool statement = compiler->after_statement || after == nullptr ||
                       after->kind == NodeKind::Jump || after->kind == NodeKind::EndIf ||
                       after->kind == NodeKind::Else || after->kind == NodeKind::Semicolon ||
                       after->kind == NodeKind::Return || after->kind == NodeKind::Name ||
                       after->kind == NodeKind::CallStart || after->kind == NodeKind::LoopTop;
      const bool strands_list = !leaves_no_value(node->body) || may_strand(node->body);
      if (!statement || strands_list || compiler->strays) {
        // A list: the values are gathered in a frame of its own, and copied out before the
        // frame goes (or dropped, when a jump leaves the braces). At a statement's start, the
        // list it makes stays there.
        compiler->strays = compiler->strays || (compiler->after_statement && strands_list);
        bool failed = false;
        if (compile_list_value(compiler, node, &failed)) return true;
        return !failed && emit(compiler, Op::Refused, 0, node);
      }
      bool collecting = compiler->collecting;
      compiler->collecting = collecting || after != nullptr;
      if (declares_nothing(compiler, node->body)) {
        // No scope to open: what the braces hold runs as if they were not there.
        bool ok = compile_list(compiler, node->body);
        compiler->collecting = collecting;
        return ok;
      }
      ++compiler->depth;
      bool ok = emit(compiler, Op::EnterScope, compiler->depth, node) &&
                compile_list(compiler, node->body) &&
                emit(compiler, Op::LeaveScope, compiler->depth, node);
      --compiler->depth;
      compiler->collecting = collecting;
      return ok;
    }
    case NodeKind::Return:
    case NodeKind::Exit:  // ends a call or a top level as a return does
      return emit(compiler, kind == NodeKind::Exit ? Op::Exit : Op::Return, 0, node);
    case NodeKind::Break:
    case NodeKind::Continue: {
      // Not at a statement's start: after the value it was given (a break's count of further
      // loops or switches to leave; a continue ignores its value).
      const bool valued = !compiler->after_statement;
      if (valued &&
          !emit(compiler, kind == NodeKind::Break ? Op::BreakCount : Op::Discard, 0, node))
        return false;
      if (compiler->loop_count == 0) return emit_call_end(compiler, compiler->frames, node);
      // A break leaves the innermost loop or switch; a continue goes on with the innermost loop,
      // and ends the call (leaving the switches around it) when there is none.
      std::int32_t open_at = compiler->loop_count - 1;
      if (kind == NodeKind::Continue) {
        while (open_at >= 0 && compiler->loops[open_at].loop->kind == NodeKind::Switch)
          --open_at;
        if (open_at < 0) return emit_call_end(compiler, compiler->frames, node);
      }
      const Compiler::OpenLoop& open = compiler->loops[open_at];
      if (!emit_unwind(compiler, compiler->frames - open.frames, node)) return false;
      for (std::int32_t d = compiler->depth; d > open.depth; --d) {
        if (!emit(compiler, Op::LeaveScope, d, node)) return false;
      }
      if (kind == NodeKind::Continue) {
        if (!room_for_one(&compiler->continues, compiler->continue_count,
                          &compiler->continue_capacity)) {
          return false;
        }
        compiler->continues[compiler->continue_count++] = {open_at, compiler->function->count};
        return emit(compiler, Op::Jump, 0, nullptr);
      }
      if (!valued) return emit(compiler, Op::BreakJump, 0, breakable_end(open.loop));
      // Out through as many loops or switches as the count says, from the innermost (whose
      // scopes are left) on, each with the scopes between it and the next; past the outermost,
      // the call ends.
      for (std::int32_t at = compiler->loop_count - 1; at >= 0; --at) {
        const Compiler::OpenLoop& outer = compiler->loops[at];
        if (at + 1 < compiler->loop_count &&
            !emit_unwind(compiler, compiler->loops[at + 1].frames - outer.frames, node)) {
          return false;
        }
        for (std::int32_t d = compiler->loops[at + 1 < compiler->loop_count ? at + 1 : at].depth;
             d > outer.depth; --d) {
          if (!emit(compiler, Op::LeaveScope, d, node)) return false;
        }
        if (!emit(compiler, Op::BreakOut, 0, breakable_end(outer.loop))) return false;
      }
      return emit_call_end(compiler, compiler->loops[0].frames, node);
    }
    case NodeKind::Switch:
      return compile_switch(compiler, node);
    case NodeKind::DeclareName: {
      // `var arg` in braces hides the call's `arg` up to their end, as any local of the braces
      // hides a name; in a function's own scope it meets the call's own (a = 1), which a top
      // level has not, nor the parameters' code (the call makes it once they are bound).
      const bool overlaps =
          !compiler->binding && compiler->depth == 0 && compiler->function->call != nullptr;
      if (is_arg_name(node, table)) return emit(compiler, Op::Declare, overlaps ? 1 : 0, node);
      return is_slot_name(node, table) && emit(compiler, Op::Declare, 0, node);
    }
    case NodeKind::Index:
      return emit(compiler, Op::Index, 0, node);
    case NodeKind::CallStart:
      return emit(compiler, Op::CallStart, 0, node);
    case NodeKind::Call:
      return node->text != nullptr && emit(compiler, Op::Call, compiler->collecting ? 1 : 0, node);
    default:
      return false;
  }
}

// Notes nodes that a larger instruction covers: each is where that instruction is.
bool note_covered(Compiler* compiler, SyntaxNode* first, std::int32_t count) {
  std::int32_t index = compiler->function->count - 1;
  SyntaxNode* node = first;
  for (std::int32_t i = 0; i < count; ++i, node = node->next) {
    if (!note_node(compiler, node)) return false;
    compiler->marks[compiler->mark_count - 1] = {node, index, index + 1};
  }
  return true;
}

// A larger instruction for the sequence at `node`, when there is one: true with *last set to its
// last node; false (nothing emitted) otherwise; *failed after running out of memory.
bool compile_sequence(Compiler* compiler, SyntaxNode* node, SyntaxNode** last, bool* failed) {
  const NameTable* table = compiler->function->table;
  SyntaxNode* second = node->next;
  SyntaxNode* third = second != nullptr ? second->next : nullptr;
  // name, name-or-number, name-or-number, binary operator, Assign, Semicolon
  {
    SyntaxNode* op = third != nullptr ? third->next : nullptr;
    SyntaxNode* assign_node = op != nullptr ? op->next : nullptr;
    SyntaxNode* end = assign_node != nullptr ? assign_node->next : nullptr;
    if (node->kind == NodeKind::Name && is_operand(node, table) && is_operand(second, table) &&
        is_operand(third, table) && op != nullptr && is_binary_operator(op->kind) &&
        op->kind != NodeKind::Match && assign_node != nullptr &&
        assign_node->kind == NodeKind::Assign && end != nullptr &&
        end->kind == NodeKind::Semicolon) {
      if (!emit(compiler, Op::AssignOf, 0, op) || !note_covered(compiler, node, 6)) {
        *failed = true;
        return false;
      }
      Instruction& in = compiler->function->code[compiler->function->count - 1];
      in.target = node;
      in.left = second;
      in.right = third;
      in.assign = assign_node;
      *last = end;
      return true;
    }
  }
  // name, name-or-number, Assign, Semicolon
  if (node->kind == NodeKind::Name && is_operand(node, table) && is_operand(second, table) &&
      third != nullptr && third->kind == NodeKind::Assign && third->next != nullptr &&
      third->next->kind == NodeKind::Semicolon) {
    if (!emit(compiler, Op::AssignValue, 0, third) || !note_covered(compiler, node, 4)) {
      *failed = true;
      return false;
    }
    Instruction& in = compiler->function->code[compiler->function->count - 1];
    in.target = node;
    in.right = second;
    *last = third->next;
    return true;
  }
  // name-or-number, name-or-number, binary operator; as an if's whole condition, with the
  // SkipIfTrue and Jump after it
  if (is_operand(node, table) && is_operand(second, table) && third != nullptr &&
      is_binary_operator(third->kind) && third->kind != NodeKind::Match) {
    SyntaxNode* skip = third->next;
    SyntaxNode* jump = skip != nullptr ? skip->next : nullptr;
    bool test = skip != nullptr && skip->kind == NodeKind::SkipIfTrue && jump != nullptr &&
                jump->kind == NodeKind::Jump && jump->target != nullptr;
    if (!emit(compiler, test ? Op::TestJump : Op::BinaryOf, 0, third) ||
        !note_covered(compiler, node, test ? 5 : 3)) {
      *failed = true;
      return false;
    }
    Instruction& in = compiler->function->code[compiler->function->count - 1];
    in.left = node;
    in.right = second;
    in.target = test ? jump : nullptr;
    *last = test ? jump : third;
    return true;
  }
  // name, postfix step, ApplyPostfix, Semicolon
  SyntaxNode* fourth = third != nullptr ? third->next : nullptr;
  if (node->kind == NodeKind::Name && is_operand(node, table) && second != nullptr &&
      (second->kind == NodeKind::PostIncrement || second->kind == NodeKind::PostDecrement) &&
      third != nullptr && third->kind == NodeKind::ApplyPostfix && fourth != nullptr &&
      fourth->kind == NodeKind::Semicolon) {
    if (!emit(compiler, Op::StepClear, second->kind == NodeKind::PostIncrement ? 1 : -1, node) ||
        !note_covered(compiler, node, 4)) {
      *failed = true;
      return false;
    }
    *last = fourth;
    return true;
  }
  // Assign, Semicolon
  if (node->kind == NodeKind::Assign && second != nullptr && second->kind == NodeKind::Semicolon) {
    if (!emit(compiler, Op::AssignClear, 1, node) || !note_covered(compiler, node, 2)) {
      *failed = true;
      return false;
    }
    *last = second;
    return true;
  }
  // SkipIfTrue, Jump
  if (node->kind == NodeKind::SkipIfTrue && second != nullptr && second->kind == NodeKind::Jump &&
      second->target != nullptr) {
    if (!emit(compiler, Op::JumpIfFalse, 0, second) || !note_covered(compiler, node, 2)) {
      *failed = true;
      return false;
    }
    *last = second;
    return true;
  }
  return false;
}

// Whether a node ends a statement (or a switch's label), so that nothing it left waits on the
// stack. Braces the compiler took are a statement of their own (see compile_node), and so is a
// definition.
bool ends_statement(const SyntaxNode* node) {
  return node->kind == NodeKind::Semicolon || node->kind == NodeKind::EndIf ||
         node->kind == NodeKind::LoopEnd || node->kind == NodeKind::Else ||
         node->kind == NodeKind::Colon || node->kind == NodeKind::Switch ||
         node->kind == NodeKind::Block || node->kind == NodeKind::FunctionEnd;
}

// A switch: one step chooses the label (the first case equal to its value, else the first default),
// and goes to its statements in a scope of their own. They stand on a stack of their own: when they
// may leave values, they keep them apart, and drop them at the switch's end or on a jump out of it.
bool compile_switch(Compiler* compiler, SyntaxNode* node) {
  std::int32_t labels = 0;
  for (SyntaxNode* label = node->body; label != nullptr; label = label->next) {
    if (label->kind == NodeKind::Default &&
        (label->next == nullptr || label->next->kind != NodeKind::Colon)) {
      return false;
    }
    if (label->kind == NodeKind::Case || label->kind == NodeKind::Default) ++labels;
  }
  const bool framed = compiler->strays || !leaves_no_value(node->body) || may_strand(node->body);
  CompiledFunction* function = compiler->function;
  const std::int32_t at = function->count;
  if (!emit(compiler, Op::Switch, 0, node)) return false;
  function->code[at].b = framed ? 1 : 0;
  for (SyntaxNode* label = node->body; label != nullptr; label = label->next) {
    if ((label->kind == NodeKind::Case || label->kind == NodeKind::Default) &&
        !emit(compiler, Op::CaseEntry, 0, label)) {
      return false;
    }
  }
  if (!emit(compiler, Op::CaseEntry, 0, nullptr)) return false;
  // The labels that are expressions are compiled, each one's code ended by End: the switch runs
  // them in turn. One that makes no value, or holds statements, is reported when it is reached.
  const NameTable* table = function->table;
  for (std::int32_t i = 1; i <= labels; ++i) {
    SyntaxNode* label = function->code[at + i].node;
    if (label->kind != NodeKind::Case || is_literal_label(label)) continue;
    function->code[at + i].target_slot = function->count;
    if (!makes_one_value(label->next, table, Holds::Effects, true) &&
        !gathers_values(label->next, table, true, false)) {
      if (!emit(compiler, Op::Refused, 0, label->next) || !emit(compiler, Op::End, 0, nullptr))
        return false;
      continue;
    }
    // One that makes no one value gathers its values apart; the first is compared.
    const bool gathered = !makes_one_value(label->next, table, Holds::Effects, true);
    if (gathered && !emit(compiler, Op::ListStart, 0, label)) return false;
    bool collecting = compiler->collecting;
    compiler->collecting = true;  // a label's value is gathered, as braces' values are
    compiler->after_statement = false;
    compiler->frames += gathered ? 1 : 0;
    for (SyntaxNode* part = label->next; part->kind != NodeKind::Colon; part = part->next) {
      if (!compile_node(compiler, part)) return false;
    }
    compiler->frames -= gathered ? 1 : 0;
    compiler->collecting = collecting;
    if (!emit(compiler, Op::End, 0, nullptr)) return false;
  }
  if (open_breakable(compiler, node) < 0) return false;
  bool collecting = compiler->collecting;
  compiler->collecting = false;
  ++compiler->depth;
  bool ok = compile_apart(compiler, node->body, framed) &&
            (!framed || emit(compiler, Op::Unwind, 1, node)) &&
            emit(compiler, Op::LeaveScope, compiler->depth, node);
  --compiler->depth;
  compiler->collecting = collecting;
  close_breakable(compiler, -1);  // a switch has no continues of its own
  if (!ok) return false;
  for (std::int32_t i = 1; i <= labels; ++i) {
    Instruction& entry = function->code[at + i];
    entry.a = index_of(compiler, entry.node, false);
    if (entry.a < 0) return false;
    entry.b = entry.node->kind != NodeKind::Case || is_literal_label(entry.node) ? 0 : 2;
  }
  function->code[at + labels + 1].a = function->count;
  return true;
}

bool compile_list(Compiler* compiler, SyntaxNode* list) {
  const SyntaxNode* previous = nullptr;
  for (SyntaxNode* node = list; node != nullptr; previous = node, node = node->next) {
    compiler->after_statement =
        previous == nullptr || ends_statement(previous) || previous->kind == NodeKind::Jump;
    if (node->kind == NodeKind::Function || node->kind == NodeKind::Argmatch ||
        (node->kind == NodeKind::Jump && node->next != nullptr &&
         (node->next->kind == NodeKind::Function || node->next->kind == NodeKind::Argmatch))) {
      // A definition, and the jump over it that leads it: nothing runs. A jump to any of them
      // goes on after the definition.
      SyntaxNode* definition = node->kind == NodeKind::Jump ? node->next : node;
      SyntaxNode* end = definition;
      while (end != nullptr && end->kind != NodeKind::FunctionEnd)
        end = end->next;
      if (end == nullptr || (node->kind == NodeKind::Jump && node->target != end)) return false;
      for (SyntaxNode* marked : {node, definition, end}) {
        if (!note_node(compiler, marked)) return false;
        compiler->marks[compiler->mark_count - 1].end = compiler->function->count;
      }
      node = end;
      continue;
    }
    if (node->kind == NodeKind::Case || node->kind == NodeKind::Default) {
      // A label: where its statements start. Its value is not run here.
      if (!note_node(compiler, node)) return false;
      compiler->marks[compiler->mark_count - 1].end = compiler->function->count;
      while (node->kind != NodeKind::Colon) {
        node = node->next;
        if (node == nullptr) return false;
      }
      continue;
    }
    SyntaxNode* last = nullptr;
    bool failed = false;
    if (compile_sequence(compiler, node, &last, &failed)) {
      node = last;  // `previous` becomes the sequence's last node
      continue;
    }
    if (failed) return false;
    std::int32_t at = compiler->mark_count;
    if (!compile_node(compiler, node)) {
      if (compiler->refused == nullptr) compiler->refused = node;  // the innermost
      return false;
    }
    compiler->marks[at].end = compiler->function->count;
    // Braces note their own (see NodeKind::Block).
    if (node->kind != NodeKind::Block && strands(previous, node)) compiler->strays = true;
  }
  return true;
}

// Resolves the jumps: a Jump goes on after its target; a loop's test leaves for its exit jump, and
// a pass goes on after that jump.
bool resolve(Compiler* compiler) {
  CompiledFunction* function = compiler->function;
  for (std::int32_t i = 0; i < function->count; ++i) {
    Instruction& instruction = function->code[i];
    const SyntaxNode* to = nullptr;  // the node whose instructions the jump goes to, or past
    bool past = true;
    switch (instruction.op) {
      case Op::BreakJump:
      case Op::BreakOut:
        to = instruction.node;
        break;
      case Op::TestJump:
        to = instruction.target->target;
        break;
      case Op::Jump:
        if (instruction.node == nullptr) continue;  // a continue's, set by the loop
        to = instruction.node->target;
        break;
      case Op::JumpIfFalse:
        to = instruction.node->target;
        break;
      case Op::LoopTestOf:
        to = instruction.target->next;
        past = false;
        break;
      case Op::LoopTest:
        to = instruction.node->next;
        past = false;
        break;
      case Op::LoopBack:
        to = instruction.node->next;
        break;
      default:
        continue;
    }
    instruction.a = index_of(compiler, to, past);
    if (instruction.a < 0) return false;
  }
  return true;
}

// Instructions whose `a` is where execution goes on (for a CaseEntry: where its label's
// statements start).
bool jumps(Op op) {
  switch (op) {
    case Op::Jump:
    case Op::BreakJump:
    case Op::BreakOut:
    case Op::TestJump:
    case Op::JumpIfFalse:
    case Op::LoopTestOf:
    case Op::LoopTest:
    case Op::LoopBack:
    case Op::LoopTestBack:
    case Op::CaseEntry:
    case Op::PushPattern:
    case Op::CaptureEntry:
      return true;
    default:
      return false;
  }
}

// Instructions that end with a statement's end, which counts a step as a loop's pass does.
bool counts_step(Op op) {
  return op == Op::Clear || op == Op::AssignClear || op == Op::AssignOf || op == Op::StepClear ||
         op == Op::AssignValue || op == Op::LoopTestBack;
}

Operand operand_of(const SyntaxNode* node) {
  if (node->kind == NodeKind::Name) return {node->name_slot, 0};
  return {-1, node->number};
}

// A comparison's outcomes as Instruction::outcomes has them; 0 for any other operator.
std::uint8_t comparison_outcomes(NodeKind kind) {
  switch (kind) {
    case NodeKind::Less:
      return 0b001;
    case NodeKind::LessEqual:
      return 0b011;
    case NodeKind::Greater:
      return 0b100;
    case NodeKind::GreaterEqual:
      return 0b110;
    case NodeKind::Equal:
      return 0b010;
    case NodeKind::NotEqual:
      return 0b101;
    default:
      return 0;
  }
}

// Where a jump to `to` ends up once the unconditional jumps there are followed (a bounded number:
// an empty endless loop jumps to itself).
std::int32_t final_target(const CompiledFunction* function, std::int32_t to) {
  for (std::int32_t hops = 0; hops < 8 && to < function->count; ++hops) {
    const Instruction& there = function->code[to];
    if (there.op != Op::Jump && there.op != Op::BreakJump) break;
    to = there.a;
  }
  return to;
}

// The operands of the larger instructions from `from` on, decoded from their nodes.
void decode_operands(CompiledFunction* function, std::int32_t from) {
  for (std::int32_t i = from; i < function->count; ++i) {
    Instruction& in = function->code[i];
    if (in.op == Op::BinaryOf || in.op == Op::TestJump || in.op == Op::AssignOf ||
        in.op == Op::LoopTestOf) {
      in.left_operand = operand_of(in.left);
      in.right_operand = operand_of(in.right);
      in.outcomes = comparison_outcomes(in.node->kind);
      if (in.op == Op::AssignOf) in.target_slot = in.target->name_slot;
    }
    if (in.op == Op::AssignValue) {
      in.right_operand = operand_of(in.right);
      in.target_slot = in.target->name_slot;
    }
  }
}

// Once the jumps are resolved: the operands of the larger instructions decoded; jumps to a jump
// go straight to its end; a jump back to a loop's test of two operands becomes a copy of the test
// (the pass goes on from there without the jump); and the instructions no path reaches go, with a
// loop's LoopBack that only went on to a step that counts the pass itself.
bool refine(Compiler* compiler) {
  CompiledFunction* function = compiler->function;
  Instruction* code = function->code;
  const std::int32_t count = function->count;
  decode_operands(function, 0);
  for (std::int32_t i = 0; i < count; ++i) {
    if (jumps(code[i].op)) code[i].a = final_target(function, code[i].a);
  }
  for (std::int32_t i = 0; i < count; ++i) {
    Instruction& in = code[i];
    if ((in.op != Op::Jump && in.op != Op::LoopBack) || in.a >= count ||
        code[in.a].op != Op::LoopTestOf) {
      continue;
    }
    std::int32_t test = in.a;
    in = code[test];
    in.op = Op::LoopTestBack;
    in.b = test + 1;
  }
  // Which instructions a run can reach.
  auto* kept = static_cast<std::uint8_t*>(alloc_block(static_cast<std::size_t>(count) + 1));
  auto* work = static_cast<std::int32_t*>(alloc_block(sizeof(std::int32_t) * (count + 1)));
  auto* moved = static_cast<std::int32_t*>(alloc_block(sizeof(std::int32_t) * (count + 1)));
  bool ok = kept != nullptr && work != nullptr && moved != nullptr;
  if (ok) {
    std::memset(kept, 0, static_cast<std::size_t>(count) + 1);
    std::int32_t waiting = 0;
    auto reach = [&](std::int32_t at) {
      if (at >= 0 && at < count && kept[at] == 0) {
        kept[at] = 1;
        work[waiting++] = at;
      }
    };
    reach(0);
    reach(count - 1);  // the End
    while (waiting > 0) {
      std::int32_t i = work[--waiting];
      const Instruction& in = code[i];
      switch (in.op) {
        case Op::Jump:
        case Op::BreakJump:
        case Op::LoopBack:
          reach(in.a);
          break;
        case Op::LoopTestBack:
          reach(in.a);
          reach(in.b);
          break;
        case Op::Return:
        case Op::Exit:
        case Op::End:
        case Op::CaseEntry:
          break;
        case Op::SkipIfTrue:
          reach(i + 1);
          reach(i + 2);
          break;
        case Op::Switch:
          for (std::int32_t entry = i + 1; entry < count; ++entry) {
            reach(entry);  // its table
            reach(code[entry].a);
            if (code[entry].b == 2) reach(code[entry].target_slot);  // a label's code
            if (code[entry].node == nullptr) break;
          }
          break;
        default:
          reach(i + 1);
          if (jumps(in.op)) reach(in.a);
          break;
      }
    }
    // A LoopBack that goes on to the next instruction kept, which counts the pass, is not needed.
    for (std::int32_t i = 0; i < count; ++i) {
      if (kept[i] == 0 || code[i].op != Op::LoopBack) continue;
      std::int32_t next = i + 1;
      while (next < count && kept[next] == 0)
        ++next;
      if (next < count && code[i].a == next && counts_step(code[next].op)) kept[i] = 0;
    }
    // Each instruction's new place; one that goes is replaced by the next one kept.
    std::int32_t place = 0;
    for (std::int32_t i = 0; i < count; ++i) {
      work[i] = place;
      place += kept[i];
    }
    work[count] = place;
    std::int32_t last = count;
    for (std::int32_t i = count - 1; i >= 0; --i) {
      if (kept[i] != 0) last = i;
      moved[i] = work[last];
    }
    moved[count] = place;
    std::int32_t out = 0;
    for (std::int32_t i = 0; i < count; ++i) {
      if (kept[i] == 0) continue;
      Instruction in = code[i];
      if (jumps(in.op) && in.a >= 0 && in.a <= count) in.a = moved[in.a];
      if (in.op == Op::LoopTestBack) in.b = moved[in.b];
      if (in.op == Op::CaseEntry && in.b == 2) in.target_slot = moved[in.target_slot];
      code[out++] = in;
    }
    function->count = out;
    // The larger instructions of a name and a number.
    for (std::int32_t i = 0; i < out; ++i) {
      Instruction& in = code[i];
      if (in.left == nullptr || in.right == nullptr || in.left->kind != NodeKind::Name ||
          in.right->kind != NodeKind::Number) {
        continue;
      }
      switch (in.op) {
        case Op::TestJump:
          in.op = Op::TestJumpConst;
          break;
        case Op::LoopTestOf:
          in.op = Op::LoopTestOfConst;
          break;
        case Op::LoopTestBack:
          in.op = Op::LoopTestBackConst;
          break;
        case Op::BinaryOf:
          in.op = Op::BinaryOfConst;
          break;
        case Op::AssignOf:
          in.op = Op::AssignOfConst;
          break;
        default:
          break;
      }
    }
    // A name whose value the next instruction only reads (a plain number needs no variable then).
    for (std::int32_t i = 0; i + 1 < out; ++i) {
      if (code[i].op != Op::PushName) continue;
      Op next = code[i + 1].op;
      code[i].b = next == Op::Return || next == Op::Exit || next == Op::JumpIfFalse ||
                          next == Op::SkipIfTrue || next == Op::LoopTest || next == Op::Binary ||
                          next == Op::Index || next == Op::Interpolate
                      ? 1
                      : 0;
    }
  }
  release(&kept);
  release(&work);
  release(&moved);
  return ok;
}

void free_compiled(CompiledFunction* function) {
  if (function == nullptr || function == kNotCompiled) return;
  release(&function->code);
  release(&function->parameters);
  release(&function->name_hashes);
  for (std::int32_t i = 0; i < function->template_count; ++i)
    free_text_template(function->templates[i]);
  release(&function->templates);
  for (std::int32_t i = 0; i < function->target_count; ++i)
    free_syntax_node(&function->targets[i]);
  release(&function->targets);
  release(&function);
}

// The Call node that names the function and holds its body.
SyntaxNode* definition_call(SyntaxNode* head) {
  SyntaxNode* node = head->next;
  while (node != nullptr && node->next != nullptr && node->next->kind != NodeKind::FunctionEnd)
    node = node->next;
  return node != nullptr && node->kind == NodeKind::Call ? node : nullptr;
}

// A compiled form of code whose names are the table's, with room for `parameters` parameters and
// no code yet; null when memory ran out.
CompiledFunction* new_compiled(const NameTable* table, std::int32_t parameters) {
  CompiledFunction* function = alloc_record<CompiledFunction>();
  if (function == nullptr) return nullptr;
  function->table = table;
  function->slot_count = table->count;
  function->implicit_names = table->module == nullptr || table->module->is_explicit == 0;
  function->arg_slot = -1;
  function->parameters = static_cast<Parameter*>(alloc_block(sizeof(Parameter) * (parameters + 1)));
  function->name_hashes =
      static_cast<std::int32_t*>(alloc_block(sizeof(std::int32_t) * (table->count + 1)));
  if (function->parameters == nullptr || function->name_hashes == nullptr) {
    free_compiled(function);
    return nullptr;
  }
  for (std::int32_t slot = 0; slot < table->count; ++slot)
    function->name_hashes[slot] = name_hash_of(table->names[slot]);
  return function;
}

// Compiles the body into the form: false (the form freed) when memory ran out. Code of a shape
// that no statement the parser takes has (a jump without its target, a label without its colon)
// makes a form whose run reports a "Sentence error" there.
bool compile_code(CompiledFunction* function, SyntaxNode* body) {
  const std::uint32_t failures = allocation_failures();
  Compiler compiler{};
  compiler.function = function;
  // Each parameter is bound (or the call fails) before the body runs.
  for (std::int32_t i = 0; i < function->parameter_count; ++i) {
    if (function->parameters[i].slot >= 0) mark_bound(&compiler, function->parameters[i].node);
  }
  note_bound_prefix(&compiler, body);
  bool ok = compile_list(&compiler, body) && emit(&compiler, Op::End, 0, nullptr) &&
            resolve(&compiler) && refine(&compiler);
  if (!ok && allocation_failures() == failures) {
    Compiler refused{};
    refused.function = function;
    function->count = 0;
    ok = emit(&refused, Op::Refused, 0, compiler.refused != nullptr ? compiler.refused : body) &&
         emit(&refused, Op::End, 0, nullptr);
    release_compiler(&compiler);
    compiler = refused;
  }
  function->table_sizes = {function->slot_count + compiler.declarations, compiler.most_depth + 2,
                           compiler.most_steps, compiler.most_calls};
  settle_table_sizes(function);
  release_compiler(&compiler);
  if (!ok) free_compiled(function);
  return ok;
}

// Code compiled after the body's End, from `from` on, made ready to run (it has no jumps), and
// the tables its run needs added to the body's.
void finish_appended(CompiledFunction* function, const Compiler& compiler, std::int32_t from) {
  decode_operands(function, from);
  TableSizes& sizes = function->table_sizes;
  sizes.declared += compiler.declarations;
  sizes.scopes = std::max(sizes.scopes, compiler.most_depth + 2);
  sizes.pending = std::max(sizes.pending, compiler.most_steps);
  sizes.calls = std::max(sizes.calls, compiler.most_calls);
  settle_table_sizes(function);
}

// The capture tables of the pattern parameters, after the body's End: their targets run in the
// binding mode, where the call's search binds them. A parameter left without one (its targets'
// code was refused) reports a "Sentence error" when it is bound. False when memory ran out.
bool compile_parameter_captures(CompiledFunction* function) {
  for (std::int32_t i = 0; i < function->parameter_count; ++i) {
    Parameter& parameter = function->parameters[i];
    if (parameter.slot != kPatternPlace) continue;
    Compiler compiler{};
    compiler.function = function;
    compiler.binding = true;
    const std::int32_t at = function->count;
    bool no_memory = false;
    // The targets run where the call has not reached any code of its own yet: at no position.
    if (compile_capture_table(&compiler, parameter.node, nullptr, &no_memory)) {
      parameter.captures_at = at;
      finish_appended(function, compiler, at);
    }
    release_compiler(&compiler);
    if (no_memory) return false;
  }
  return true;
}

// The parameter whose place starts at a node of the parameters' code, or null.
const Parameter* parameter_at(const CompiledFunction* function, const SyntaxNode* node) {
  for (std::int32_t i = 0; i < function->parameter_count; ++i) {
    if (function->parameters[i].node == node) return &function->parameters[i];
  }
  return nullptr;
}

// Whether a node of the parameters' code is the name of a parameter called "arg".
bool is_arg_parameter(const CompiledFunction* function, const SyntaxNode* node) {
  const Parameter* parameter = parameter_at(function, node);
  return parameter != nullptr && parameter->is_arg;
}

// Whether a node of the parameters' code is a pattern parameter's own, in its place alone: its
// value goes unread there.
bool is_pattern_parameter(const CompiledFunction* function, const SyntaxNode* node) {
  if (node->kind != NodeKind::Pattern ||
      (node->next != function->call && node->next->kind != NodeKind::Comma)) {
    return false;
  }
  const Parameter* parameter = parameter_at(function, node);
  return parameter != nullptr && parameter->slot == kPatternPlace;
}

// Whether a node of the parameters' code (their names, defaults and commas) is of what that code
// is made of: names of the function's own slots, numbers, literals and patterns, indexes, calls,
// assignments, operators and braces that make a list of the same.
bool is_parameter_code(const CompiledFunction* function, const SyntaxNode* node) {
  const NameTable* table = function->table;
  NodeKind kind = node->kind;
  return kind == NodeKind::Number || kind == NodeKind::Comma || kind == NodeKind::Assign ||
         kind == NodeKind::Index || kind == NodeKind::CallStart ||
         (kind == NodeKind::Call && node->text != nullptr) || kind == NodeKind::String ||
         ((kind == NodeKind::Name || kind == NodeKind::DeclareName) && is_slot_name(node, table)) ||
         is_arg_parameter(function, node) || (kind == NodeKind::Name && is_arg_name(node, table)) ||
         is_binary_operator(kind) || is_unary_operator(kind) || kind == NodeKind::ApplyPostfix ||
         kind == NodeKind::Pattern ||
         (kind == NodeKind::Block && compiles_as_list(node->body, table, false, true));
}

// The parameters' code, after the body's End, for the calls that give fewer arguments than there
// are parameters: it runs from the first parameter without an argument, so that each declares
// itself and takes its default. Code of another kind, which no definition the parser takes holds,
// is reported as a "Sentence error" when the run reaches it. False when memory ran out.
bool compile_defaults(CompiledFunction* function) {
  if (function->parameter_count == 0) return true;
  const std::uint32_t failures = allocation_failures();
  Compiler compiler{};
  compiler.function = function;
  compiler.binding = true;
  const std::int32_t first = function->count;
  bool ok = true;
  std::int32_t next = 0;
  for (SyntaxNode* node = function->parameters[0].node; ok && node != function->call;
       node = node->next) {
    if (next < function->parameter_count && node == function->parameters[next].node)
      function->parameters[next++].defaults_at = function->count;
    if (is_arg_parameter(function, node)) {
      // Declared as any parameter is (the call's `arg` is made in it once all are bound), not
      // as a `var arg` would be.
      ok = emit(&compiler, Op::Declare, 0, node);
      continue;
    }
    if (is_pattern_parameter(function, node)) {
      // Its value, left behind: no assignment binds its captures.
      const std::int32_t at = function->count;
      ok = emit(&compiler, Op::PushPattern, 0, node);
      if (ok) function->code[at].a = function->count;
      continue;
    }
    ok = is_parameter_code(function, node) ? compile_node(&compiler, node)
                                           : emit(&compiler, Op::Refused, 0, node);
  }
  ok = ok && next == function->parameter_count && emit(&compiler, Op::End, 0, nullptr);
  if (!ok && allocation_failures() == failures) {
    // Refused on the way: every call that runs any of it reports it where the parameters start.
    function->count = first;
    ok = emit(&compiler, Op::Refused, 0, function->parameters[0].node) &&
         emit(&compiler, Op::End, 0, nullptr);
    for (std::int32_t i = 0; i < function->parameter_count; ++i)
      function->parameters[i].defaults_at = first;
  }
  release_compiler(&compiler);
  if (!ok) return false;
  finish_appended(function, compiler, first);
  for (std::int32_t i = 0; i < function->parameter_count; ++i) {
    Parameter& parameter = function->parameters[i];
    parameter.without_default = parameter_without_default(parameter.node, function->call);
  }
  return true;
}

// Not inline: the compiler's state is large, and would sit in the frame of every compiled call.
[[gnu::noinline]] CompiledFunction* compile_function(FunctionEntry* entry) {
  SyntaxNode* head = entry->definition;
  if (head == nullptr || (head->kind != NodeKind::Function && head->kind != NodeKind::Argmatch) ||
      head->name_table == nullptr) {
    return nullptr;
  }
  const NameTable* table = head->name_table;
  SyntaxNode* call = definition_call(head);
  if (call == nullptr) return nullptr;  // an empty body (no statements) compiles to its End
  // Parameters: a name each, with or without a default.
  std::int32_t count = 0;
  for (SyntaxNode* node = head->next; node != nullptr && node != call; node = node->next)
    ++count;
  CompiledFunction* function = new_compiled(table, count);
  if (function == nullptr) return nullptr;
  bool ok = true;
  // Each place a parameter takes (the first, and each after a top-level comma) starts with a
  // name or a pattern. A default is code that runs when the arguments run out.
  function->call = call;
  function->arg_slot = find_name_slot(table, "arg");
  for (SyntaxNode* node = head->next; ok && node != call;) {
    if (node != nullptr && node->kind == NodeKind::Pattern && node->pattern != nullptr) {
      // A pattern in place of a name: the argument's text is searched, its captures bound.
      function->parameters[function->parameter_count++] = {kPatternPlace, false, node, -1, nullptr};
      node = next_parameter(node, call);
      continue;
    }
    ok = node != nullptr;
    if (!ok) break;
    if (node->kind != NodeKind::DeclareName || node->text == nullptr || node->name_table != table ||
        node->name_slot < 0) {
      // No name in this place (two commas, or code): an argument that reaches it is reported.
      function->parameters[function->parameter_count++] = {kEmptyPlace, false, node, -1, nullptr};
      node = next_parameter(node, call);
      continue;
    }
    // A name given twice is reported when the second is bound (its slot holds the first).
    Parameter& parameter = function->parameters[function->parameter_count++];
    parameter = {node->name_slot, node->text[0] == '&', node, -1, nullptr};
    if (node->text[0] == '&') function->takes_references = true;
    if (node->number == kArgNameHash && same_name(bare_name(node), "arg")) {
      // The call's `arg` is made in it: calls give the arguments as a chain.
      parameter.is_arg = true;
      function->binds_arg = true;
      function->reads_arguments = true;
    }
    node = next_parameter(node, call);
  }
  if (!ok) {
    free_compiled(function);
    return nullptr;
  }
  if (!compile_code(function, call->body)) return nullptr;
  if (!compile_parameter_captures(function) || !compile_defaults(function)) {
    free_compiled(function);
    return nullptr;
  }
  return function;
}

}  // namespace

compiled_body::CompiledFunction* compile_top_level(Script* module) {
  if (module->code == nullptr || module->top_names == nullptr) return nullptr;
  const std::uint32_t failures = allocation_failures();
  CompiledFunction* function = new_compiled(module->top_names, 0);
  if (function == nullptr || !compile_code(function, module->code)) return nullptr;
  // A part refused for want of memory would report a "Sentence error" for good.
  if (allocation_failures() != failures) {
    free_compiled(function);
    return nullptr;
  }
  return function;
}

void free_top_level(compiled_body::CompiledFunction* function) {
  free_compiled(function);
}

compiled_body::CompiledFunction* compiled_form(FunctionEntry* entry) {
  std::atomic_ref<void*> slot(entry->compiled);
  void* known = slot.load(std::memory_order_acquire);
  if (known != nullptr)
    return known != kNotCompiled ? static_cast<CompiledFunction*>(known) : nullptr;
  const std::uint32_t failures = allocation_failures();
  CompiledFunction* made = compile_function(entry);
  // Memory that ran out may be there at the next call: that one tries again. A form made while
  // some request failed may hold a part refused for it, which would report a "Sentence error".
  if (allocation_failures() != failures) {
    free_compiled(made);
    return nullptr;
  }
  void* published = made != nullptr ? made : kNotCompiled;
  if (!slot.compare_exchange_strong(known, published, std::memory_order_acq_rel)) {
    free_compiled(made);
    return known != kNotCompiled ? static_cast<CompiledFunction*>(known) : nullptr;
  }
  return made;
}

bool compiled_form_refused(FunctionEntry* entry) {
  return std::atomic_ref<void*>(entry->compiled).load(std::memory_order_acquire) == kNotCompiled;
}

void free_compiled_form(FunctionEntry* entry) {
  free_compiled(static_cast<CompiledFunction*>(entry->compiled));
  entry->compiled = nullptr;
}
