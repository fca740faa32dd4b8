#include "engine/function_vm.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <string_view>

#include "base/syntax_node.h"
#include "engine/call.h"
#include "engine/cells.h"
#include "engine/engine.h"
#include "engine/error_report.h"
#include "engine/evaluate.h"
#include "engine/function_code.h"
#include "engine/name_table.h"
#include "engine/number_ops.h"
#include "engine/operators.h"
#include "engine/retire.h"
#include "engine/script.h"
#include "platform/memory.h"
#include "regex/match.h"

namespace {

using namespace compiled_body;

// The small steps of the loop: inline in optimised builds, where their values stay in registers.
// Unoptimised (the sanitizer build), each inlined copy would keep its own stack slots in run()'s
// frame, which every level of a recursion pays.
#ifdef __OPTIMIZE__
#define VM_INLINE [[gnu::always_inline]] inline
#else
#define VM_INLINE [[gnu::noinline]]
#endif

enum class Kind : std::uint8_t { Number, Variable, Cell, Marker, Text };

// What a frame's start keeps of the frame around it (see open_frame).
struct OuterFrame {
  std::int32_t calls;
  std::int32_t pending;
};

struct Entry {
  union {
    ValueNode* cell;            // Variable: the variable (or element); Cell: owned
    const SyntaxNode* literal;  // Text: a plain literal, read in place
    OuterFrame outer;           // Marker at a frame's start
  };
  std::int32_t number;  // Number: the number; Variable: kElementEntry for an element; Marker at
                        // a frame's start: the outer list_base
  Kind kind;
};

// An element stands on the stack as a variable does, but lends no name to a call's arguments (a
// reference to it would have none).
constexpr std::int32_t kElementEntry = 1;

Entry number_entry(std::int32_t number) {
  Entry entry{};
  entry.number = number;
  entry.kind = Kind::Number;
  return entry;
}

// A variable's entry (Kind::Variable) or an owned cell's (Kind::Cell).
Entry cell_entry(ValueNode* cell, Kind kind) {
  Entry entry{};
  entry.cell = cell;
  entry.kind = kind;
  return entry;
}

Entry text_entry(const SyntaxNode* literal) {
  Entry entry{};
  entry.literal = literal;
  entry.kind = Kind::Text;
  return entry;
}

const char* literal_text(const Entry& entry) {
  return entry.literal->text != nullptr ? entry.literal->text : "";
}

// A literal's text that a call gave back stays in place on the caller's stack (the code it lies
// in lives as long as the script set), marked by `number`: it is a value now, not the literal, and
// lends no pattern.
constexpr std::int32_t kReturnedText = 1;
CompiledPattern* pattern_of(const Entry& entry) {
  return entry.number == kReturnedText ? nullptr : entry.literal->pattern;
}

struct Pending {
  Value* value;
  std::int32_t delta;
};

// The stack starts in the activation record and grows as far as memory allows.
constexpr std::int32_t kInlineStack = 64;

// A cell that an argument of a built-in which only reads its arguments is given as, kept in the
// activation record: such a call needs no cells made and freed for its numbers, literals and
// variables. `counted`: it refers to a shared Value, counted as any reference to one is.
struct ArgumentCell {
  ValueNode cell;
  Value value;
  bool counted;
};
constexpr std::int32_t kArgumentCells = 8;
constexpr std::int32_t kInlineParked = 16;

// Made by make_activation (memory, not constructed) and set up at each call.
struct Activation {
  CallContext* context;
  const CompiledFunction* function;
  const char** slot_names;          // the function's table's names, by slot
  const std::int32_t* name_hashes;  // and their signatures
  ValueNode** slots;
  // Per slot, a variable its braces left, kept for the slot's next declaration: braces in a loop
  // declare their names at every pass.
  ValueNode** parked;
  Entry* stack;  // inline_stack, or a larger block of its own
  std::int32_t capacity;
  std::int32_t height;
  // Slots in declaration order, each with the variable a `var` hid there, to be seen again when
  // the declaration's braces end. Slot -1: `hidden` is a variable of the frame's chain, of a name
  // the code's table lacks (see adopt_declared).
  struct Declared {
    std::int32_t slot;
    ValueNode* hidden;
  };
  // The tables below are the record's inline ones, or for a function that needs larger ones, in
  // a block of their own (`large_tables`) that the record keeps for its next runs.
  Declared* declared;
  std::int32_t declared_count;
  std::int32_t* scope_marks;
  std::int32_t scope_count;
  Pending* pending;
  std::int32_t pending_count;
  std::int32_t* call_marks;  // pending_count at each open call
  std::int32_t* call_bases;  // and where its marker stands on the stack
  std::int32_t open_calls;
  std::int32_t* numbers;  // by slot, where the slot holds kHeldNumber
  TableSizes sizes;       // what the tables hold
  void* large_tables;
  std::int32_t break_count;  // loops or switches a break with a count has still to leave
  // The last variable of the frame's chain that adopt_declared has seen, or null.
  ValueNode* chain_seen;
  // A name of the table that no global has may take its parked variable (see resolve_missing):
  // the frame runs its own module's code, and names need no `var`.
  bool reuse_parked;
  // A function's call keeps its plain numbers in `numbers` (see kHeldNumber); a top level's
  // variables outlive the run as globals, and are all variables.
  bool holds_numbers;
  // Some slot may hold kHeldNumber: materialize_all has work to do.
  bool numbers_held;
  // The run ended at an exit (which ends an event's dispatch), not at a return or the end.
  bool exited;
  // Where the values of the innermost braces being made into a list start (0 outside any): a
  // comma there stands for a value of its own, as at a statement's start.
  std::int32_t list_base;
  // The calls open and the postfix steps waiting where the innermost frame started. Its values
  // stand apart from those before it: an expression's end there applies the steps made since,
  // unless a call opened since is still open.
  std::int32_t list_calls;
  std::int32_t list_pending;
  Activation* next_spare;
  // `parked` for a function of as many names or fewer. Its variables outlive the call, for the
  // next call made at this depth, whatever function it runs: a variable is given its slot's name
  // when it is taken (the name it had may have gone with its table).
  ValueNode* inline_parked[kInlineParked];
  ArgumentCell argument_cells[kArgumentCells];
  ArgumentCell reader_result;  // the result cell of a call_reader
  // The frame of a function's call run in this record, kept blank between calls: clearing a new
  // one at every call would cost more than the call's own steps.
  CallContext frame;
  Entry inline_stack[kInlineStack];
  Declared inline_declared[kInlineTables.declared];
  std::int32_t inline_scope_marks[kInlineTables.scopes];
  Pending inline_pending[kInlineTables.pending];
  std::int32_t inline_call_marks[kInlineTables.calls];
  std::int32_t inline_call_bases[kInlineTables.calls];
  std::int32_t inline_numbers[kInlineTables.declared];
};

// The bytes tables of the given sizes take in one block; with a record, its tables are placed
// there, from `block` on.
std::size_t lay_out_tables(Activation* a, char* block, const TableSizes& sizes) {
  std::size_t used = 0;
  auto take = [&used, block](std::size_t bytes) {
    void* taken = block != nullptr ? block + used : nullptr;
    used += (bytes + 7) & ~std::size_t{7};
    return taken;
  };
  void* declared = take(sizeof(Activation::Declared) * sizes.declared);
  void* numbers = take(sizeof(std::int32_t) * sizes.declared);
  void* scope_marks = take(sizeof(std::int32_t) * sizes.scopes);
  void* pending = take(sizeof(Pending) * sizes.pending);
  void* call_marks = take(sizeof(std::int32_t) * sizes.calls);
  void* call_bases = take(sizeof(std::int32_t) * sizes.calls);
  if (a != nullptr) {
    a->declared = static_cast<Activation::Declared*>(declared);
    a->numbers = static_cast<std::int32_t*>(numbers);
    a->scope_marks = static_cast<std::int32_t*>(scope_marks);
    a->pending = static_cast<Pending*>(pending);
    a->call_marks = static_cast<std::int32_t*>(call_marks);
    a->call_bases = static_cast<std::int32_t*>(call_bases);
  }
  return used;
}

// The record's tables in `block` (null: its inline ones), of the given sizes.
void place_tables(Activation* a, void* block, const TableSizes& sizes) {
  a->large_tables = block;
  a->sizes = sizes;
  if (block == nullptr) {
    a->declared = a->inline_declared;
    a->scope_marks = a->inline_scope_marks;
    a->pending = a->inline_pending;
    a->call_marks = a->inline_call_marks;
    a->call_bases = a->inline_call_bases;
    a->numbers = a->inline_numbers;
    return;
  }
  lay_out_tables(a, static_cast<char*>(block), sizes);
}

[[gnu::noinline]] bool grow_tables(Activation* a, const CompiledFunction* function) {
  const TableSizes& needs = function->table_sizes;
  const TableSizes& has = a->sizes;
  TableSizes sizes{std::max(needs.declared, has.declared), std::max(needs.scopes, has.scopes),
                   std::max(needs.pending, has.pending), std::max(needs.calls, has.calls)};
  void* block = alloc_block(lay_out_tables(nullptr, nullptr, sizes));
  if (block == nullptr) return false;
  release(&a->large_tables);
  place_tables(a, block, sizes);
  return true;
}

// Tables large enough for a run of `function` (see TableSizes); any record's inline ones serve
// most. Only between runs: what the tables held is not kept. False when memory ran out.
inline bool fit_tables(Activation* a, const CompiledFunction* function) {
  if (!function->large_tables) return true;
  const TableSizes& needs = function->table_sizes;
  const TableSizes& has = a->sizes;
  if (needs.declared <= has.declared && needs.scopes <= has.scopes &&
      needs.pending <= has.pending && needs.calls <= has.calls) {
    return true;
  }
  return grow_tables(a, function);
}

// What a slot holds for a variable that is a plain number, kept in the record's `numbers` until
// something needs the variable itself (a reference to it, or a lookup by name, which finds the
// frame's variables through the slots): most locals are counters and parameters that never
// need one. It is no variable: a blank node, never dereferenced, which no chain and no name
// refers to.
constinit ValueNode HeldNumberMark{};
ValueNode* const kHeldNumber = &HeldNumberMark;

Activation* make_activation() {
  auto* a = static_cast<Activation*>(alloc_block(sizeof(Activation)));
  if (a == nullptr) return nullptr;
  a->stack = a->inline_stack;
  a->capacity = kInlineStack;
  place_tables(a, nullptr, kInlineTables);
  std::memset(static_cast<void*>(a->inline_parked), 0, sizeof(a->inline_parked));
  a->frame = CallContext{};
  return a;
}

// A variable of the record's that goes: its name is a table's.
[[gnu::noinline]] void free_variable(ValueNode* variable) {
  variable->name = nullptr;
  free_variables(variable);
}

// Frees the first `count` parked variables, and empties their places.
void free_parked(ValueNode** parked, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) {
    if (parked[i] != nullptr) {
      free_variable(parked[i]);
      parked[i] = nullptr;
    }
  }
}

void free_activation(Activation* a) {
  free_parked(a->inline_parked, kInlineParked);
  if (a->stack != a->inline_stack) release(&a->stack);
  release(&a->large_tables);
  release(&a);
}

// Room for one more entry. False when memory ran out (reported).
bool grow_stack(Activation* a) {
  std::int32_t capacity = a->capacity * 2;
  auto* grown = static_cast<Entry*>(alloc_block(sizeof(Entry) * capacity));
  if (grown == nullptr) return false;
  std::memcpy(static_cast<void*>(grown), a->stack, sizeof(Entry) * a->height);
  if (a->stack != a->inline_stack) release(&a->stack);
  a->stack = grown;
  a->capacity = capacity;
  return true;
}

void release_entry(const Entry& entry) {
  if (entry.kind == Kind::Cell) free_node(entry.cell);
}

ValueNode* cell_of(const Entry& entry) {
  switch (entry.kind) {
    case Kind::Number:
      return make_number_cell(entry.number);
    case Kind::Variable:
      return make_reference(entry.cell);
    case Kind::Cell:
      return entry.cell;
    case Kind::Text: {
      ValueNode* cell = make_node();
      char* text = cell != nullptr ? dup_string(literal_text(entry)) : nullptr;
      if (text == nullptr) {
        free_node(cell);
        return nullptr;
      }
      store_scalar(cell->value, 1, 0, text);
      cell->pattern = pattern_of(entry);
      return cell;
    }
    case Kind::Marker:
      break;
  }
  return nullptr;
}

bool plain_number(const Entry& entry, std::int32_t* number) {
  if (entry.kind == Kind::Number) {
    *number = entry.number;
    return true;
  }
  if (entry.kind == Kind::Text) return false;
  const ValueNode* cell = entry.cell;
  if (entry.kind == Kind::Cell && cell->is_hash) return false;
  const Value* value = cell->value;
  if (is_shared_value(value) || value->is_string) return false;
  *number = value->data.number;
  return true;
}

// A scalar that is a number, a shared one too, as a number; false for a string or a whole hash.
bool scalar_number(const Entry& entry, std::int32_t* number) {
  if (plain_number(entry, number)) return true;
  if (entry.kind == Kind::Text || (entry.kind == Kind::Cell && entry.cell->is_hash)) return false;
  const Value* value = entry.cell->value;
  if (!is_shared_value(value)) return false;  // a string
  ScalarSnapshot scalar = read_scalar(value);
  if (scalar.is_string != 0) return false;
  *number = scalar.number;
  return true;
}

bool is_true(const Entry& entry) {
  if (entry.kind == Kind::Number) return entry.number != 0;
  if (entry.kind == Kind::Text) return literal_text(entry)[0] != '\0';
  return value_is_true(entry.cell->value);
}

// An entry's scalar as text: a string's bytes, or a number in decimal. Hashes have none.
ScalarSnapshot snapshot_of(const Entry& entry) {
  if (entry.kind == Kind::Variable || entry.kind == Kind::Cell)
    return read_scalar(entry.cell->value);
  return ScalarSnapshot(0, entry.number, nullptr, nullptr);
}

struct EntryText {
  explicit EntryText(const Entry& entry) : scalar(snapshot_of(entry)) {
    if (entry.kind == Kind::Text) {
      text = literal_text(entry);
      is_string = true;
    } else {
      is_string = scalar.is_string != 0;
      text = is_string ? (scalar.text != nullptr ? scalar.text : "")
                       : format_number(scalar.number, digits);
    }
  }
  ScalarSnapshot scalar;
  char digits[12];
  const char* text;
  bool is_string;
};

enum class Done { Not, Done, Failed };

// ==, !=, + and =~ of two scalars of which one is a string, as binary_result does them:
// the texts compared or joined (into a temporary's own string when it stands on the left), or the
// left one searched with a literal's pattern. Done::Not when the pair is not such, or a string
// could not be read or made: nothing changed then. Done::Failed after a reported failure.
[[gnu::noinline]] Done string_binary(Activation* a, NodeKind kind) {
  if (kind != NodeKind::Equal && kind != NodeKind::NotEqual && kind != NodeKind::Add &&
      kind != NodeKind::Match) {
    return Done::Not;
  }
  Entry& l = a->stack[a->height - 2];
  Entry& r = a->stack[a->height - 1];
  if ((l.kind == Kind::Cell && l.cell->is_hash) || (r.kind == Kind::Cell && r.cell->is_hash))
    return Done::Not;
  if (kind == NodeKind::Match && (r.kind != Kind::Text || pattern_of(r) == nullptr))
    return Done::Not;
  Entry result{};
  {
    EntryText left(l);
    EntryText right(r);
    if ((!left.is_string && !right.is_string) || left.scalar.failed || right.scalar.failed)
      return Done::Not;
    if (kind == NodeKind::Match) {
      std::int32_t found = pattern_test(a->context, r.literal->pattern, left.text);
      if (found == PATTERN_SEARCH_FAILED) return Done::Failed;
      result = number_entry(found);
    } else if (kind != NodeKind::Add) {
      bool equal = texts_equal(left.text, right.text);
      result = number_entry((kind == NodeKind::Equal) == equal ? 1 : 0);
    } else if (Value* own = l.kind == Kind::Cell && is_temporary(l.cell) ? l.cell->value : nullptr;
               own != nullptr && !is_shared_value(own) && own->is_string &&
               own->data.text != nullptr) {
      // Nothing else refers to a temporary's string, so the right text never lies in it.
      char* joined = append_string(own->data.text, right.text);
      if (joined == nullptr) return Done::Not;
      own->data.text = joined;
      release_entry(r);
      --a->height;
      return Done::Done;
    } else {
      char* joined = concat_strings(left.text, right.text);
      ValueNode* cell = joined != nullptr ? make_node() : nullptr;
      if (cell == nullptr) {
        release(&joined);
        return Done::Not;
      }
      store_scalar(cell->value, 1, 0, joined);
      result = cell_entry(cell, Kind::Cell);
    }
  }
  release_entry(l);
  release_entry(r);
  a->height -= 2;
  a->stack[a->height++] = result;
  return Done::Done;
}

bool fail(CallContext* context, const char* message) {
  report_error(context, message, context->position, 0);
  return false;
}

bool push_grown(Activation* a, Entry entry) {
  if (!grow_stack(a)) {
    release_entry(entry);
    return fail(a->context, "Alloc failed");
  }
  a->stack[a->height++] = entry;
  return true;
}

VM_INLINE bool push(Activation* a, Entry entry) {
  if (a->height == a->capacity) return push_grown(a, entry);
  a->stack[a->height++] = entry;
  return true;
}

// Variables that something besides the loop declared in the frame's chain while it ran (a lookup
// by name, which makes the call's `arg` on first use) belong to the innermost braces. Those of the
// table's names are left to their slots; the others stay in the frame's chain, where the lookups
// by name find them. `arg` belongs to the whole call.
[[gnu::noinline]] void adopt_declared(Activation* a) {
  CallContext* frame = a->context;
  const NameTable* table = a->function->table;
  ValueNode** link = a->chain_seen != nullptr ? &a->chain_seen->next : &frame->locals;
  while (ValueNode* cell = *link) {
    bool room = a->declared_count < a->sizes.declared;  // else the call keeps it
    std::int32_t slot = cell->name != nullptr ? find_name_slot(table, cell->name) : -1;
    if (room && slot >= 0 && a->slots[slot] == cell) {
      *link = cell->next;
      cell->next = nullptr;
      if (frame->keeps_locals != 0) {
        // A top level's variable: it borrows the table's name as long as the record holds it,
        // as those the record declares do (keep_top_level_variables gives it its own again).
        release(&cell->name);
        cell->name = const_cast<char*>(table->names[slot]);
      }
      a->declared[a->declared_count++] = {slot, nullptr};
      continue;
    }
    if (room && slot < 0 && !(cell->name_hash == kArgNameHash && same_name(cell->name, "arg")))
      a->declared[a->declared_count++] = {-1, cell};
    a->chain_seen = cell;
    link = &cell->next;
  }
  frame->last_local = a->chain_seen;
}

// Takes a variable of a name the table lacks out of the frame's chain.
void unlink_from_chain(Activation* a, ValueNode* variable) {
  CallContext* frame = a->context;
  ValueNode* previous = nullptr;
  for (ValueNode** link = &frame->locals; *link != nullptr;
       previous = *link, link = &(*link)->next) {
    if (*link != variable) continue;
    *link = variable->next;
    variable->next = nullptr;
    if (a->chain_seen == variable) a->chain_seen = previous;
    if (frame->last_local == variable) frame->last_local = previous;
    return;
  }
}

bool materialize_all(Activation* a);

// A variable whose braces or call ended: kept blank for the slot's next declaration when it is a
// plain one of its own that nothing else refers to, else freed.
VM_INLINE void park_or_free(Activation* a, std::int32_t slot, ValueNode* variable) {
  Value* value = variable->value;
  if (a->parked[slot] == nullptr && value->owner == variable && !value->shared &&
      variable->elements == nullptr && variable->next == nullptr) {
    if (value->is_string) release(&value->data.text);
    value->is_string = 0;
    value->data.number = 0;
    variable->pattern = nullptr;
    variable->is_hash = 0;
    a->parked[slot] = variable;
    return;
  }
  free_variable(variable);
}

void leave_scope(Activation* a) {
  std::int32_t mark = a->scope_marks[--a->scope_count];
  while (a->declared_count > mark) {
    const Activation::Declared& declared = a->declared[--a->declared_count];
    if (declared.slot < 0) {
      unlink_from_chain(a, declared.hidden);
      free_variables(declared.hidden);
      continue;
    }
    ValueNode* variable = a->slots[declared.slot];
    a->slots[declared.slot] = declared.hidden;
    if (variable != kHeldNumber) park_or_free(a, declared.slot, variable);
  }
}

// leave_scope in place for its commonest case, braces that declared one plain number of the
// table (a loop's body that declares its name at every pass); false, with nothing changed, for any
// other.
VM_INLINE bool leave_one(Activation* a) {
  const std::int32_t count = a->declared_count - 1;
  const Activation::Declared& declared = a->declared[count];
  const std::int32_t slot = declared.slot;
  if (count != a->scope_marks[a->scope_count - 1] || slot < 0) return false;
  ValueNode* variable = a->slots[slot];
  if (variable == kHeldNumber) {
    a->slots[slot] = declared.hidden;
    a->declared_count = count;
    --a->scope_count;
    return true;
  }
  if (a->parked[slot] != nullptr) return false;
  Value* value = variable->value;
  if (value->owner != variable || value->shared || value->is_string ||
      variable->elements != nullptr || variable->next != nullptr) {
    return false;
  }
  a->slots[slot] = declared.hidden;
  value->data.number = 0;
  variable->pattern = nullptr;
  variable->is_hash = 0;
  a->parked[slot] = variable;
  a->declared_count = count;
  --a->scope_count;
  return true;
}

// The call's end: the variables it declared go (to be parked), and the slots are empty again.
// Those of names the table lacks go with the frame's chain.
VM_INLINE void release_declared(Activation* a) {
  while (a->declared_count > 0) {
    const Activation::Declared& declared = a->declared[--a->declared_count];
    if (declared.slot < 0) continue;
    ValueNode* variable = a->slots[declared.slot];
    a->slots[declared.slot] = declared.hidden;
    if (variable != kHeldNumber) park_or_free(a, declared.slot, variable);
  }
  a->scope_count = 0;
}

// The variable parked in the slot, taken with the slot's name (it holds 0), or null.
VM_INLINE ValueNode* take_parked(Activation* a, std::int32_t slot) {
  ValueNode* cell = a->parked[slot];
  if (cell != nullptr) {
    a->parked[slot] = nullptr;
    cell->name = const_cast<char*>(a->slot_names[slot]);
    cell->name_hash = a->name_hashes[slot];
  }
  return cell;
}

// A variable for the slot holding 0: its parked one, or a new one with the slot's name. Null after
// a reported failure.
ValueNode* blank_variable(Activation* a, std::int32_t slot) {
  ValueNode* cell = take_parked(a, slot);
  if (cell == nullptr) {
    cell = make_node();
    if (cell == nullptr) {
      fail(a->context, "Alloc failed");
      return nullptr;
    }
    cell->name = const_cast<char*>(a->slot_names[slot]);
    cell->name_hash = a->name_hashes[slot];
  }
  return cell;
}

// The variable of a slot that holds kHeldNumber, made now with the number; null after a reported
// failure.
[[gnu::noinline]] ValueNode* materialize(Activation* a, std::int32_t slot) {
  ValueNode* cell = blank_variable(a, slot);
  if (cell == nullptr) return nullptr;
  cell->value->data.number = a->numbers[slot];
  a->slots[slot] = cell;
  return cell;
}

// Every slot's variable made, before code that looks names up by the frame runs (a lookup finds
// the frame's variables through the slots). False after a reported failure.
[[gnu::noinline]] bool materialize_all(Activation* a) {
  if (!a->numbers_held) return true;
  for (std::int32_t slot = 0; slot < a->function->slot_count; ++slot) {
    if (a->slots[slot] == kHeldNumber && materialize(a, slot) == nullptr) return false;
  }
  a->numbers_held = false;
  return true;
}

// A new plain number in the innermost braces, held in the record (see kHeldNumber).
VM_INLINE void declare_number(Activation* a, std::int32_t slot, std::int32_t number) {
  a->declared[a->declared_count++] = {slot, a->slots[slot]};
  a->slots[slot] = kHeldNumber;
  a->numbers[slot] = number;
  a->numbers_held = true;
}

// A new variable in the innermost braces, hiding any the slot holds. The compiler has bounded the
// declarations of a run.
ValueNode* declare(Activation* a, std::int32_t slot) {
  if (a->slots[slot] == kHeldNumber && materialize(a, slot) == nullptr) return nullptr;
  ValueNode* cell = blank_variable(a, slot);
  if (cell == nullptr) return nullptr;
  a->declared[a->declared_count++] = {slot, a->slots[slot]};
  a->slots[slot] = cell;
  return cell;
}

// `var name`: a name the innermost braces declared already is reported ("Declaration overlaps");
// so is `arg` in a function's own scope (`overlaps`).
[[gnu::noinline]] bool declare_name(Activation* a, SyntaxNode* node, bool overlaps) {
  CallContext* context = a->context;
  context->position = node->source;
  std::int32_t slot = node->name_slot;
  if (overlaps) {
    report_named_error(context, bare_name(node), " :Declaration overlaps", node->source);
    return false;
  }
  if (a->slots[slot] != nullptr) {
    for (std::int32_t i = a->scope_marks[a->scope_count - 1]; i < a->declared_count; ++i) {
      if (a->declared[i].slot != slot) continue;
      report_named_error(context, bare_name(node), " :Declaration overlaps", node->source);
      return false;
    }
  }
  ValueNode* variable = declare(a, slot);
  return variable != nullptr && push(a, cell_entry(variable, Kind::Variable));
}

VM_INLINE void apply_pending(Activation* a, std::int32_t down_to) {
  while (a->pending_count > down_to) {
    const Pending& pending = a->pending[--a->pending_count];
    step_value(a->context, pending.value, pending.delta);
  }
}

// resolve_name once the name has no variable in sight.
[[gnu::noinline]] ValueNode* resolve_missing(Activation* a, SyntaxNode* node) {
  CallContext* context = a->context;
  if (node->number == kArgNameHash && same_name(bare_name(node), "arg")) {
    // The call's `arg`, made in the frame's chain by the lookup by name (its slot stays empty):
    // it lives as long as the call.
    context->position = node->source;
    if (!materialize_all(a)) return nullptr;
    bool failed = false;
    ValueNode* variable = find_variable(context, node, &failed);
    if (variable != nullptr || failed) return variable;
  }
  bool explicit_names = context->script != nullptr && context->script->is_explicit;
  context->position = node->source;
  if (!known_missing_global(context, node)) {
    bool failed = false;
    ValueNode* variable = find_node_global(context, node, &failed);
    if (failed) return nullptr;
    if (variable != nullptr) return variable;
  }
  if (explicit_names) {
    report_named_error(context, bare_name(node), " :Variable is not defined", context->position);
    return nullptr;
  }
  return declare(a, node->name_slot);  // a parked variable of the slot, if there is one
}

// The variable a name stands for: a local in sight, a global, or a new local of the innermost
// scope. Null after a reported failure.
VM_INLINE ValueNode* resolve_name(Activation* a, SyntaxNode* node) {
  std::int32_t slot = node->name_slot;
  if (ValueNode* variable = a->slots[slot]; variable != nullptr)
    return variable != kHeldNumber ? variable : materialize(a, slot);
  // The commonest case of resolve_missing: declared again at a loop's pass. Not `arg`: a
  // braces' `var arg` that went leaves the call's own in sight.
  if (a->parked[slot] != nullptr && a->reuse_parked && node->number != kArgNameHash &&
      global_known_missing(node)) {
    ValueNode* variable = take_parked(a, slot);
    a->declared[a->declared_count++] = {slot, nullptr};
    a->slots[slot] = variable;
    return variable;
  }
  return resolve_missing(a, node);
}

// Whether the module's globals lack the name, looked up as resolve_missing looks. A qualified name
// is left to it: a lookup of one can fail, and reports it.
[[gnu::noinline]] bool no_global(Activation* a, SyntaxNode* node) {
  if (is_qualified(bare_name(node))) return false;
  CallContext* context = a->context;
  context->position = node->source;
  bool failed = false;
  return find_node_global(context, node, &failed) == nullptr && !failed;
}

// Whether a name no variable in sight stands for would be a new local of the innermost braces,
// which may then hold a plain number (see kHeldNumber): as resolve_name finds.
VM_INLINE bool new_number(Activation* a, SyntaxNode* node) {
  if (!a->holds_numbers || !a->reuse_parked) return false;
  void* known = std::atomic_ref<void*>(node->global_cell).load(std::memory_order_acquire);
  if (known != nullptr) return known == &NoGlobal;
  return no_global(a, node);
}

// The operands of a larger instruction as plain numbers: constants, or variables in sight that
// hold a number of their own. False when either is anything else.
VM_INLINE bool operand_number(const Activation* a, const Operand& operand, std::int32_t* number) {
  if (operand.slot < 0) {
    *number = operand.number;
    return true;
  }
  const ValueNode* variable = a->slots[operand.slot];
  if (variable == kHeldNumber) {
    *number = a->numbers[operand.slot];
    return true;
  }
  if (variable == nullptr) return false;
  const Value* value = variable->value;
  if (is_shared_value(value) || value->is_string) return false;
  *number = value->data.number;
  return true;
}

VM_INLINE bool plain_operands(const Activation* a, const Instruction& in, std::int32_t* left,
                              std::int32_t* right) {
  return operand_number(a, in.left_operand, left) && operand_number(a, in.right_operand, right);
}

bool push_name(Activation* a, SyntaxNode* node) {
  ValueNode* variable = resolve_name(a, node);
  return variable != nullptr && push(a, cell_entry(variable, Kind::Variable));
}

// The frame around the innermost one again, from its start's marker.
VM_INLINE void close_frame(Activation* a, const Entry& start) {
  a->list_base = start.number;
  a->list_calls = start.outer.calls;
  a->list_pending = start.outer.pending;
}

// The first of the values gathered since a part's ListStart, which ends; a part that made none
// fails the run (nothing is reported).
[[gnu::noinline]] bool take_first(Activation* a) {
  const std::int32_t base = a->list_base;
  bool marker = false;
  for (std::int32_t i = base; i < a->height; ++i)
    marker = marker || a->stack[i].kind == Kind::Marker;
  if (marker) return fail(a->context, "Sentence error");
  if (a->height == base) return false;
  while (a->height > base + 1)
    release_entry(a->stack[--a->height]);
  const Entry first = a->stack[base];
  close_frame(a, a->stack[base - 1]);
  a->stack[base - 1] = first;
  a->height = base;
  return true;
}

// The end of a literal's part that is made text at once: its value, above the pending steps'
// count at its start, becomes a value of its own that nothing can change (a number stays one),
// and the steps the part made apply: each part is a statement of its own, taken in turn.
[[gnu::noinline]] bool end_part(Activation* a) {
  if (a->height < 2 || a->stack[a->height - 1].kind == Kind::Marker ||
      a->stack[a->height - 2].kind != Kind::Number) {
    return fail(a->context, "Sentence error");
  }
  Entry value = a->stack[a->height - 1];
  const std::int32_t pending = a->stack[a->height - 2].number;
  if (value.kind == Kind::Variable || (value.kind == Kind::Cell && !is_temporary(value.cell))) {
    ScalarSnapshot scalar = snapshot_of(value);
    char* copy = scalar.is_string != 0 && !scalar.failed
                     ? dup_string(scalar.text != nullptr ? scalar.text : "")
                     : nullptr;
    ValueNode* cell =
        scalar.failed || (scalar.is_string != 0 && copy == nullptr) ? nullptr : make_node();
    if (cell == nullptr) {
      release(&copy);
      return fail(a->context, "Alloc failed");
    }
    store_scalar(cell->value, scalar.is_string, scalar.number, copy);
    release_entry(value);
    value = cell_entry(cell, Kind::Cell);
  }
  --a->height;
  a->stack[a->height - 1] = value;
  apply_pending(a, pending);
  return true;
}

// The template's pieces with the parts' texts between them, in a new string of `length` bytes;
// null when memory ran out.
template <typename PartText>
char* join_pieces(const TextTemplate* text, std::int32_t parts, std::size_t length,
                  PartText part_text) {
  char* joined = alloc_string(length);
  if (joined == nullptr) return nullptr;
  char* write = joined;
  for (std::int32_t i = 0; i <= parts; ++i) {
    std::memcpy(write, text->pieces + text->offsets[i], static_cast<std::size_t>(text->lengths[i]));
    write += text->lengths[i];
    if (i == parts) break;
    const std::string_view value = part_text(i);
    std::memcpy(write, value.data(), value.size());
    write += value.size();
  }
  *write = '\0';
  return joined;
}

// The parts' values, from `first` up, give way to the joined text (null: memory ran out).
bool push_joined(Activation* a, const Instruction& in, std::int32_t first, char* joined) {
  for (std::int32_t i = first; i < a->height; ++i)
    release_entry(a->stack[i]);
  a->height = first;
  ValueNode* cell = joined != nullptr ? make_node() : nullptr;
  if (cell == nullptr) {
    release(&joined);
    a->context->position = in.node->source;
    return fail(a->context, "Alloc failed");
  }
  store_scalar(cell->value, 1, 0, joined);
  return push(a, cell_entry(cell, Kind::Cell));
}

// A literal of many parts, each made text of its own as it ran (see end_part): the same join,
// without a table of the parts' values.
[[gnu::noinline]] bool interpolate_many(Activation* a, const Instruction& in) {
  const TextTemplate* text = a->function->templates[in.a];
  const std::int32_t parts = in.b;
  const std::int32_t first = a->height - parts;
  char digits[12];
  auto part_text = [&](std::int32_t i) -> std::string_view {
    const Entry& entry = a->stack[first + i];
    if (entry.kind == Kind::Text) return literal_text(entry);
    if (entry.kind == Kind::Number) return format_number(entry.number, digits);
    const Value* value = entry.cell->value;
    if (value->is_string == 0) return format_number(value->data.number, digits);
    return value->data.text != nullptr ? value->data.text : "";
  };
  std::size_t length = static_cast<std::size_t>(text->lengths[parts]);
  for (std::int32_t i = 0; i < parts; ++i)
    length += static_cast<std::size_t>(text->lengths[i]) + part_text(i).size();
  return push_joined(a, in, first, join_pieces(text, parts, length, part_text));
}

// A literal with «%expr%» parts: the parts' values, on top of the stack in order, joined with the
// template's pieces into a new string.
[[gnu::noinline]] bool interpolate(Activation* a, const Instruction& in) {
  if (in.b > kInlineTextParts) return interpolate_many(a, in);
  const TextTemplate* text = a->function->templates[in.a];
  const std::int32_t parts = in.b;
  const std::int32_t first = a->height - parts;
  ScalarSnapshot scalars[kInlineTextParts];
  char digits[kInlineTextParts][12];
  std::string_view values[kInlineTextParts];
  std::size_t length = static_cast<std::size_t>(text->lengths[parts]);
  bool failed = false;
  for (std::int32_t i = 0; i < parts; ++i) {
    const Entry& entry = a->stack[first + i];
    if (entry.kind == Kind::Text) {
      values[i] = literal_text(entry);
    } else {
      scalars[i] = snapshot_of(entry);
      failed = failed || scalars[i].failed;
      values[i] = scalars[i].is_string != 0 ? (scalars[i].text != nullptr ? scalars[i].text : "")
                                            : format_number(scalars[i].number, digits[i]);
    }
    length += static_cast<std::size_t>(text->lengths[i]) + values[i].size();
  }
  char* joined =
      failed ? nullptr
             : join_pieces(text, parts, length, [&values](std::int32_t i) { return values[i]; });
  return push_joined(a, in, first, joined);
}

// Any other binary operator (on strings, on a hash, or one that fails), on cells of the two
// entries on top of the stack, as an expression runs it. The operands go, also on a failure.
[[gnu::noinline]] bool binary_cells(Activation* a, NodeKind kind) {
  Entry& l = a->stack[a->height - 2];
  Entry& r = a->stack[a->height - 1];
  ValueNode* left = cell_of(l);
  ValueNode* right = left != nullptr ? cell_of(r) : nullptr;
  ValueNode* result = nullptr;
  if (right == nullptr) {
    fail(a->context, "Alloc failed");
  } else {
    result = binary_result(a->context, kind, left, right);
  }
  if (left != nullptr && l.kind != Kind::Cell) free_node(left);
  if (right != nullptr && r.kind != Kind::Cell) free_node(right);
  release_entry(l);
  release_entry(r);
  a->height -= 2;
  if (result == nullptr) return false;
  a->stack[a->height++] = cell_entry(result, Kind::Cell);
  return true;
}

bool push_operand(Activation* a, SyntaxNode* node) {
  if (node->kind == NodeKind::Number) return push(a, number_entry(node->number));
  return push_name(a, node);
}

bool binary(Activation* a, SyntaxNode* node) {
  CallContext* context = a->context;
  if (a->height < 2 || a->stack[a->height - 1].kind == Kind::Marker ||
      a->stack[a->height - 2].kind == Kind::Marker) {
    context->position = node->source;
    return fail(context, "Sentence error");
  }
  std::int32_t left = 0;
  std::int32_t right = 0;
  std::int32_t value = 0;
  const Entry& l = a->stack[a->height - 2];
  const Entry& r = a->stack[a->height - 1];
  bool numbers = plain_number(l, &left) && plain_number(r, &right);
  if (!numbers) {
    context->position = node->source;
    if (Done done = string_binary(a, node->kind); done != Done::Not) return done == Done::Done;
    // Numbers that other threads may share (globals): read under their lock.
    numbers = scalar_number(l, &left) && scalar_number(r, &right);
  }
  if (numbers && apply_number_operator(node->kind, left, right, &value)) {
    release_entry(l);
    release_entry(r);
    a->height -= 2;
    a->stack[a->height++] = number_entry(value);
    return true;
  }
  context->position = node->source;
  return binary_cells(a, node->kind);
}

bool unary(Activation* a, SyntaxNode* node) {
  CallContext* context = a->context;
  context->position = node->source;
  if (a->height < 1 || a->stack[a->height - 1].kind == Kind::Marker)
    return fail(context, "Sentence error");
  Entry& operand = a->stack[a->height - 1];
  NodeKind kind = node->kind;
  std::int32_t number = 0;
  if (kind == NodeKind::PreIncrement || kind == NodeKind::PreDecrement) {
    // A variable steps in place, an element or any other value a cell of its own; the step's
    // result is the value.
    const std::int32_t step = kind == NodeKind::PreIncrement ? 1 : -1;
    if (operand.kind == Kind::Variable) {
      operand = number_entry(step_value(context, operand.cell->value, step));
      return true;
    }
    ValueNode* cell = cell_of(operand);
    if (cell == nullptr) return fail(context, "Alloc failed");
    number = step_value(context, cell->value, step);
    if (operand.kind != Kind::Cell) free_node(cell);
    release_entry(operand);
    operand = number_entry(number);
    return true;
  }
  if (!plain_number(operand, &number)) {
    // Any scalar reads as a number here: a string by its decimal reading.
    if (operand.kind == Kind::Text) {
      number = number_of_text(literal_text(operand));
    } else {
      number = number_of_value(operand.cell->value);
    }
  }
  release_entry(operand);
  operand = number_entry(apply_pure_unary(kind, number));
  return true;
}

// Runs from `start` (a label's or a capture target's code) to an End; false after a reported
// failure.
bool run(Activation* a, Entry* result, std::int32_t start);

// The pattern a PushPattern made, the target of a destructuring assignment: a number cell with
// the pattern, marked by its instruction's place + 1.
[[gnu::noinline]] bool push_pattern(Activation* a, const Instruction* in) {
  ValueNode* cell = make_number_cell(0);
  if (cell == nullptr) return fail(a->context, "Alloc failed");
  cell->pattern = in->node->pattern;
  Entry entry = cell_entry(cell, Kind::Cell);
  entry.number = static_cast<std::int32_t>(in - a->function->code) + 1;
  return push(a, entry);
}

// The values since the innermost ListStart made into a list: a variable's value copied with its
// name, an element's or any other reference's copied without one, a temporary moved. Braces that
// leave no value push none.
[[gnu::noinline]] bool make_list(Activation* a) {
  const std::int32_t base = a->list_base;
  ValueNode* elements = nullptr;
  ValueNode** tail = &elements;
  bool ok = true;
  bool marker = false;
  for (std::int32_t i = base; i < a->height; ++i) {
    const Entry& entry = a->stack[i];
    marker = marker || entry.kind == Kind::Marker;
    ValueNode* cell = ok && !marker ? cell_of(entry) : nullptr;
    if (cell == nullptr) {
      release_entry(entry);
      ok = false;
      continue;
    }
    if (entry.kind == Kind::Variable && entry.number != kElementEntry &&
        entry.cell->name != nullptr) {
      cell->name = dup_string(entry.cell->name);
      cell->name_hash = cell->name != nullptr ? entry.cell->name_hash : 0;
      ok = cell->name != nullptr;
    }
    if (!is_temporary(cell)) {
      ValueNode* copy = ok ? make_owning_copy(cell) : nullptr;
      free_node(cell);
      cell = copy;
      if (cell == nullptr) {
        ok = false;
        continue;
      }
    }
    *tail = cell;
    tail = &cell->next;
  }
  a->height = base - 1;
  close_frame(a, a->stack[base - 1]);
  ValueNode* hash = ok && elements != nullptr ? make_node() : nullptr;
  if (!ok || (elements != nullptr && hash == nullptr)) {
    free_chain(elements);
    return fail(a->context, marker ? "Sentence error" : "Alloc failed");
  }
  if (hash == nullptr) return true;
  hash->elements = elements;
  hash->is_hash = 1;
  return push(a, cell_entry(hash, Kind::Cell));
}

// What a piece of code run on its own (a case label, a capture target) opens, and leaves open
// when it fails midway: its calls, frames and braces. The run that goes on after it closes them.
struct OpenedBy {
  std::int32_t open_calls;
  std::int32_t list_base;
  std::int32_t list_calls;
  std::int32_t list_pending;
  std::int32_t scope_count;
};

OpenedBy note_opened(const Activation* a) {
  return {a->open_calls, a->list_base, a->list_calls, a->list_pending, a->scope_count};
}

void close_opened(Activation* a, const OpenedBy& before) {
  a->open_calls = before.open_calls;
  a->list_base = before.list_base;
  a->list_calls = before.list_calls;
  a->list_pending = before.list_pending;
  while (a->scope_count > before.scope_count)
    leave_scope(a);
}

// Runs such code from `start`, above the stack's height: false when it failed. What it opened is
// closed again, the frame a gathering one opens (its code starts with ListStart) too. *first is
// where its value stands (the first of those gathered), or -1 when it left no one value.
VM_INLINE bool run_apart(Activation* a, std::int32_t start, std::int32_t* first) {
  const std::int32_t base = a->height;
  const bool gathered = a->function->code[start].op == Op::ListStart;
  const OpenedBy opened = note_opened(a);
  Entry ignored = number_entry(0);
  const bool ran = run(a, &ignored, start);
  release_entry(ignored);
  if (!ran || gathered) close_opened(a, opened);  // one value that ran has closed all it opened
  const std::int32_t at = gathered ? base + 1 : base;
  const bool one = gathered ? a->height > at : a->height == base + 1;
  *first = ran && one ? at : -1;
  return ran;
}

// The captures of a search with a compiled capture table (its count of captures): each target
// run from the table and given its capture's text in pattern order. A target that fails is passed
// over; one that does not parse is reported each time.
void bind_captures(Activation* a, const Instruction* table, const PatternCaptures& found) {
  CallContext* context = a->context;
  const char* position = context->position;
  // The table was made from the same pattern: it has an entry for each capture.
  const std::int32_t count = std::min(found.count, table->b);
  for (std::int32_t i = 0; i < count; ++i) {
    const Instruction& entry = table[1 + i];
    if (entry.b == 0 || stop_requested()) continue;
    if (entry.b == 2) {
      report_unparsed_part(context, found.slots[i].name);
      continue;
    }
    const std::int32_t base = a->height;
    const std::int32_t pending = a->pending_count;
    std::int32_t first = -1;
    const bool ran = run_apart(a, entry.a, &first);
    context->position = position;
    if (first >= 0 &&
        (a->stack[first].kind == Kind::Variable || a->stack[first].kind == Kind::Cell)) {
      char* text = capture_text(found.slots[i], found.matched);
      if (text == nullptr) {
        fail(context, "Alloc failed");
      } else {
        Value captured{};
        captured.data.text = text;
        captured.is_string = 1;
        assign_value(context, a->stack[first].cell->value, &captured);
        release(&text);
      }
    }
    while (a->height > base)
      release_entry(a->stack[--a->height]);
    // A target is a statement of its own: its postfix steps apply once it has its text (a
    // failed one's are dropped).
    if (ran) apply_pending(a, pending);
    a->pending_count = pending;
  }
}

// A destructuring assignment of a compiled pattern: the value's text searched, then each
// capture's target run from the pattern's table and given its text in pattern order (a target
// that fails is passed over). The value stays as the assignment's.
[[gnu::noinline]] bool destructure(Activation* a) {
  CallContext* context = a->context;
  const Instruction* table = a->function->code + (a->stack[a->height - 2].number - 1);
  PatternCaptures found;
  const Entry& source = a->stack[a->height - 1];
  EntryText subject(source);
  if (subject.scalar.failed) return fail(context, "Alloc failed");
  // The targets may change the variable the text is read from.
  char* copy = nullptr;
  if (source.kind == Kind::Variable || (source.kind == Kind::Cell && !is_temporary(source.cell))) {
    copy = dup_string(subject.text);
    if (copy == nullptr) return fail(context, "Alloc failed");
  }
  std::int32_t searched = pattern_capture(context, table->node->pattern,
                                          copy != nullptr ? copy : subject.text, true, &found);
  if (searched == PATTERN_SEARCH_FAILED) {
    release(&copy);
    return false;
  }
  bind_captures(a, table, found);
  release(&copy);
  release_entry(a->stack[a->height - 2]);
  a->stack[a->height - 2] = a->stack[a->height - 1];
  --a->height;
  return true;
}

bool assign(Activation* a, SyntaxNode* node, bool released) {
  CallContext* context = a->context;
  context->position = node->source;
  if (a->height < 2) return fail(context, "Sentence error");
  Entry& target = a->stack[a->height - 2];
  Entry& source = a->stack[a->height - 1];
  if (target.kind == Kind::Cell && target.number > 0 && source.kind != Kind::Marker)
    return destructure(a);  // a hash's text is its scalar's, as any value's
  // A variable, or an element an index found (not a whole hash), takes a scalar.
  bool scalar_target =
      target.kind == Kind::Variable ||
      (target.kind == Kind::Cell && !target.cell->is_hash && target.cell->pattern == nullptr);
  if (scalar_target && source.kind != Kind::Marker &&
      !(source.kind == Kind::Cell && source.cell->is_hash)) {
    Value* value = target.cell->value;
    if (source.kind == Kind::Number) {
      if (!is_shared_value(value)) {
        store_number(value, source.number);
      } else {
        Value number{};
        number.data.number = source.number;
        if (!assign_value(context, value, &number)) return false;
      }
    } else if (source.kind == Kind::Cell && released) {
      if (!assign_taking(context, value, source.cell)) return false;
    } else if (source.kind == Kind::Text) {
      Value text{};
      text.is_string = 1;
      text.data.text = const_cast<char*>(literal_text(source));
      if (!assign_value(context, value, &text)) return false;
    } else if (!assign_value(context, value, source.cell->value)) {
      return false;
    }
    release_entry(target);
    target = source;
    --a->height;
    return true;
  }
  if (target.kind == Kind::Marker || source.kind == Kind::Marker)
    return fail(context, "Sentence error");
  // A hash assigned to a variable or an element, or any value to a whole hash: the target takes
  // a copy of the value's elements (a scalar has none). A number or a literal assigned to is a
  // temporary of its own that nothing sees. The value stays as the assignment's.
  if (target.kind == Kind::Variable || target.kind == Kind::Cell) {
    const bool made = source.kind != Kind::Variable && source.kind != Kind::Cell;
    ValueNode* from = made ? cell_of(source) : source.cell;
    if (from == nullptr) return fail(context, "Alloc failed");
    const bool copied = assign_elements(context, target.cell, from);
    if (made) free_node(from);
    if (!copied) return false;
  }
  release_entry(target);
  target = source;
  --a->height;
  return true;
}

// An assignment in braces made into a list whose value goes on: the value takes the name of the
// variable assigned (an element lends none), as wherever values are gathered.
[[gnu::noinline]] bool assign_named(Activation* a, SyntaxNode* node) {
  const char* name = nullptr;
  std::int32_t name_hash = 0;
  if (a->height >= 2) {
    const Entry& target = a->stack[a->height - 2];
    if (target.kind == Kind::Variable && target.number != kElementEntry) {
      name = target.cell->name;
      name_hash = target.cell->name_hash;
    }
  }
  if (!assign(a, node, false)) return false;
  if (name == nullptr) return true;
  Entry& result = a->stack[a->height - 1];
  ValueNode* cell = result.kind == Kind::Cell ? result.cell : cell_of(result);
  char* copy = cell != nullptr ? dup_string(name) : nullptr;
  if (copy == nullptr) {
    if (cell != nullptr && result.kind != Kind::Cell) free_node(cell);
    return fail(a->context, "Alloc failed");
  }
  release(&cell->name);
  cell->name = copy;
  cell->name_hash = name_hash;
  result = cell_entry(cell, Kind::Cell);
  return true;
}

// An element by its key, from the container and key on top of the stack, found without making
// cells for the two.
[[gnu::noinline]] bool index(Activation* a, SyntaxNode* node) {
  CallContext* context = a->context;
  context->position = node->source;
  if (a->height < 2) return fail(context, "Sentence error");
  Entry& container = a->stack[a->height - 2];
  const Entry& key = a->stack[a->height - 1];
  if (container.kind == Kind::Marker || key.kind == Kind::Marker)
    return fail(context, "Sentence error");
  if (container.kind != Kind::Variable && container.kind != Kind::Cell) {
    // A number or a literal indexed: a temporary of its own, whose element is copied out.
    ValueNode* cell = cell_of(container);
    if (cell == nullptr) return fail(context, "Alloc failed");
    container = cell_entry(cell, Kind::Cell);
  }
  ScalarSnapshot scalar = snapshot_of(key);
  if (scalar.failed) {
    release_entry(key);
    release_entry(container);
    a->height -= 2;
    return fail(context, "Alloc failed");
  }
  Value key_value = scalar_as_value(scalar);
  if (key.kind == Kind::Text) {
    key_value.is_string = 1;
    key_value.data.text = const_cast<char*>(literal_text(key));
  }
  ValueNode* element = element_by_key(context, owner_of(container.cell), &key_value);
  const bool whole = key_value.is_string && key_value.data.text[0] == '\0';
  if (element != nullptr && !whole &&
      !(container.kind == Kind::Cell && is_temporary(container.cell)) &&
      !is_shared_value(element->value)) {
    // An element of a hash that stays (not a temporary's) and that no other thread may retire:
    // the entry is the element itself, as a variable's is, without a reference cell.
    release_entry(key);
    release_entry(container);
    a->height -= 2;
    Entry entry = cell_entry(element, Kind::Variable);
    entry.number = kElementEntry;
    a->stack[a->height++] = entry;
    return true;
  }
  ValueNode* cell = nullptr;
  if (element != nullptr) {
    cell = container.kind == Kind::Cell && is_temporary(container.cell) ? make_owning_copy(element)
                                                                        : make_reference(element);
    if (cell == nullptr) {
      fail(context, "Alloc failed");
    } else {
      if (is_temporary(cell)) {
        release(&cell->name);
        cell->name_hash = 0;
        cell->pattern = nullptr;
      }
      cell->is_hash = whole ? 1 : 0;
    }
  }
  release_entry(key);
  release_entry(container);
  a->height -= 2;
  if (cell == nullptr) return false;
  a->stack[a->height++] = cell_entry(cell, Kind::Cell);  // room: two were taken
  return true;
}

// Takes the condition an if or a loop tests: true when it holds, or when there is none.
bool take_condition(Activation* a) {
  if (a->height == 0 || a->stack[a->height - 1].kind == Kind::Marker) return true;
  const Entry& condition = a->stack[--a->height];
  bool holds = is_true(condition);
  release_entry(condition);
  return holds;
}

// Releases what the statement left: the whole stack, or inside braces being made into a list, what
// was gathered since their start.
[[gnu::noinline]] void release_stack(Activation* a) {
  while (a->height > a->list_base)
    release_entry(a->stack[--a->height]);
}

// A break's value: how many loops or switches it leaves besides the innermost (a negative count,
// or none, leaves only that). What else the statement left goes.
[[gnu::noinline]] void take_break_count(Activation* a) {
  std::int32_t count = 0;
  if (a->height > 0 && a->stack[a->height - 1].kind != Kind::Marker) {
    const Entry& top = a->stack[a->height - 1];
    if (top.kind == Kind::Number) {
      count = top.number;
    } else if (top.kind == Kind::Text) {
      count = number_of_text(literal_text(top));
    } else {
      count = number_of_value(top.cell->value);
    }
  }
  a->break_count = count < 0 ? 0 : count;
  release_stack(a);
}

// Where values start that are kept apart from those before them: braces that make a list, a
// loop's pass or a switch's statements, which stand on a stack of their own.
// The start is a marker, as a call's: no operator, test or return takes it for a value. It keeps
// the outer base.
VM_INLINE bool open_frame(Activation* a) {
  Entry start{};
  start.kind = Kind::Marker;
  start.number = a->list_base;
  start.outer = {a->list_calls, a->list_pending};
  if (!push(a, start)) return false;
  a->list_base = a->height;
  a->list_calls = a->open_calls;
  a->list_pending = a->pending_count;
  return true;
}

// Ends the innermost `count` of those: what each holds goes, at a pass's end, or by a break,
// continue or return out of it.
[[gnu::noinline]] void unwind(Activation* a, std::int32_t count) {
  for (; count > 0; --count) {
    release_stack(a);
    a->height = a->list_base - 1;
    close_frame(a, a->stack[a->height]);
  }
}

// A statement's end: what it left goes.
VM_INLINE void clear(Activation* a) {
  if (a->height > a->list_base) release_stack(a);
  a->open_calls = 0;
  count_step();
}

bool post_step(Activation* a, SyntaxNode* node, std::int32_t delta) {
  CallContext* context = a->context;
  context->position = node->source;
  if (a->height < 1 || a->stack[a->height - 1].kind == Kind::Marker)
    return fail(context, "Sentence error");
  const Entry& operand = a->stack[a->height - 1];
  Value* value = nullptr;
  if (operand.kind == Kind::Variable) value = operand.cell->value;
  if (operand.kind == Kind::Cell && !is_temporary(operand.cell)) value = operand.cell->value;
  if (value != nullptr) {
    if (a->pending_count == a->sizes.pending) return fail(context, "Alloc failed");
    a->pending[a->pending_count++] = {value, delta};
  }
  return true;
}

constexpr std::int32_t kChosenInTurn = -3;

// The label a scalar value chooses while the labels are literals: a number equals a number label
// as numbers; any other pair compares as texts. kChosenInTurn for a hash, a value whose text could
// not be read, or on reaching a label that is an expression.
std::int32_t choose_literal_case(const Entry& value, const Instruction* entries) {
  if (value.kind == Kind::Cell && value.cell->is_hash) return kChosenInTurn;
  std::int32_t number = 0;
  const bool plain = plain_number(value, &number);
  std::optional<EntryText> text;
  std::int32_t default_at = -1;
  for (std::int32_t i = 0; entries[i].node != nullptr; ++i) {
    const SyntaxNode* label = entries[i].node;
    if (label->kind != NodeKind::Case) {
      if (default_at < 0) default_at = i;
      continue;
    }
    // A label's expression runs in turn: the labels before it had no effects to repeat.
    if (entries[i].b != 0) return kChosenInTurn;
    const SyntaxNode* constant = label->next;
    bool equal;
    if (plain && constant->kind == NodeKind::Number) {
      equal = constant->number == number;
    } else {
      if (!text) {
        text.emplace(value);
        if (text->scalar.failed) return kChosenInTurn;
      }
      char digits[12];
      const char* label_text = constant->kind == NodeKind::Number
                                   ? format_number(constant->number, digits)
                                   : (constant->text != nullptr ? constant->text : "");
      equal = texts_equal(label_text, text->text);
    }
    if (equal) return i;
  }
  return default_at;
}

// Whether a label's compiled expression, run now, equals the switch's value (below it on the
// stack), as entries_equal compares them. A label whose code opens a frame (ListStart) gathers its
// values there, and the first is compared; one that makes none chooses nothing. -1 after a reported
// failure, or when there is no value to compare; what the run left goes.
[[gnu::noinline]] std::int32_t label_equals(Activation* a, const Instruction& entry) {
  const std::int32_t base = a->height;
  const std::int32_t pending = a->pending_count;
  std::int32_t first = -1;
  if (!run_apart(a, entry.target_slot, &first))
    a->pending_count = pending;  // a failed label's steps are dropped
  std::int32_t outcome = -1;
  if (first >= 0 && a->stack[first].kind != Kind::Marker) {
    ValueNode* label = cell_of(a->stack[first]);
    ValueNode* value = label != nullptr ? cell_of(a->stack[base - 1]) : nullptr;
    if (value == nullptr) {
      fail(a->context, "Alloc failed");
    } else {
      bool equal = false;
      if (entries_equal(a->context, label, value, &equal)) outcome = equal ? 1 : 0;
    }
    if (value != nullptr && a->stack[base - 1].kind != Kind::Cell) free_node(value);
    if (label != nullptr && a->stack[first].kind != Kind::Cell) free_node(label);
  }
  while (a->height > base)
    release_entry(a->stack[--a->height]);
  return outcome;
}

// The labels in order, the literals compared as literal_label_equals compares them, the
// expressions run in turn.
std::int32_t choose_in_turn(Activation* a, const Instruction* entries) {
  CallContext* context = a->context;
  std::int32_t default_at = -1;
  std::int32_t chosen = -1;
  for (std::int32_t i = 0; entries[i].node != nullptr && chosen == -1; ++i) {
    const SyntaxNode* label = entries[i].node;
    if (label->kind != NodeKind::Case) {
      if (default_at < 0) default_at = i;
      continue;
    }
    if (entries[i].b == 2) {
      std::int32_t equal = label_equals(a, entries[i]);
      if (equal < 0) chosen = -2;
      if (equal == 1) chosen = i;
      continue;
    }
    ValueNode* value = cell_of(a->stack[a->height - 1]);
    bool equal = false;
    if (value == nullptr) {
      fail(context, "Alloc failed");
      chosen = -2;
    } else if (!literal_label_equals(context, label, value, &equal)) {
      chosen = -2;
    } else if (equal) {
      chosen = i;
    }
    if (value != nullptr && a->stack[a->height - 1].kind != Kind::Cell) free_node(value);
  }
  release_entry(a->stack[--a->height]);
  // A label that could not be compared ends the choice: the switch is passed over.
  if (chosen == -2) return -1;
  return chosen >= 0 ? chosen : default_at;
}

// The entry of the label a switch's value chooses (the first case equal to it, else the first
// default), or -1 when none is chosen; -2 after a reported failure.
[[gnu::noinline]] std::int32_t choose_case(Activation* a, const Instruction* entries) {
  CallContext* context = a->context;
  if (a->height == 0 || a->stack[a->height - 1].kind == Kind::Marker) {
    fail(context, "Sentence error");
    return -2;
  }
  if (std::int32_t chosen = choose_literal_case(a->stack[a->height - 1], entries);
      chosen != kChosenInTurn) {
    release_entry(a->stack[--a->height]);
    return chosen;
  }
  return choose_in_turn(a, entries);
}

// A call of a user function straight to its compiled form, with the arguments above the stack's
// `marker` (see call_direct below).
enum class Direct { NotRun, Done, Failed };
Direct call_direct(Activation* a, SyntaxNode* node, std::int32_t marker);

// A call's end: its result pushed; or after a failure, the caller's trace line reported, unless the
// caller has the callee's name (a recursion shows one line).
Direct take_result(Activation* a, const char* name, ValueNode* returned) {
  CallContext* context = a->context;
  if (returned == CALL_FAILED) {
    if (context->function_name == nullptr || std::strcmp(context->function_name, name) != 0)
      report_error(context, nullptr, context->position, 1);
    return Direct::Failed;
  }
  return push(a, cell_entry(returned, Kind::Cell)) ? Direct::Done : Direct::Failed;
}
Direct take_result(Activation* a, const char* name, Direct outcome, const Entry& returned) {
  if (outcome != Direct::Done) return take_result(a, name, CALL_FAILED);
  return push(a, returned) ? Direct::Done : Direct::Failed;
}

// Lets go of the first `used` argument cells.
void release_argument_cells(Activation* a, std::int32_t used) {
  for (std::int32_t i = 0; i < used; ++i) {
    if (a->argument_cells[i].counted) count_shared_reference(-1);
  }
}

// The arguments above `marker` (no call marker among them) as the cells a built-in that only
// reads them is given: a value's own cell on the stack, else one of the activation's argument
// cells, of which *used tells how many. Null (and none used) when a literal's constant could not
// be made.
ValueNode* argument_cells(Activation* a, std::int32_t marker, std::int32_t* used_cells) {
  ValueNode* arguments = nullptr;
  ValueNode** tail = &arguments;
  std::int32_t used = 0;
  *used_cells = 0;
  for (std::int32_t i = marker + 1; i < a->height; ++i) {
    const Entry& entry = a->stack[i];
    ValueNode* cell = entry.cell;
    if (entry.kind != Kind::Cell) {
      ArgumentCell& made = a->argument_cells[used++];
      made.cell = ValueNode{};
      made.counted = false;
      cell = &made.cell;
      if (entry.kind == Kind::Number) {
        made.value = Value{};
        made.value.data.number = entry.number;
        made.value.owner = cell;
        cell->value = &made.value;
      } else if (entry.kind == Kind::Text) {
        ValueNode* constant = literal_constant(const_cast<SyntaxNode*>(entry.literal));
        if (constant == nullptr) {
          release_argument_cells(a, used);
          return nullptr;
        }
        cell->value = constant->value;
        cell->pattern = pattern_of(entry);
      } else {  // a variable, as a reference to it
        cell->value = entry.cell->value;
        cell->elements = elements_of(entry.cell);
        made.counted = is_shared_value(cell->value);
        if (made.counted) count_shared_reference(1);
      }
    }
    cell->next = nullptr;
    *tail = cell;
    tail = &cell->next;
  }
  *used_cells = used;
  return arguments;
}

// Lets go of what the reader's result cell holds; the cell and its own Value stay in the record.
void release_reader_result(Activation* a) {
  ValueNode& made = a->reader_result.cell;
  Value& own = a->reader_result.value;
  release(&made.name);
  if (own.is_string) release(&own.data.text);
  if (Value* other = made.value; other != &own && other != nullptr && other->owner == &made) {
    if (other->is_string) release(&other->data.text);
    free_block(other);
  }
  made.value = &own;
  free_chain(made.elements);
  made.elements = nullptr;
}

// The reader's result as an entry: a plain number as it is; anything else moved into a cell of its
// own. False after "Alloc failed" is reported (the result is let go then).
bool take_reader_result(Activation* a, Entry* taken) {
  ValueNode& made = a->reader_result.cell;
  Value& own = a->reader_result.value;
  if (made.value == &own && !own.is_string && made.elements == nullptr && !made.is_hash &&
      made.name == nullptr) {
    *taken = number_entry(own.data.number);
    return true;
  }
  ValueNode* cell = make_node();
  char* text = nullptr;
  if (cell != nullptr && made.value != &own && made.value->is_string) {
    // A Value the function put in place of the cell's own (no built-in does): its text copied.
    text = dup_string(made.value->data.text);
    if (text == nullptr) {
      free_node(cell);
      cell = nullptr;
    }
  }
  if (cell == nullptr) {
    release_reader_result(a);
    return fail(a->context, "Alloc failed");
  }
  if (made.value == &own) {
    cell->value->is_string = own.is_string;
    cell->value->data = own.data;
    own.is_string = 0;  // the text moved
  } else {
    cell->value->is_string = made.value->is_string;
    if (text != nullptr) {
      cell->value->data.text = text;
    } else {
      cell->value->data.number = made.value->data.number;
    }
  }
  cell->name = made.name;
  cell->name_hash = made.name_hash;
  cell->pattern = made.pattern;
  cell->elements = made.elements;
  cell->is_hash = made.is_hash;
  made.name = nullptr;
  made.elements = nullptr;
  release_reader_result(a);
  *taken = cell_entry(cell, Kind::Cell);
  return true;
}

// A call of a built-in known to only read its arguments, with at most kArgumentCells of them and
// no call marker among them: as call_with_chain, on the activation's argument cells, into its
// result cell.
[[gnu::noinline]] Direct call_reader(Activation* a, const Instruction& in, std::int32_t marker) {
  CallContext* context = a->context;
  std::int32_t used = 0;
  ValueNode* arguments = argument_cells(a, marker, &used);
  std::int32_t mark = a->call_marks[--a->open_calls];
  const char* name = in.node->text;
  bool made = arguments != nullptr || a->height == marker + 1;
  ArgumentCell& result = a->reader_result;
  result.cell = ValueNode{};
  result.value = Value{};
  result.value.owner = &result.cell;
  result.cell.value = &result.value;
  bool called = made && call_reader_into(context, in.node, name, arguments, &result.cell);
  release_argument_cells(a, used);
  while (a->height > marker)
    release_entry(a->stack[--a->height]);
  apply_pending(a, mark);
  if (!made) {
    fail(context, "Alloc failed");
    return Direct::Failed;
  }
  if (!called) {
    release_reader_result(a);
    return take_result(a, name, CALL_FAILED);
  }
  Entry taken{};
  if (!take_reader_result(a, &taken)) return Direct::Failed;
  return push(a, taken) ? Direct::Done : Direct::Failed;
}

// Any call: the arguments above the stack's `marker` become a chain of cells that call_function
// is given; its result is pushed. In a frame of its own, as call_direct: the loop's frame is paid
// at every level of a recursion.
[[gnu::noinline]] Direct call_with_chain(Activation* a, const Instruction& in,
                                         std::int32_t marker) {
  CallContext* context = a->context;
  ValueNode* arguments = nullptr;
  ValueNode** tail = &arguments;
  bool ok = true;
  std::int32_t target =
      std::atomic_ref<std::int32_t>(in.node->call_target_kind).load(std::memory_order_acquire);
  bool named = in.a == 1 && target != CALL_TARGET_FUNCTION && target != CALL_TARGET_READER;
  // A built-in that only reads its arguments reads a literal in place.
  bool reader = target == CALL_TARGET_READER;
  for (std::int32_t i = marker + 1; i < a->height; ++i) {
    const Entry& entry = a->stack[i];
    ValueNode* cell = !ok ? nullptr
                      : reader && entry.kind == Kind::Text
                          ? literal_reference(const_cast<SyntaxNode*>(entry.literal))
                          : cell_of(entry);
    if (cell == nullptr) {
      if (!ok) release_entry(a->stack[i]);
      ok = false;
      continue;
    }
    if (entry.kind == Kind::Text) cell->pattern = pattern_of(entry);
    if (named && a->stack[i].kind == Kind::Variable && a->stack[i].number != kElementEntry &&
        a->stack[i].cell->name != nullptr) {
      cell->name = dup_string(a->stack[i].cell->name);
      cell->name_hash = cell->name != nullptr ? a->stack[i].cell->name_hash : 0;
    }
    cell->next = nullptr;
    *tail = cell;
    tail = &cell->next;
  }
  a->height = marker;
  std::int32_t mark = a->call_marks[--a->open_calls];
  if (!ok) {
    free_chain(arguments);
    fail(context, "Alloc failed");
    return Direct::Failed;
  }
  const char* name = in.node->text;
  if (name[0] == '&') {
    ValueNode* started = start_async_call(context, in.node, arguments);
    free_chain(arguments);
    apply_pending(a, mark);
    return started != nullptr && push(a, cell_entry(started, Kind::Cell)) ? Direct::Done
                                                                          : Direct::Failed;
  }
  ValueNode* returned = call_function(context, in.node, name, arguments, 0);
  free_chain(arguments);
  apply_pending(a, mark);
  return take_result(a, name, returned);
}

// A `return`'s value as the run's result: a number or a plain literal's text as it is; a temporary
// of the run handed over as it stands, without a name or a pattern; anything else copied into a
// cell of its own, with its elements. With nothing on the stack (or a call marker on top) the
// result stays 0.
bool take_returned(Activation* a, Entry* result) {
  if (a->height == 0 || a->stack[a->height - 1].kind == Kind::Marker) return true;
  Entry top = a->stack[--a->height];
  std::int32_t number = 0;
  switch (top.kind) {
    case Kind::Number:
      *result = top;
      return true;
    case Kind::Variable:
      if (!top.cell->is_hash && elements_of(top.cell) == nullptr && plain_number(top, &number)) {
        *result = number_entry(number);
        return true;
      }
      break;
    case Kind::Text:
      *result = top;
      result->number = kReturnedText;
      return true;
    case Kind::Cell:
      if (is_temporary(top.cell)) {
        ValueNode* cell = top.cell;
        release(&cell->name);
        cell->name_hash = 0;
        cell->pattern = nullptr;
        *result = cell_entry(cell, Kind::Cell);
        return true;
      }
      break;
    case Kind::Marker:
      break;
  }
  ValueNode* value = cell_of(top);  // a reference to the variable or element
  ValueNode* made = value != nullptr ? make_node() : nullptr;
  if (made == nullptr) {
    free_node(value);
    return fail(a->context, "Alloc failed");
  }
  if (!return_copy(a->context, made, value)) {
    free_node(made);
    return false;
  }
  *result = cell_entry(made, Kind::Cell);
  return true;
}

// A larger instruction's test of its operands taken step by step (when they are not both numbers).
// 1 when it holds, 0 when not, -1 after a reported failure.
[[gnu::noinline]] std::int32_t test_taken(Activation* a, const Instruction& in) {
  if (!push_operand(a, in.left) || !push_operand(a, in.right) || !binary(a, in.node)) return -1;
  return take_condition(a) ? 1 : 0;
}

// The test of an if's or a loop's condition `left <op> right`, as test_taken has it. A comparison
// of two plain numbers picks its outcome by their order. The numbers go through run()'s own
// variables (see there).
VM_INLINE std::int32_t test_of(Activation* a, const Instruction& in, std::int32_t* left,
                               std::int32_t* right, std::int32_t* value) {
  if (plain_operands(a, in, left, right)) {
    if (in.outcomes != 0) return (in.outcomes >> ((*left > *right) - (*left < *right) + 1)) & 1;
    if (apply_number_operator(in.node->kind, *left, *right, value)) return *value != 0 ? 1 : 0;
  }
  return test_taken(a, in);
}

// test_of for a name and a number, the name's a held number first.
VM_INLINE std::int32_t test_const(Activation* a, const Instruction& in, std::int32_t* left,
                                  std::int32_t* right, std::int32_t* value) {
  const std::int32_t slot = in.left_operand.slot;
  if (a->slots[slot] == kHeldNumber) {
    *left = a->numbers[slot];
    *right = in.right_operand.number;
    if (in.outcomes != 0) return (in.outcomes >> ((*left > *right) - (*left < *right) + 1)) & 1;
    if (apply_number_operator(in.node->kind, *left, *right, value)) return *value != 0 ? 1 : 0;
  }
  return test_of(a, in, left, right, value);
}

// The loop's steps go on through these; see run().
#define VM_DISPATCH() goto* kSteps[static_cast<std::uint8_t>(ip->op)]
#define VM_NEXT()  \
  do {             \
    ++ip;          \
    VM_DISPATCH(); \
  } while (false)
#define VM_JUMP(to)   \
  do {                \
    ip = code + (to); \
    VM_DISPATCH();    \
  } while (false)

// Aligned to a cache line, so that where its branches fall does not move with unrelated code.
[[gnu::aligned(64)]] bool run(Activation* a, Entry* result, std::int32_t start) {
  const Instruction* const code = a->function->code;
  CallContext* context = a->context;
  // The operands and result of the larger instructions' arithmetic, shared by them all: a frame
  // that kept a set per instruction would cost recursion depth where locals are padded.
  std::int32_t left;
  std::int32_t right;
  std::int32_t value;
  // Each step goes to the next through a table of the steps' addresses, indexed by the operation:
  // one indirect jump per instruction, at the end of each step. The code ends with Op::End.
  static void* const kSteps[] = {&&step_Nop,
                                 &&step_PushNumber,
                                 &&step_PushText,
                                 &&step_Refused,
                                 &&step_PushName,
                                 &&step_Assign,
                                 &&step_Binary,
                                 &&step_Unary,
                                 &&step_Declare,
                                 &&step_Index,
                                 &&step_PostStep,
                                 &&step_ApplyPostfix,
                                 &&step_Clear,
                                 &&step_Comma,
                                 &&step_Jump,
                                 &&step_SkipIfTrue,
                                 &&step_LoopTest,
                                 &&step_LoopBack,
                                 &&step_EnterScope,
                                 &&step_LeaveScope,
                                 &&step_Return,
                                 &&step_CallStart,
                                 &&step_Call,
                                 &&step_BinaryOf,
                                 &&step_AssignClear,
                                 &&step_StepClear,
                                 &&step_JumpIfFalse,
                                 &&step_AssignOf,
                                 &&step_TestJump,
                                 &&step_BreakJump,
                                 &&step_Switch,
                                 &&step_CaseEntry,
                                 &&step_LoopTestOf,
                                 &&step_LoopTestBack,
                                 &&step_BreakCount,
                                 &&step_BreakOut,
                                 &&step_Discard,
                                 &&step_AssignValue,
                                 &&step_TestJumpConst,
                                 &&step_LoopTestOfConst,
                                 &&step_LoopTestBackConst,
                                 &&step_BinaryOfConst,
                                 &&step_AssignOfConst,
                                 &&step_Interpolate,
                                 &&step_PushPattern,
                                 &&step_CaptureEntry,
                                 &&step_ListStart,
                                 &&step_MakeList,
                                 &&step_AssignNamed,
                                 &&step_Exit,
                                 &&step_PartStart,
                                 &&step_PartEnd,
                                 &&step_Drop,
                                 &&step_Unwind,
                                 &&step_BrokenPart,
                                 &&step_End};
  static_assert(sizeof(kSteps) / sizeof(kSteps[0]) == static_cast<std::size_t>(Op::End) + 1);
  const Instruction* ip = code + start;
  // The position is set where a step may report or call: the steps that cannot go on as they are.
  VM_DISPATCH();
  {
  step_Nop:
    VM_NEXT();
  step_PushNumber:
    if (!push(a, number_entry(ip->a))) return false;
    VM_NEXT();
  step_PushText:
    if (!push(a, text_entry(ip->node))) return false;
    VM_NEXT();
  step_PushName:
    if (ip->b == 1 && a->slots[ip->node->name_slot] == kHeldNumber) {
      if (!push(a, number_entry(a->numbers[ip->node->name_slot]))) return false;
      VM_NEXT();
    }
    if (!push_name(a, ip->node)) return false;
    VM_NEXT();
  step_Refused:
    if (ip->node != nullptr) context->position = ip->node->source;
    return fail(context, "Sentence error");
  step_Assign:
    if (!assign(a, ip->node, ip->a == 1)) return false;
    VM_NEXT();
  step_AssignClear:
    if (!assign(a, ip->node, true)) return false;
    clear(a);
    VM_NEXT();
  step_Binary:
    // Two numbers (results of calls or of other operators): at once.
    if (a->height >= 2 && a->stack[a->height - 1].kind == Kind::Number &&
        a->stack[a->height - 2].kind == Kind::Number &&
        apply_number_operator(ip->node->kind, a->stack[a->height - 2].number,
                              a->stack[a->height - 1].number, &value)) {
      --a->height;
      a->stack[a->height - 1].number = value;
      VM_NEXT();
    }
    if (!binary(a, ip->node)) return false;
    VM_NEXT();
  step_Unary:
    if (!unary(a, ip->node)) return false;
    VM_NEXT();
  step_Declare:
    if (!declare_name(a, ip->node, ip->a == 1)) return false;
    VM_NEXT();
  step_Index:
    if (!index(a, ip->node)) return false;
    VM_NEXT();
  step_BinaryOf : {
    // Both operands plain numbers: at once.
    if (plain_operands(a, *ip, &left, &right) && a->height < a->capacity &&
        apply_number_operator(ip->node->kind, left, right, &value)) {
      a->stack[a->height++] = number_entry(value);
      VM_NEXT();
    }
    if (!push_operand(a, ip->left) || !push_operand(a, ip->right) || !binary(a, ip->node))
      return false;
    VM_NEXT();
  }
  step_TestJump : {
    std::int32_t holds = test_of(a, *ip, &left, &right, &value);
    if (holds <= 0) {
      if (holds < 0) return false;
      VM_JUMP(ip->a);
    }
    VM_NEXT();
  }
  step_LoopTestOf : {
    std::int32_t holds = test_of(a, *ip, &left, &right, &value);
    if (holds <= 0) {
      if (holds < 0) return false;
      VM_JUMP(ip->a);
    }
    if (stop_requested()) return false;  // a loop's test is where a stop ends it
    VM_NEXT();
  }
  step_LoopTestBack : {
    count_step();  // the pass's end
    std::int32_t holds = test_of(a, *ip, &left, &right, &value);
    if (holds <= 0) {
      if (holds < 0) return false;
      VM_JUMP(ip->a);
    }
    if (stop_requested()) return false;
    VM_JUMP(ip->b);
  }
  step_TestJumpConst : {
    std::int32_t holds = test_const(a, *ip, &left, &right, &value);
    if (holds <= 0) {
      if (holds < 0) return false;
      VM_JUMP(ip->a);
    }
    VM_NEXT();
  }
  step_LoopTestOfConst : {
    std::int32_t holds = test_const(a, *ip, &left, &right, &value);
    if (holds <= 0) {
      if (holds < 0) return false;
      VM_JUMP(ip->a);
    }
    if (stop_requested()) return false;
    VM_NEXT();
  }
  step_LoopTestBackConst : {
    count_step();
    std::int32_t holds = test_const(a, *ip, &left, &right, &value);
    if (holds <= 0) {
      if (holds < 0) return false;
      VM_JUMP(ip->a);
    }
    if (stop_requested()) return false;
    VM_JUMP(ip->b);
  }
  step_BinaryOfConst : {
    const std::int32_t slot = ip->left_operand.slot;
    if (a->slots[slot] == kHeldNumber && a->height < a->capacity &&
        apply_number_operator(ip->node->kind, a->numbers[slot], ip->right_operand.number, &value)) {
      a->stack[a->height++] = number_entry(value);
      VM_NEXT();
    }
    goto step_BinaryOf;
  }
  step_AssignOfConst : {
    const std::int32_t slot = ip->left_operand.slot;
    ValueNode* target = a->slots[ip->target_slot];
    if (a->slots[slot] == kHeldNumber && a->height == 0 &&
        (target == kHeldNumber || (target == nullptr && new_number(a, ip->target))) &&
        apply_number_operator(ip->node->kind, a->numbers[slot], ip->right_operand.number, &value)) {
      if (target == nullptr) declare_number(a, ip->target_slot, value);
      a->numbers[ip->target_slot] = value;
      clear(a);
      VM_NEXT();
    }
    goto step_AssignOf;
  }
  step_AssignOf : {
    ValueNode* target = a->slots[ip->target_slot];
    if (a->height == 0 &&
        (target == kHeldNumber || (target == nullptr && new_number(a, ip->target))) &&
        plain_operands(a, *ip, &left, &right) &&
        apply_number_operator(ip->node->kind, left, right, &value)) {
      if (target == nullptr) declare_number(a, ip->target_slot, value);
      a->numbers[ip->target_slot] = value;
      clear(a);
      VM_NEXT();
    }
    if (target == kHeldNumber) target = nullptr;  // its variable is made
    if (target == nullptr && a->height == 0) {
      target = resolve_name(a, ip->target);
      if (target == nullptr) return false;
    }
    if (target != nullptr && !is_shared_value(target->value) && a->height == 0 &&
        plain_operands(a, *ip, &left, &right) &&
        apply_number_operator(ip->node->kind, left, right, &value)) {
      Value* stored = target->value;
      if (!stored->is_string) {
        stored->data.number = value;
      } else {
        store_scalar(stored, 0, value, nullptr);
      }
      clear(a);
      VM_NEXT();
    }
    if (!push_name(a, ip->target) || !push_operand(a, ip->left) || !push_operand(a, ip->right) ||
        !binary(a, ip->node) || !assign(a, ip->assign, true)) {
      return false;
    }
    clear(a);
    VM_NEXT();
  }
  step_StepClear : {
    ValueNode* variable = a->slots[ip->node->name_slot];
    if (variable != nullptr && a->open_calls == 0 && a->height == 0) {
      // As the postfix step, applied at once (it is the newest), then any older ones.
      if (variable == kHeldNumber) {
        std::int32_t& number = a->numbers[ip->node->name_slot];
        number = static_cast<std::int32_t>(static_cast<std::uint32_t>(number) +
                                           static_cast<std::uint32_t>(ip->a));
      } else {
        step_value(context, variable->value, ip->a);
      }
      if (a->pending_count > 0) apply_pending(a, 0);
      clear(a);
      VM_NEXT();
    }
    if (!push_name(a, ip->node) || !post_step(a, ip->node, ip->a)) return false;
    if (a->open_calls == 0) apply_pending(a, 0);
    clear(a);
    VM_NEXT();
  }
  step_AssignValue : {
    ValueNode* target = a->slots[ip->target_slot];
    if (a->height == 0 && operand_number(a, ip->right_operand, &value)) {
      if (target == kHeldNumber) {
        a->numbers[ip->target_slot] = value;
        clear(a);
        VM_NEXT();
      }
      if (target == nullptr && new_number(a, ip->target)) {
        declare_number(a, ip->target_slot, value);
        clear(a);
        VM_NEXT();
      }
      if (target != nullptr && !is_shared_value(target->value)) {
        store_number(target->value, value);
        clear(a);
        VM_NEXT();
      }
    }
    if (!push_name(a, ip->target) || !push_operand(a, ip->right) || !assign(a, ip->node, true))
      return false;
    clear(a);
    VM_NEXT();
  }
  step_JumpIfFalse:
    if (!take_condition(a)) {
      VM_JUMP(ip->a);
    }
    VM_NEXT();
  step_PostStep:
    if (!post_step(a, ip->node, ip->a)) return false;
    VM_NEXT();
  step_ApplyPostfix:
    if (a->open_calls == a->list_calls) apply_pending(a, a->list_pending);
    VM_NEXT();
  step_Clear:
    clear(a);
    VM_NEXT();
  step_Comma:
    context->position = ip->node->source;
    if (a->height == a->list_base && !push(a, number_entry(0))) return false;
    if (ip->a == 1 && !push(a, number_entry(0))) return false;
    VM_NEXT();
  step_Jump:
  step_BreakJump:
    VM_JUMP(ip->a);
  step_BreakCount:
    take_break_count(a);
    VM_NEXT();
  step_BreakOut:
    if (a->break_count == 0) VM_JUMP(ip->a);
    --a->break_count;
    VM_NEXT();
  step_Discard:
    if (a->height > 0) release_stack(a);
    VM_NEXT();
  step_Switch : {
    context->position = ip->node->source;
    const Instruction* entries = ip + 1;
    std::int32_t chosen = choose_case(a, entries);
    if (chosen == -2) return false;
    if (chosen < 0) {
      while (entries->node != nullptr)
        ++entries;
      VM_JUMP(entries->a);
    }
    if (stop_requested()) return false;
    a->scope_marks[a->scope_count++] = a->declared_count;
    if (ip->b == 1 && !open_frame(a)) return false;
    VM_JUMP(entries[chosen].a);
  }
  step_CaseEntry:
  step_CaptureEntry:
    return fail(context, "Sentence error");  // never reached: the tables are gone past
  step_End:
    return true;
  step_SkipIfTrue:
    ip += take_condition(a) ? 2 : 1;
    VM_DISPATCH();
  step_LoopTest : {
    if (!take_condition(a)) {
      VM_JUMP(ip->a);
    }
    if (stop_requested()) return false;
    VM_NEXT();
  }
  step_LoopBack:
    count_step();
    VM_JUMP(ip->a);
  // The braces' depth is the compiler's: storing it, rather than counting, leaves no chain of
  // updates from one pass of a loop to the next.
  step_EnterScope:
    if (stop_requested()) return false;
    a->scope_marks[ip->a] = a->declared_count;
    a->scope_count = ip->a + 1;
    VM_NEXT();
  step_LeaveScope:
    if (a->declared_count > a->scope_marks[ip->a]) {
      if (!leave_one(a)) leave_scope(a);
    } else {
      a->scope_count = ip->a;  // nothing declared there
    }
    VM_NEXT();
  step_Return:
    context->position = ip->node->source;
    return take_returned(a, result);
  step_CallStart:
    context->position = ip->node->source;
    if (a->open_calls == a->sizes.calls) return fail(context, "Alloc failed");
    a->call_bases[a->open_calls] = a->height;
    a->call_marks[a->open_calls++] = a->pending_count;
    if (!push(a, cell_entry(nullptr, Kind::Marker))) return false;
    VM_NEXT();
  step_Call : {
    context->position = ip->node->source;
    if (a->open_calls == 0) return fail(context, "Sentence error");
    std::int32_t marker = a->call_bases[a->open_calls - 1];
    if (marker >= a->height || a->stack[marker].kind != Kind::Marker) {
      marker = a->height - 1;
      while (marker >= 0 && a->stack[marker].kind != Kind::Marker)
        --marker;
      if (marker < 0) return fail(context, "Sentence error");
    }
    Direct direct;
    if (ip->node->text[0] == '&') {
      // An asynchronous call starts a thread, whatever its name was found to reach.
      direct = call_with_chain(a, *ip, marker);
    } else {
      direct = call_direct(a, ip->node, marker);
      if (direct == Direct::NotRun) {
        bool reader = std::atomic_ref<std::int32_t>(ip->node->call_target_kind)
                          .load(std::memory_order_acquire) == CALL_TARGET_READER;
        direct = reader && a->height - marker - 1 <= kArgumentCells
                     ? call_reader(a, *ip, marker)
                     : call_with_chain(a, *ip, marker);
      }
    }
    if (direct == Direct::Failed) return false;
    VM_NEXT();
  }
  // The rarer steps last, out of the way of the others.
  step_Interpolate:
    if (!interpolate(a, *ip)) return false;
    VM_NEXT();
  step_PushPattern:
    context->position = ip->node->source;
    if (!push_pattern(a, ip)) return false;
    VM_JUMP(ip->a);
  step_ListStart:
    if (!open_frame(a)) return false;
    VM_NEXT();
  step_MakeList:
    context->position = ip->node->source;
    if (!make_list(a)) return false;
    VM_NEXT();
  step_AssignNamed:
    if (!assign_named(a, ip->node)) return false;
    VM_NEXT();
  step_PartStart:
    if (!push(a, number_entry(a->pending_count))) return false;
    VM_NEXT();
  step_PartEnd:
    context->position = ip->node->source;
    if (ip->a == 1 && !take_first(a)) return false;
    if (!end_part(a)) return false;
    VM_NEXT();
  step_Drop:
    if (a->height > 0 && a->stack[a->height - 1].kind != Kind::Marker)
      release_entry(a->stack[--a->height]);
    VM_NEXT();
  step_Unwind:
    unwind(a, ip->a);
    VM_NEXT();
  step_BrokenPart:
    context->position = ip->node->source;
    report_unparsed_part(context, a->function->templates[ip->a]->broken);
    return false;
  step_Exit:
    a->exited = true;
    context->position = ip->node->source;
    return take_returned(a, result);
  }
}

#undef VM_JUMP
#undef VM_NEXT
#undef VM_DISPATCH

// Activation records kept for the thread's next calls, one per level of nesting seen (up to a
// bound): a record is too large to allocate at every call. No destructor (see BlockList): they go
// with the thread's other caches.
constexpr std::int32_t kMaxSpares = 16;

struct SpareActivations {
  Activation* first;
  std::int32_t count;

  Activation* take() {
    Activation* a = first;
    if (a != nullptr) {
      first = a->next_spare;
      --count;
      return a;
    }
    return make_activation();
  }
  void give_back(Activation* a) {
    if (count == kMaxSpares) {
      free_activation(a);
      return;
    }
    note_thread_caches();
    a->next_spare = first;
    first = a;
    ++count;
  }
  void drain() {
    while (first != nullptr) {
      Activation* next = first->next_spare;
      free_activation(first);
      first = next;
    }
    count = 0;
  }
};

constinit thread_local SpareActivations Spares{};

}  // namespace

namespace {

// The parameters from `first` on, for which there are no arguments: their compiled code runs in
// the binding's mode, where each declares itself and takes its default, its values left behind.
[[gnu::noinline]] bool bind_missing(Activation* a, std::int32_t first) {
  CallContext* frame = a->context;
  const Parameter& parameter = a->function->parameters[first];
  frame->bind_mode = 1;
  Entry ignored = number_entry(0);
  bool ran = run(a, &ignored, parameter.defaults_at);
  frame->bind_mode = 0;
  release_entry(ignored);
  while (a->height > 0)
    release_entry(a->stack[--a->height]);
  if (!ran) return false;
  if (parameter.without_default == nullptr) return true;
  report_error(frame, "Argument error", parameter.without_default->source, 0);
  return false;
}

// Sets the record up for a run of `function` in `frame`, whose slots it provides. The slots are the
// frame's own, so that a lookup by name in the frame (a built-in's, or the call's `arg`) finds the
// variables there; beyond the frame's inline ones from the thread's cache, as the parked variables
// beyond the record's inline ones: arrays on the thread's stack would cost recursion depth. False
// when memory ran out (nothing is taken then).
VM_INLINE bool begin_run(Activation* a, CallContext* frame, const CompiledFunction* function,
                         Script* module, bool holds_numbers) {
  if (!fit_tables(a, function)) return false;
  const std::int32_t slot_count = function->slot_count;
  ValueNode** parked = slot_count > kInlineParked ? take_slot_array(slot_count) : a->inline_parked;
  if (slot_count > CallContext::kInlineSlots && parked != nullptr)
    frame->heap_slots = take_slot_array(slot_count);
  if (parked == nullptr ||
      (slot_count > CallContext::kInlineSlots && frame->heap_slots == nullptr)) {
    if (parked != nullptr && parked != a->inline_parked) give_slot_array(parked, slot_count);
    return false;
  }
  frame->slot_count = slot_count;
  a->height = 0;
  a->declared_count = 0;
  a->scope_count = 0;
  a->pending_count = 0;
  a->open_calls = 0;
  a->chain_seen = nullptr;
  a->context = frame;
  a->function = function;
  a->slot_names = function->table->names;
  a->name_hashes = function->name_hashes;
  a->slots = frame_slots(frame);
  a->parked = parked;
  a->reuse_parked = function->implicit_names && module == function->table->module;
  a->holds_numbers = holds_numbers;
  a->numbers_held = false;
  a->exited = false;
  a->list_base = 0;
  a->list_calls = 0;
  a->list_pending = 0;
  a->scope_marks[a->scope_count++] = 0;
  return true;
}

// The run's end: what the stack holds goes, and the variables the record holds; the frame keeps
// its chain, which the caller releases.
VM_INLINE void end_run(Activation* a) {
  while (a->height > 0)
    release_entry(a->stack[--a->height]);
  release_declared(a);
  if (a->parked != a->inline_parked) {
    free_parked(a->parked, a->function->slot_count);
    give_slot_array(a->parked, a->function->slot_count);
  }
}

// What a call of a compiled body did besides its result: whether dispatch's search chose it,
// whether its parameters were bound (a call whose binding fails yields 0 without running), and
// whether it ended at an exit.
struct CallReport {
  // Given by an event's dispatch: the text its first parameter, a pattern, is searched in; the
  // search chooses the function or not.
  const char* subject;
  bool matched;  // the function was chosen
  bool bound;
  bool exited;
};

// A pattern parameter's search of `subject` in the binding mode: 1, 0 or PATTERN_SEARCH_FAILED
// (reported). Its capture table binds the captures in the record. One whose targets' code was
// refused has none: it is reported.
std::int32_t search_parameter(Activation* a, const Parameter& parameter, const char* subject) {
  CallContext* frame = a->context;
  const CompiledPattern* pattern = parameter.node->pattern;
  if (parameter.captures_at < 0) {
    report_error(frame, "Sentence error", parameter.node->source, 0);
    return PATTERN_SEARCH_FAILED;
  }
  const Instruction* table = a->function->code + parameter.captures_at;
  PatternCaptures found;
  std::int32_t searched = pattern_capture(frame, pattern, subject, true, &found);
  if (searched == PATTERN_SEARCH_FAILED || found.count == 0) return searched;
  frame->bind_mode = 1;
  bind_captures(a, table, found);
  frame->bind_mode = 0;
  return searched;
}

// A pattern parameter: its argument's text searched, the captures bound. False after a reported
// failure.
bool bind_pattern(Activation* a, const Parameter& parameter, const char* subject) {
  if (subject == nullptr) {
    report_error(a->context, "Alloc failed", parameter.node->source, 0);
    return false;
  }
  return search_parameter(a, parameter, subject) != PATTERN_SEARCH_FAILED;
}

// The variable in `slot` made the call's `arg`, as provide_arg makes it in a frame; false when
// memory ran out.
bool bind_arg_slot(Activation* a, std::int32_t slot, ValueNode* arguments) {
  ValueNode* variable = a->slots[slot];
  if (variable == kHeldNumber) variable = materialize(a, slot);
  if (variable == nullptr) return false;
  set_arg(a->context, variable, arguments != NO_ARGUMENTS ? arguments : nullptr);
  return true;
}

// A parameter called "arg", once all are bound: the call's `arg`. False after a reported failure.
[[gnu::noinline]] bool bind_call_arg(Activation* a, ValueNode* arguments) {
  const CompiledFunction* function = a->function;
  for (std::int32_t i = 0; i < function->parameter_count; ++i) {
    const Parameter& parameter = function->parameters[i];
    if (parameter.is_arg && !bind_arg_slot(a, parameter.slot, arguments)) return false;
  }
  return true;
}

// A call of the compiled body with its first `argument_count` parameters (at most) bound by
// `bind(i, frame, local, parameter)`, or held as plain numbers where `plain(i, parameter,
// &number)` finds one, the others to their defaults: Done with the result in
// *result (a number, or a cell the caller owns; always a cell when `as_cell`), Failed after a
// reported failure, or NotRun when
// nothing has run (memory for the call's tables ran out). A call whose binding fails yields 0.
// `arguments` is the chain `arg` refers to, if there is one. A
// pattern parameter is bound by `bind` with a null `local`. `report`, when given, says what the
// call did besides.
template <typename Plain, typename Bind>
Direct call_compiled(Script* module, FunctionEntry* entry, const CompiledFunction* function,
                     ValueNode* arguments, std::int32_t argument_count, std::intptr_t host_word,
                     Plain plain, Bind bind, Entry* result, bool as_cell,
                     CallReport* report = nullptr) {
  if (stop_requested()) return Direct::Failed;
  Activation* a = Spares.take();
  if (a == nullptr) return Direct::NotRun;
  // The record's own frame, blank since its last call (see below).
  CallContext& frame = a->frame;
  frame.script = module;
  frame.function_name = entry->name;
  frame.host_word = host_word;
  frame.names = function->table;
  frame.position = nullptr;
  if (!begin_run(a, &frame, function, module, true)) {
    Spares.give_back(a);
    return Direct::NotRun;
  }
  bool bound = true;
  bool chosen = true;  // by dispatch's search, when it makes one
  const std::int32_t given = std::min(argument_count, function->parameter_count);
  for (std::int32_t i = 0; bound && i < given; ++i) {
    const Parameter& parameter = function->parameters[i];
    if (parameter.slot < 0) [[unlikely]] {
      if (parameter.slot == kEmptyPlace) {
        report_error(&frame, "Sentence error", parameter.node->source, 0);
        bound = false;
        break;
      }
      // A pattern: its search binds its captures in the record's slots.
      if (i == 0 && report != nullptr && report->subject != nullptr) {
        // Dispatch's own search, once: it chooses the function or not (nothing more is bound or
        // run then). Its reports name no function: the dispatch makes it, not a call.
        frame.function_name = nullptr;
        chosen = search_parameter(a, parameter, report->subject) == 1;
        frame.function_name = entry->name;
        bound = chosen;
      } else {
        bound = bind(i, a, nullptr, parameter);
      }
      if (frame.last_local != a->chain_seen) adopt_declared(a);
      continue;
    }
    std::int32_t number = 0;
    if (plain(i, parameter, &number) && a->slots[parameter.slot] == nullptr) {
      declare_number(a, parameter.slot, number);
      continue;
    }
    if (a->slots[parameter.slot] != nullptr) [[unlikely]] {
      // A name declared already: by an earlier parameter of that name, or a pattern's capture.
      report_named_error(&frame, bare_name(parameter.node), " :Declaration overlaps",
                         parameter.node->source);
      bound = false;
      break;
    }
    ValueNode* local = declare(a, parameter.slot);
    bound = local != nullptr && bind(i, a, local, parameter);
  }
  if (bound && given < function->parameter_count) bound = bind_missing(a, given);
  // A function with a parameter called "arg" reads the arguments: its calls give them. So does
  // an `arg` that the binding declared.
  if (bound && arguments != nullptr) {
    if (function->binds_arg) [[unlikely]] {
      bound = bind_call_arg(a, arguments);
    } else if (function->arg_slot >= 0 && a->slots[function->arg_slot] != nullptr) [[unlikely]] {
      bound = bind_arg_slot(a, function->arg_slot, arguments);
    } else {
      provide_arg(&frame, arguments);
    }
  }
  *result = number_entry(0);
  bool ok = !bound || run(a, result, 0);
  if (report != nullptr) {
    report->matched = chosen;
    report->bound = bound;
    report->exited = a->exited;
  }
  if (ok && as_cell && result->kind != Kind::Cell) {
    ValueNode* cell = cell_of(*result);
    ok = cell != nullptr || fail(&frame, "Alloc failed");
    if (ok) *result = cell_entry(cell, Kind::Cell);
  }
  end_run(a);
  // Blank again for the record's next call: the slots the record declared are empty again, and
  // those of the frame's chain go with it.
  if (frame.locals != nullptr || frame.heap_slots != nullptr) {
    release_frame(&frame);
    std::memset(static_cast<void*>(frame.inline_slots), 0, sizeof(frame.inline_slots));
  }
  frame.pending_arg = nullptr;
  frame.slot_count = 0;
  frame.last_local = nullptr;
  Spares.give_back(a);
  if (!ok) {
    release_entry(*result);
    return Direct::Failed;
  }
  return Direct::Done;
}

// An argument that a parameter taken by value holds as a plain number: a number, or a variable's
// or a cell's plain number without elements (as bind_entry stores it).
bool plain_argument(const Entry& argument, std::int32_t* number) {
  if (argument.kind == Kind::Number) {
    *number = argument.number;
    return true;
  }
  if (argument.kind != Kind::Variable && argument.kind != Kind::Cell) return false;
  const Value* value = argument.cell->value;
  if (is_shared_value(value) || value->is_string || elements_of(argument.cell) != nullptr)
    return false;
  *number = value->data.number;
  return true;
}

// Binds a parameter to a value on the caller's stack, as bind_parameter binds the cell the value
// would make. A reference parameter is given cells only (see call_direct).
bool bind_entry(CallContext* frame, ValueNode* local, const Parameter& parameter,
                const Entry& argument) {
  switch (argument.kind) {
    case Kind::Number:
      store_number(local->value, argument.number);
      return true;
    case Kind::Text: {
      Value text{};
      text.is_string = 1;
      text.data.text = const_cast<char*>(literal_text(argument));
      return assign_value(frame, local->value, &text);
    }
    case Kind::Variable:
    case Kind::Cell: {
      // A plain number without elements, taken by value: stored as bind_parameter would store it.
      const Value* value = argument.cell->value;
      if (!parameter.by_reference && !is_shared_value(value) && !value->is_string &&
          elements_of(argument.cell) == nullptr) {
        store_number(local->value, value->data.number);
        return true;
      }
      return bind_parameter(frame, local, parameter.by_reference, argument.cell, frame->position);
    }
    case Kind::Marker:
      break;
  }
  return fail(frame, "Sentence error");
}

// A call whose target is known to be a user function with a compiled form that does not read
// `arg`: its parameters are bound from the caller's stack, without a chain of argument cells. The
// arguments go once it has returned, then the postfix steps made in them apply, as after any
// call. NotRun when the call is to be made with a chain of arguments (call_function); nothing has
// changed then.
[[gnu::noinline]] Direct call_direct(Activation* a, SyntaxNode* node, std::int32_t marker) {
  FunctionEntry* entry = compiled_call_target(node);
  if (entry == nullptr) return Direct::NotRun;
  const CompiledFunction* callee = compiled_form(entry);
  Entry* arguments = a->stack + marker + 1;
  if (callee == nullptr || callee->reads_arguments) return Direct::NotRun;
  CallContext* context = a->context;
  const std::int32_t argument_count = a->height - marker - 1;
  const std::int32_t given =
      callee->takes_references ? std::min(argument_count, callee->parameter_count) : 0;
  for (std::int32_t i = 0; i < given; ++i) {
    Entry& argument = arguments[i];
    if (!callee->parameters[i].by_reference ||
        (argument.kind != Kind::Number && argument.kind != Kind::Text)) {
      continue;
    }
    ValueNode* cell = cell_of(argument);  // a reference needs a Value to share
    if (cell == nullptr) {
      fail(context, "Alloc failed");
      return Direct::Failed;
    }
    argument = cell_entry(cell, Kind::Cell);
  }
  const char* name = node->text;
  Entry returned{};
  Direct outcome = Direct::Failed;
  if (enter_direct_call(context, name)) {
    outcome = call_compiled(
        entry->module, entry, callee, nullptr, argument_count, context->host_word,
        [arguments](std::int32_t i, const Parameter& parameter, std::int32_t* number) {
          return !parameter.by_reference && plain_argument(arguments[i], number);
        },
        [arguments](std::int32_t i, Activation* record, ValueNode* local,
                    const Parameter& parameter) {
          if (local == nullptr) {
            EntryText text(arguments[i]);
            return bind_pattern(record, parameter, text.scalar.failed ? nullptr : text.text);
          }
          return bind_entry(record->context, local, parameter, arguments[i]);
        },
        &returned, false);
    leave_direct_call();
    if (outcome == Direct::NotRun) return Direct::NotRun;
  }
  while (a->height > marker)
    release_entry(a->stack[--a->height]);
  apply_pending(a, a->call_marks[--a->open_calls]);
  return take_result(a, name, outcome, returned);
}

}  // namespace

namespace {

// run_function_vm with the report of what the call did.
bool run_reporting(Script* module, FunctionEntry* entry, ValueNode* arguments,
                   std::intptr_t host_word, ValueNode** result, CallReport* report) {
  CompiledFunction* function = compiled_form(entry);
  if (function == nullptr) return false;
  std::int32_t argument_count = 0;
  for (const ValueNode* argument = arguments; argument != nullptr; argument = argument->next)
    ++argument_count;
  ValueNode* next = arguments;
  std::int32_t at = 0;
  Entry returned{};
  Direct outcome = call_compiled(
      module, entry, function, arguments != nullptr ? arguments : NO_ARGUMENTS, argument_count,
      host_word, [](std::int32_t, const Parameter&, std::int32_t*) { return false; },
      [&next, &at](std::int32_t i, Activation* record, ValueNode* local,
                   const Parameter& parameter) {
        for (; at < i; ++at)  // past an argument bound without it (dispatch's subject)
          next = next->next;
        ValueNode* argument = next;
        next = next->next;
        ++at;
        if (local == nullptr) {
          char* subject = text_of_value(argument->value);
          bool bound = bind_pattern(record, parameter, subject);
          release(&subject);
          return bound;
        }
        CallContext* frame = record->context;
        return bind_parameter(frame, local, parameter.by_reference, argument, frame->position);
      },
      &returned, true, report);
  if (outcome == Direct::NotRun) return false;
  *result = outcome == Direct::Done ? returned.cell : CALL_FAILED;
  return true;
}

}  // namespace

namespace {

// A call that could not start: memory for its compiled form or its tables ran out.
void report_unstarted(Script* module, FunctionEntry* entry, std::intptr_t host_word) {
  CallContext frame{};
  frame.script = module;
  frame.function_name = entry->name;
  frame.host_word = host_word;
  report_error(&frame, "Alloc failed", entry->name, 0);
}

}  // namespace

ValueNode* run_function_vm(Script* module, FunctionEntry* entry, ValueNode* arguments,
                           std::intptr_t host_word) {
  ValueNode* result = nullptr;
  if (run_reporting(module, entry, arguments, host_word, &result, nullptr)) return result;
  if (compiled_form_refused(entry)) {
    // A definition without a body to compile: its calls yield 0.
    result = make_number_cell(0);
    if (result != nullptr) return result;
  }
  report_unstarted(module, entry, host_word);
  return CALL_FAILED;
}

void run_argmatch_vm(Script* module, FunctionEntry* entry, ValueNode* arguments,
                     const char* subject, std::intptr_t host_word, bool* matched,
                     std::int32_t* code, bool* bound) {
  *matched = false;
  *bound = true;
  *code = RUN_NORMAL;
  ValueNode* result = nullptr;
  CallReport report{};
  report.subject = subject;
  if (subject == nullptr || !run_reporting(module, entry, arguments, host_word, &result, &report)) {
    if (subject != nullptr && compiled_form_refused(entry)) return;  // never chosen
    report_unstarted(module, entry, host_word);
    *matched = true;
    *code = RUN_FAILED;
    return;
  }
  *matched = report.matched;
  // A body with nothing in it ends the dispatch as a binding that failed does.
  *bound = report.bound && compiled_form(entry)->call->body != nullptr;
  if (result == CALL_FAILED) {
    *code = RUN_FAILED;
  } else {
    free_node(result);
    *code = report.exited ? RUN_EXIT : RUN_NORMAL;
  }
}

namespace {

// A top level's end: the variables of its outermost scope become the frame's chain, in the order
// they were declared, with names of their own (they outlive the module's tables as globals); any
// the chain held that the record never saw follow them. Those of inner scopes that a `return` or
// `break` left open go as their braces would have taken them. False after a reported failure.
bool keep_top_level_variables(Activation* a) {
  CallContext* frame = a->context;
  while (a->scope_count > 1)
    leave_scope(a);
  bool ok = true;
  ValueNode* kept = nullptr;
  ValueNode** tail = &kept;
  for (std::int32_t i = 0; i < a->declared_count; ++i) {
    const Activation::Declared& declared = a->declared[i];
    ValueNode* variable = declared.hidden;
    if (declared.slot < 0) {
      unlink_from_chain(a, variable);
    } else {
      variable = a->slots[declared.slot];
      a->slots[declared.slot] = declared.hidden;
      variable->name = dup_string(a->function->table->names[declared.slot]);
      if (variable->name == nullptr && ok) ok = fail(frame, "Alloc failed");
    }
    *tail = variable;
    tail = &variable->next;
  }
  a->declared_count = 0;
  *tail = frame->locals;
  frame->locals = kept;
  frame->last_local = nullptr;
  for (ValueNode* cell = kept; cell != nullptr; cell = cell->next)
    frame->last_local = cell;
  return ok;
}

}  // namespace

bool run_top_level_vm(Script* module, CallContext* frame) {
  if (module->code == nullptr) return true;  // nothing to run
  CompiledFunction* function = compile_top_level(module);
  Activation* a = function != nullptr ? Spares.take() : nullptr;
  if (a == nullptr || !begin_run(a, frame, function, module, false)) {
    if (a != nullptr) Spares.give_back(a);
    free_top_level(function);
    report_error(frame, "Alloc failed", nullptr, 0);
    return false;
  }
  // A `return` at the top level ends it; its value goes nowhere.
  Entry returned = number_entry(0);
  bool ran = !stop_requested() && run(a, &returned, 0);
  release_entry(returned);
  if (ran) ran = keep_top_level_variables(a);
  end_run(a);
  Spares.give_back(a);
  free_top_level(function);
  return ran;
}

void release_compiled_activations() {
  Spares.drain();
}

void release_function_vm(FunctionEntry* entry) {
  free_compiled_form(entry);
}

#undef VM_INLINE
