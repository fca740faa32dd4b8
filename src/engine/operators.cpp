// The operators on values, as every expression runs them: arithmetic and comparison by the family
// of the operands (numbers, strings, hashes), the deep comparison of hashes, the copy of a hash's
// elements into an assigned one, and the literals that are read in place.
#include "engine/operators.h"

#include <atomic>
#include <cstring>
#include <new>

#include "base/cp932.h"
#include "base/syntax_node.h"
#include "engine/call.h"
#include "engine/cells.h"
#include "engine/element_index.h"
#include "engine/error_report.h"
#include "engine/evaluate.h"
#include "engine/number_ops.h"
#include "engine/retire.h"
#include "engine/script.h"
#include "engine/walk_stack.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "regex/pattern.h"

namespace {

std::int32_t fail(CallContext* context, const char* message) {
  report_error(context, message, context->position, 0);
  return RUN_FAILED;
}

std::int32_t fail_alloc(CallContext* context) {
  return fail(context, "Alloc failed");
}

// The length of a literal that has neither an escape nor a "%" (most have neither): its text is
// its raw bytes. -1 for any other literal.
[[gnu::always_inline]] inline std::ptrdiff_t plain_length(const char* raw) {
  const char* cursor = raw;
  while (*cursor != '\0') {
    unsigned char byte = static_cast<unsigned char>(*cursor);
    if (is_lead_byte(byte) && cursor[1] != '\0') {
      cursor += 2;
    } else if (byte == '\\' || byte == '%') {
      return -1;
    } else {
      ++cursor;
    }
  }
  return cursor - raw;
}

enum class Family { Number, String, Hash };

[[gnu::always_inline]] inline Family family_of(const ValueNode* left, const ValueNode* right) {
  if (left->is_hash || right->is_hash) return Family::Hash;
  if (value_is_string(left->value) || value_is_string(right->value)) return Family::String;
  return Family::Number;
}

[[gnu::always_inline]] inline std::int32_t number_operation(CallContext* context, NodeKind kind,
                                                            std::int32_t left, std::int32_t right,
                                                            std::int32_t* out) {
  if (apply_number_operator(kind, left, right, out)) return RUN_NORMAL;
  bool division = kind == NodeKind::Divide || kind == NodeKind::Modulo;
  return fail(context, division ? "Divide by ZERO" : "Illegal operator");
}

// A temporary's own string extended by `right_text`, taken from it (the temporary is left holding
// 0): in a chain of concatenations each piece is then copied once, mostly into the room the heap
// left in the first block. No other cell refers to a temporary's string, so the right text never
// lies in it. Null when the left operand is no such string, or memory ran out.
char* concatenation(ValueNode* left, const char* right_text) {
  Value* value = left->value;
  if (!is_temporary(left) || is_shared_value(value) || !value->is_string ||
      value->data.text == nullptr) {
    return nullptr;
  }
  char* joined = append_string(value->data.text, right_text);
  if (joined != nullptr) {
    value->data.number = 0;
    value->is_string = 0;
  }
  return joined;
}

// String semantics; a number result goes to *number, a string result to *text.
std::int32_t string_operation(CallContext* context, NodeKind kind, ValueNode* left,
                              ValueNode* right, std::int32_t* number, char** text) {
  switch (kind) {
    case NodeKind::LogicalAnd:
      *number = value_is_true(left->value) && value_is_true(right->value);
      return RUN_NORMAL;
    case NodeKind::LogicalOr:
      *number = value_is_true(left->value) || value_is_true(right->value);
      return RUN_NORMAL;
    default:
      break;
  }
  ValueText left_view(left->value);
  ValueText right_view(right->value);
  if (left_view.scalar.failed || right_view.scalar.failed) return fail_alloc(context);
  const char* left_text = left_view.text;
  const char* right_text = right_view.text;
  std::int32_t code = RUN_NORMAL;
  switch (kind) {
    case NodeKind::Equal:
      *number = texts_equal(left_text, right_text);
      break;
    case NodeKind::NotEqual:
      *number = !texts_equal(left_text, right_text);
      break;
    case NodeKind::Match: {
      CompiledPattern* compiled = nullptr;
      const CompiledPattern* pattern = right->pattern;
      PatternProblem problem = PATTERN_OK;
      if (pattern == nullptr) pattern = compiled = compile_pattern(right_text, &problem);
      if (pattern == nullptr) {
        code = fail(context, problem == PATTERN_TOO_COMPLEX ? "Regex too complex" : "Alloc failed");
        break;
      }
      *number = pattern_test(context, pattern, left_text);
      if (compiled != nullptr) free_pattern(&compiled);
      if (*number == PATTERN_SEARCH_FAILED) code = RUN_FAILED;
      break;
    }
    case NodeKind::Add:
      *text = concatenation(left, right_text);
      if (*text == nullptr) *text = concat_strings(left_text, right_text);
      if (*text == nullptr) code = fail_alloc(context);
      break;
    default:
      code = fail(context, "Illegal operator to string");
      break;
  }
  return code;
}

}  // namespace

namespace {

// Compares two scalars, or two entries of which one stands for a whole hash, without looking into
// nested hashes: *nested is set when the pair's element chains are to be compared next.
bool compare_one(CallContext* context, ValueNode* left, ValueNode* right, bool* equal,
                 bool* nested) {
  *nested = false;
  switch (family_of(left, right)) {
    case Family::Hash:
      *nested = true;
      *equal = true;
      return true;
    case Family::String: {
      std::int32_t number = 0;
      if (string_operation(context, NodeKind::Equal, left, right, &number, nullptr) != RUN_NORMAL) {
        return false;
      }
      *equal = number != 0;
      return true;
    }
    case Family::Number:
      *equal = number_of_value(left->value) == number_of_value(right->value);
      return true;
  }
  return false;
}

// Two element chains still to be compared from these cells on.
struct ComparePair {
  ValueNode* left;
  ValueNode* right;
};

}  // namespace

bool entries_equal(CallContext* context, ValueNode* left, ValueNode* right, bool* equal) {
  bool nested = false;
  if (!compare_one(context, left, right, equal, &nested)) return false;
  if (!nested) return true;
  // Hashes inside hashes may nest deeply: the chains still to be compared wait on a stack of their
  // own instead of the thread's.
  WalkStack<ComparePair> pending;
  ValueNode* a = elements_of(left);
  ValueNode* b = elements_of(right);
  for (;;) {
    if (a == nullptr || b == nullptr) {
      if (a != b) {  // one chain is longer
        *equal = false;
        return true;
      }
      if (pending.empty()) {
        *equal = true;
        return true;
      }
      ComparePair resume = pending.pop();
      a = resume.left;
      b = resume.right;
      continue;
    }
    bool same = false;
    if (!compare_one(context, a, b, &same, &nested)) return false;
    if (!same) {
      *equal = false;
      return true;
    }
    if (!nested) {
      a = next_of(a);
      b = next_of(b);
      continue;
    }
    if (!pending.push({next_of(a), next_of(b)})) {
      fail_alloc(context);
      return false;
    }
    ValueNode* inner_a = elements_of(a);
    ValueNode* inner_b = elements_of(b);
    a = inner_a;
    b = inner_b;
  }
}

namespace {

// A binary operator of which one operand is a hash: == and != compare the elements, + joins
// copies of both chains into a new hash; any other operator is reported. The result's new cell,
// or null after a reported failure.
ValueNode* hash_operation(CallContext* context, NodeKind kind, ValueNode* left, ValueNode* right) {
  if (kind == NodeKind::Equal || kind == NodeKind::NotEqual) {
    bool equal = false;
    if (!entries_equal(context, left, right, &equal)) return nullptr;
    ValueNode* cell = make_number_cell(kind == NodeKind::Equal ? equal : !equal);
    if (cell == nullptr) fail_alloc(context);
    return cell;
  }
  if (kind != NodeKind::Add) {
    fail(context, "Illegal operator to hash");
    return nullptr;
  }
  ValueNode* cell = make_node();
  if (cell == nullptr) {
    fail_alloc(context);
    return nullptr;
  }
  cell->is_hash = 1;
  bool failed = false;
  ValueNode* joined = copy_chain(elements_of(left), &failed);
  ValueNode** tail = &joined;
  while (*tail != nullptr)
    tail = &(*tail)->next;
  if (!failed) *tail = copy_chain(elements_of(right), &failed);
  cell->elements = joined;
  if (!failed) return cell;
  free_node(cell);
  fail_alloc(context);
  return nullptr;
}

// A binary operator on its two operands, which stay the caller's: the result's new cell in
// *result. Inline in its callers: every operator of every expression comes here.
[[gnu::always_inline]] inline std::int32_t binary_operation(CallContext* context, NodeKind kind,
                                                            ValueNode* left, ValueNode* right,
                                                            ValueNode** result) {
  ValueNode* cell = nullptr;
  std::int32_t code = RUN_NORMAL;
  switch (family_of(left, right)) {
    case Family::Number: {
      std::int32_t number = 0;
      code = number_operation(context, kind, number_of_value(left->value),
                              number_of_value(right->value), &number);
      if (code == RUN_NORMAL && (cell = make_number_cell(number)) == nullptr)
        code = fail_alloc(context);
      break;
    }
    case Family::String: {
      std::int32_t number = 0;
      char* text = nullptr;
      code = string_operation(context, kind, left, right, &number, &text);
      if (code != RUN_NORMAL) break;
      cell = make_number_cell(number);
      if (cell == nullptr) {
        release(&text);
        code = fail_alloc(context);
      } else if (text != nullptr) {
        store_scalar(cell->value, 1, 0, text);
      }
      break;
    }
    case Family::Hash:
      cell = hash_operation(context, kind, left, right);
      if (cell == nullptr) code = RUN_FAILED;
      break;
  }
  if (code != RUN_NORMAL) {
    free_node(cell);
    return code;
  }
  *result = cell;
  return RUN_NORMAL;
}

}  // namespace

ValueNode* binary_result(CallContext* context, NodeKind kind, ValueNode* left, ValueNode* right) {
  ValueNode* cell = nullptr;
  return binary_operation(context, kind, left, right, &cell) == RUN_NORMAL ? cell : nullptr;
}

bool is_plain_literal(const SyntaxNode* node) {
  std::atomic_ref<std::int32_t> known(const_cast<std::int32_t&>(node->plain_text));
  std::int32_t plain = known.load(std::memory_order_relaxed);
  if (plain == 0) {
    plain = plain_length(node->text != nullptr ? node->text : "") >= 0 ? 1 : 2;
    known.store(plain, std::memory_order_relaxed);
  }
  return plain == 1;
}

namespace {

// A plain literal's value as a cell on the caller's stack, over the literal's own bytes, for a
// step that only reads it and keeps nothing.
struct LiteralCell {
  ValueNode cell{};
  Value value{};
  explicit LiteralCell(const SyntaxNode* literal) {
    cell.value = &value;
    cell.pattern = literal->pattern;
    value.owner = &cell;
    value.data.text = const_cast<char*>(literal->text != nullptr ? literal->text : "");
    value.is_string = 1;
  }
  LiteralCell(const LiteralCell&) = delete;
  LiteralCell& operator=(const LiteralCell&) = delete;
};

}  // namespace

ValueNode* literal_constant(SyntaxNode* node) {
  std::atomic_ref<void*> kept(node->literal_constant);
  if (void* constant = kept.load(std::memory_order_acquire); constant != nullptr)
    return &static_cast<LiteralCell*>(constant)->cell;
  void* block = alloc_block(sizeof(LiteralCell));
  if (block == nullptr) return nullptr;
  auto* made = new (block) LiteralCell(node);  // trivially destructible: freed as a block
  void* expected = nullptr;
  if (!kept.compare_exchange_strong(expected, made, std::memory_order_acq_rel,
                                    std::memory_order_acquire)) {
    free_block(made);
    return &static_cast<LiteralCell*>(expected)->cell;
  }
  return &made->cell;
}

ValueNode* literal_reference(SyntaxNode* literal) {
  ValueNode* constant = literal_constant(literal);
  ValueNode* reference = constant != nullptr ? make_cell() : nullptr;
  if (reference == nullptr) return nullptr;
  reference->value = constant->value;
  reference->pattern = literal->pattern;
  return reference;
}

bool is_literal_label(const SyntaxNode* label) {
  const SyntaxNode* literal = label->next;
  return literal != nullptr && literal->next != nullptr && literal->next->kind == NodeKind::Colon &&
         (literal->kind == NodeKind::Number ||
          (literal->kind == NodeKind::String && is_plain_literal(literal)));
}

bool literal_label_equals(CallContext* context, const SyntaxNode* label, ValueNode* value,
                          bool* equal) {
  const SyntaxNode* constant = label->next;
  context->position = constant->source;
  LiteralCell literal(constant);
  if (constant->kind == NodeKind::Number) {
    literal.value.is_string = 0;
    literal.value.data.number = constant->number;
  }
  return entries_equal(context, &literal.cell, value, equal);
}

bool assign_elements(CallContext* context, ValueNode* target, ValueNode* source) {
  ValueNode* owner = owner_of(target);
  // The copy is made before the old chain goes, so a = a[] is safe. Without memory for all of it
  // the target keeps its old elements.
  bool failed = false;
  ValueNode* copy = copy_chain(elements_of(source), &failed);
  if (!failed && owner->value->shared && !mark_shared(copy)) {
    free_chain(copy);
    failed = true;
  }
  if (failed) {
    fail_alloc(context);
    return false;
  }
  // A reference keeps its own note of the chain; a temporary target is the owner itself, whose
  // old chain must be read before it is replaced.
  if (target != owner) target->elements = copy;
  if (owner->value->shared) {
    // Other threads may be walking the old chain of a global: publish the new one complete and
    // let the old one go once none of them can stand on it. The swap holds the ScriptSet lock,
    // like every other change of a shared chain, so that a built-in relinking the chain under
    // that lock never writes back cells retired here.
    RecursiveLock* lock = script_set_lock(context);
    if (lock != nullptr) lock_enter(lock);
    ValueNode* old =
        std::atomic_ref<ValueNode*>(owner->elements).exchange(copy, std::memory_order_acq_rel);
    if (lock != nullptr) lock_leave(lock);
    retire_chain(old);
  } else {
    ValueNode* old = owner->elements;
    owner->elements = copy;
    // Indexes hold the old cells, which may go without a note of their own (unnamed ones).
    if (old != nullptr) note_chains_changed();
    free_chain(old);
  }
  return true;
}

bool shared_value_is_true(const Value* value) {
  ScalarSnapshot scalar = read_scalar(value);
  return scalar.is_string ? scalar.text != nullptr && scalar.text[0] != '\0' : scalar.number != 0;
}
