// Operand and operator nodes of the value stack machine.
#include <atomic>
#include <cstring>
#include <new>

#include "base/cp932.h"
#include "base/syntax_node.h"
#include "engine/call.h"
#include "engine/element_index.h"
#include "engine/error_report.h"
#include "engine/evaluate.h"
#include "engine/events.h"
#include "engine/number_ops.h"
#include "engine/retire.h"
#include "engine/script.h"
#include "engine/value_stack.h"
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

std::int32_t push_or_fail(CallContext* context, ValueStack* stack, ValueNode* cell) {
  if (cell == nullptr) return fail_alloc(context);
  push_cell(stack, cell);
  return RUN_NORMAL;
}

// Pops the two operands of a binary node: the top one into *upper, the one below into *lower.
// With fewer than two, nothing stays popped and "Sentence error" is reported.
bool pop_pair(CallContext* context, ValueStack* stack, ValueNode** lower, ValueNode** upper) {
  *upper = pop_operand(stack);
  *lower = *upper != nullptr ? pop_operand(stack) : nullptr;
  if (*lower != nullptr) return true;
  free_node(*upper);
  fail(context, "Sentence error");
  return false;
}

// ---- names -------------------------------------------------------------------------------------

std::int32_t push_variable(CallContext* context, ValueStack* stack, ValueNode* variable) {
  return push_variable_reference(stack, variable) ? RUN_NORMAL : fail_alloc(context);
}

}  // namespace

ValueNode* named_variable(CallContext* context, SyntaxNode* node) {
  bool failed = false;
  ValueNode* variable = find_variable(context, node, &failed);
  if (failed || variable != nullptr) return variable;
  Script* module = context->script;
  if (module != nullptr && module->is_explicit) {
    report_named_error(context, bare_name(node), " :Variable is not defined", context->position);
    return nullptr;
  }
  return declare_variable(context, node);
}

std::int32_t run_name(CallContext* context, SyntaxNode* node, ValueStack* stack) {
  ValueNode* variable = named_variable(context, node);
  if (variable == nullptr) return RUN_FAILED;
  return push_variable(context, stack, variable);
}

namespace {

std::int32_t run_declare_name(CallContext* context, SyntaxNode* node, ValueStack* stack) {
  ValueNode* variable = declare_variable(context, node);
  if (variable == nullptr) return RUN_FAILED;
  return push_variable(context, stack, variable);
}

// ---- string literals ---------------------------------------------------------------------------

// Replaces each "%%" by "%" in place (the text has no embedded expression).
void reduce_percent_pairs(char* text) {
  char* write = text;
  for (const char* read = text; *read != '\0';) {
    if (is_lead_byte(static_cast<unsigned char>(*read)) && read[1] != '\0') {
      *write++ = *read++;
      *write++ = *read++;
    } else if (read[0] == '%' && read[1] == '%') {
      *write++ = '%';
      read += 2;
    } else {
      *write++ = *read++;
    }
  }
  *write = '\0';
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

// The text of a literal with its escapes processed and its «%expr%» parts replaced by their values;
// null after a failure (reported).
char* interpolate(CallContext* context, const char* raw, const CompiledPattern* literal,
                  bool* had_expression) {
  if (raw == nullptr) raw = "";
  *had_expression = false;
  if (std::ptrdiff_t length = plain_length(raw); length >= 0) {
    char* text = alloc_string(static_cast<std::size_t>(length));
    if (text == nullptr) {
      fail_alloc(context);
      return nullptr;
    }
    std::memcpy(text, raw, static_cast<std::size_t>(length) + 1);
    return text;
  }
  char* text = dup_string(raw);
  if (text == nullptr) {
    fail_alloc(context);
    return nullptr;
  }
  unescape_text(text);

  // First pass: evaluate the embedded expressions in order and measure the result.
  constexpr int kInline = 8;
  char* inline_values[kInline];
  char** values = inline_values;
  int value_count = 0;
  int value_capacity = kInline;
  std::size_t length = 0;
  bool ok = true;
  EmbeddedExpressions parts(context, literal, EmbeddedKind::TextParts);
  for (const char* cursor = text; *cursor != '\0' && ok;) {
    if (is_lead_byte(static_cast<unsigned char>(*cursor)) && cursor[1] != '\0') {
      cursor += 2;
      length += 2;
    } else if (cursor[0] != '%') {
      ++cursor;
      ++length;
    } else if (cursor[1] == '%') {
      cursor += 2;
      ++length;
    } else {
      ValueNode* value = parts.evaluate(cursor);
      if (value == nullptr) {
        parts.settle();
        ok = false;
        break;
      }
      char* value_text = text_of_value(value->value);
      free_node(value);
      parts.settle();
      if (value_text == nullptr) {
        fail_alloc(context);
        ok = false;
        break;
      }
      if (value_count == value_capacity) {
        auto** grown = static_cast<char**>(alloc_block(sizeof(char*) * value_capacity * 2));
        if (grown == nullptr) {
          release(&value_text);
          fail_alloc(context);
          ok = false;
          break;
        }
        std::memcpy(grown, values, sizeof(char*) * value_count);
        if (values != inline_values) release(&values);
        values = grown;
        value_capacity *= 2;
      }
      values[value_count++] = value_text;
      length += value_text != nullptr ? std::strlen(value_text) : 0;
      const char* close = std::strchr(cursor + 1, '%');
      cursor = close != nullptr ? close + 1 : cursor + std::strlen(cursor);
      if (close == nullptr) break;  // an unclosed expression ends the text
    }
  }
  if (ok) parts.finish();

  char* result = nullptr;
  if (ok && value_count == 0) {
    reduce_percent_pairs(text);
    result = text;
    text = nullptr;
  } else if (ok) {
    // Second pass: one allocation of the exact length.
    result = alloc_string(length);
    if (result == nullptr) {
      fail_alloc(context);
    } else {
      char* write = result;
      int next_value = 0;
      for (const char* cursor = text; *cursor != '\0';) {
        if (is_lead_byte(static_cast<unsigned char>(*cursor)) && cursor[1] != '\0') {
          *write++ = *cursor++;
          *write++ = *cursor++;
        } else if (cursor[0] != '%') {
          *write++ = *cursor++;
        } else if (cursor[1] == '%') {
          *write++ = '%';
          cursor += 2;
        } else {
          write = append_text(write, values[next_value++]);
          const char* close = std::strchr(cursor + 1, '%');
          if (close == nullptr) break;
          cursor = close + 1;
        }
      }
      *write = '\0';
    }
  }
  for (int i = 0; i < value_count; ++i)
    release(&values[i]);
  if (values != inline_values) release(&values);
  release(&text);
  *had_expression = value_count > 0;
  return result;
}

std::int32_t run_string(CallContext* context, SyntaxNode* node, ValueStack* stack) {
  bool had_expression = false;
  char* text = interpolate(context, node->text, node->pattern, &had_expression);
  if (text == nullptr) return RUN_FAILED;
  ValueNode* cell = make_node();
  if (cell == nullptr) {
    release(&text);
    return fail_alloc(context);
  }
  cell->value->data.text = text;
  cell->value->is_string = 1;
  cell->pattern = had_expression ? nullptr : node->pattern;
  push_cell(stack, cell);
  return RUN_NORMAL;
}

// ---- calls -------------------------------------------------------------------------------------

}  // namespace

std::int32_t run_call_start(CallContext* context, ValueStack* stack) {
  if (!make_room(stack->marks, stack->open_calls, stack->mark_capacity, stack->inline_marks)) {
    return fail_alloc(context);
  }
  ValueNode* marker = make_cell();  // a cell without a Value marks the start of the arguments
  if (marker == nullptr) return fail_alloc(context);
  stack->marks[stack->open_calls++] = {context->pending_updates};
  push_cell(stack, marker);
  return RUN_NORMAL;
}

// The outermost frame of the running call names the function.
const char* running_function_name(CallContext* context) {
  while (context->enclosing != nullptr)
    context = context->enclosing;
  return context->function_name;
}

ValueNode* start_async_call(CallContext* context, SyntaxNode* node, ValueNode* arguments) {
  std::int32_t thread_id =
      start_event_thread(context->script, node, node->text + 1, arguments, 0, context->host_word);
  ValueNode* result = thread_id > 0 ? make_number_cell(thread_id) : nullptr;
  if (result == nullptr) fail_alloc(context);
  return result;
}

std::int32_t run_call(CallContext* context, SyntaxNode* node, ValueStack* stack) {
  // The entries above the nearest marker are the arguments, the top one last. A native function
  // may look at their names; a user function and a built-in that only reads its arguments never
  // do, so a call known to go to one of them gives none.
  if (stack->collecting) {
    std::int32_t target =
        std::atomic_ref<std::int32_t>(node->call_target_kind).load(std::memory_order_acquire);
    if (target != CALL_TARGET_FUNCTION && target != CALL_TARGET_READER)
      settle_names(stack, stack->top, true);
  }
  ValueNode* arguments = nullptr;
  while (stack->top != nullptr && !is_call_marker(stack->top)) {
    ValueNode* argument = stack->top;
    stack->top = argument->next;
    argument->next = arguments;
    arguments = argument;
  }
  if (stack->top == nullptr || stack->open_calls == 0) {
    free_chain(arguments);
    return fail(context, "Sentence error");
  }
  ValueNode* marker = stack->top;
  stack->top = marker->next;
  free_node(marker);
  PendingMark mark = stack->marks[--stack->open_calls];

  const char* name = node->text != nullptr ? node->text : "";
  ValueNode* result;
  if (*name == '&') {
    result = start_async_call(context, node, arguments);
    if (result == nullptr) {
      free_chain(arguments);
      if (context->pending_updates != mark.updates) apply_pending_updates(context, mark);
      return RUN_FAILED;  // the call does not run
    }
  } else {
    result = call_function(context, node, name, arguments, 0);
  }
  free_chain(arguments);
  if (context->pending_updates != mark.updates) apply_pending_updates(context, mark);
  if (result == CALL_FAILED) {
    const char* running = running_function_name(context);
    if (running == nullptr || std::strcmp(running, name) != 0) {
      report_error(context, nullptr, context->position, 1);
    }
    return RUN_FAILED;
  }
  push_cell(stack, result);
  return RUN_NORMAL;
}

namespace {

// ---- blocks and list literals ------------------------------------------------------------------

std::int32_t run_block(CallContext* context, SyntaxNode* node, ValueStack* stack, ValueNode* result,
                       std::int32_t* break_counter) {
  // The last node of a run that hands nothing out: the block's values would be released as soon as
  // it ends, so they are not gathered at all.
  if (!stack->collecting && node->next == nullptr)
    return run_block_discarding(context, node, result, break_counter);
  CallContext frame = nested_frame(context);
  ValueNode* output = nullptr;
  std::int32_t code = run_nodes(&frame, node->body, result, &output, break_counter);
  // The values may refer to variables of the block's own frame, which goes now: references become
  // copies, temporaries move over as they are.
  ValueNode* elements = nullptr;
  ValueNode** tail = &elements;
  bool copied = true;
  while (output != nullptr) {
    ValueNode* cell = output;
    output = cell->next;
    cell->next = nullptr;
    if (!is_temporary(cell)) {
      ValueNode* copy = make_owning_copy(cell);
      free_node(cell);
      if (copy == nullptr) {
        copied = false;
        continue;
      }
      cell = copy;
    }
    *tail = cell;
    tail = &cell->next;
  }
  release_frame(&frame);
  if (!copied) {
    free_chain(elements);
    return fail_alloc(context);
  }
  if (code != RUN_NORMAL) {
    free_chain(elements);
    return code;
  }
  if (elements == nullptr) return RUN_NORMAL;
  ValueNode* hash = make_node();
  if (hash == nullptr) {
    free_chain(elements);
    return fail_alloc(context);
  }
  hash->elements = elements;
  hash->is_hash = 1;
  push_cell(stack, hash);
  return RUN_NORMAL;
}

// ---- indexing and assignment -------------------------------------------------------------------

// The element of the container under the key, pushed; the container is released.
std::int32_t index_by(CallContext* context, ValueNode* container, const Value* key,
                      ValueStack* stack) {
  ValueNode* element = element_by_key(context, owner_of(container), key);
  bool empty_key = key->is_string && key->data.text[0] == '\0';
  if (element == nullptr) {
    free_node(container);
    return RUN_FAILED;
  }
  ValueNode* cell = is_temporary(container) ? make_owning_copy(element) : make_reference(element);
  free_node(container);
  if (cell == nullptr) return fail_alloc(context);
  if (is_temporary(cell)) {
    release(&cell->name);
    cell->name_hash = 0;
    cell->pattern = nullptr;
  }
  cell->is_hash = empty_key ? 1 : 0;
  push_cell(stack, cell);
  return RUN_NORMAL;
}

std::int32_t run_index(CallContext* context, ValueStack* stack) {
  ValueNode* container;
  ValueNode* key;
  if (!pop_pair(context, stack, &container, &key)) return RUN_FAILED;
  ScalarSnapshot key_scalar = read_scalar(key->value);
  if (key_scalar.failed) {
    free_node(key);
    free_node(container);
    return fail_alloc(context);
  }
  Value key_value = scalar_as_value(key_scalar);
  std::int32_t code = index_by(context, container, &key_value, stack);
  free_node(key);
  return code;
}

}  // namespace

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

namespace {

std::int32_t run_assign(CallContext* context, SyntaxNode* node, ValueStack* stack) {
  ValueNode* target;
  ValueNode* source;
  if (!pop_pair(context, stack, &target, &source)) return RUN_FAILED;
  // The value is the assignment's result, unless a statement end releases it at once.
  const bool released_next = node->next != nullptr && node->next->kind == NodeKind::Semicolon &&
                             context->stop_kind != static_cast<std::int32_t>(NodeKind::Semicolon) &&
                             node->next != context->stop_node;
  std::int32_t code = RUN_NORMAL;
  if (target->pattern != nullptr) {
    char* subject = text_of_value(source->value);
    if (subject == nullptr) {
      code = fail_alloc(context);
    } else {
      if (pattern_search(context, target->pattern, subject) == PATTERN_SEARCH_FAILED)
        code = RUN_FAILED;
      release(&subject);
    }
  } else if (source->is_hash || target->is_hash) {
    if (!assign_elements(context, target, source)) {
      free_node(target);
      free_node(source);
      return RUN_FAILED;
    }
  } else if (!(released_next ? assign_taking(context, target->value, source)
                             : assign_value(context, target->value, source->value))) {
    free_node(target);
    free_node(source);
    return RUN_FAILED;
  }
  // The target's name goes with the value, unless a statement end releases the value at once.
  if (stack->collecting && !released_next) settle_name(stack, target);
  if (stack->collecting && !released_next && target->name != nullptr) {
    release(&source->name);
    source->name = dup_string(target->name);
    source->name_hash = target->name_hash;
  }
  free_node(target);
  push_cell(stack, source);
  return code;
}

// ---- unary operators ---------------------------------------------------------------------------

std::int32_t run_unary(CallContext* context, NodeKind kind, ValueStack* stack) {
  ValueNode* operand = pop_operand(stack);
  if (operand == nullptr) return fail(context, "Sentence error");
  if (kind == NodeKind::PostIncrement || kind == NodeKind::PostDecrement) {
    if (!is_temporary(operand)) {
      ValueNode* pending = make_reference(operand);
      if (pending == nullptr) {
        free_node(operand);
        return fail_alloc(context);
      }
      pending->name_hash = kind == NodeKind::PostIncrement ? 1 : -1;
      pending->next = context->pending_updates;
      context->pending_updates = pending;
    }
    push_cell(stack, operand);
    return RUN_NORMAL;
  }
  std::uint32_t number = static_cast<std::uint32_t>(number_of_value(operand->value));
  std::uint32_t produced;
  switch (kind) {
    case NodeKind::Not:
    case NodeKind::Complement:
    case NodeKind::Plus:
    case NodeKind::Negate:
      produced =
          static_cast<std::uint32_t>(apply_pure_unary(kind, static_cast<std::int32_t>(number)));
      break;
    case NodeKind::PreIncrement:
    case NodeKind::PreDecrement:
      produced = static_cast<std::uint32_t>(
          step_value(context, operand->value, kind == NodeKind::PreIncrement ? 1 : -1));
      break;
    default:
      free_node(operand);
      return fail(context, "Illegal operator");
  }
  free_node(operand);
  return push_or_fail(context, stack, make_number_cell(static_cast<std::int32_t>(produced)));
}

// ---- binary operators --------------------------------------------------------------------------

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

std::int32_t push_binary(CallContext* context, NodeKind kind, ValueNode* left, ValueNode* right,
                         ValueStack* stack) {
  ValueNode* cell = nullptr;
  std::int32_t code = binary_operation(context, kind, left, right, &cell);
  if (code == RUN_NORMAL) push_cell(stack, cell);
  return code;
}

std::int32_t run_binary(CallContext* context, NodeKind kind, ValueStack* stack) {
  ValueNode* left;
  ValueNode* right;
  if (!pop_pair(context, stack, &left, &right)) return RUN_FAILED;
  std::int32_t code = push_binary(context, kind, left, right, stack);
  free_node(left);
  free_node(right);
  return code;
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

bool is_read_argument(const SyntaxNode* node) {
  const SyntaxNode* call = node->next;
  // A call's cached target never changes once set, so the call reads what is pushed here.
  return call != nullptr && call->kind == NodeKind::Call &&
         std::atomic_ref<std::int32_t>(const_cast<std::int32_t&>(call->call_target_kind))
                 .load(std::memory_order_acquire) == CALL_TARGET_READER &&
         call->text != nullptr && call->text[0] != '&' && is_plain_literal(node);
}

ValueNode* literal_reference(SyntaxNode* literal) {
  ValueNode* constant = literal_constant(literal);
  ValueNode* reference = constant != nullptr ? make_cell() : nullptr;
  if (reference == nullptr) return nullptr;
  reference->value = constant->value;
  reference->pattern = literal->pattern;
  return reference;
}

std::int32_t run_read_argument(CallContext* context, SyntaxNode* literal, ValueStack* stack) {
  if (ValueNode* reference = literal_reference(literal); reference != nullptr) {
    push_cell(stack, reference);
    return RUN_NORMAL;
  }
  return run_string(context, literal, stack);  // reports the lack of memory
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

std::int32_t run_literal_key(CallContext* context, SyntaxNode* literal, ValueStack* stack) {
  context->position = literal->next->source;
  ValueNode* container = pop_operand(stack);
  if (container == nullptr) return fail(context, "Sentence error");
  LiteralCell key(literal);
  return index_by(context, container, &key.value, stack);
}

std::int32_t run_literal_operand(CallContext* context, SyntaxNode* literal, ValueStack* stack) {
  LiteralCell right(literal);  // the operator only reads its right operand
  SyntaxNode* operator_node = literal->next;
  context->position = operator_node->source;
  ValueNode* left = pop_operand(stack);
  if (left == nullptr) return fail(context, "Sentence error");
  std::int32_t code = push_binary(context, operator_node->kind, left, &right.cell, stack);
  free_node(left);
  return code;
}

std::int32_t run_block_discarding(CallContext* context, SyntaxNode* block, ValueNode* result,
                                  std::int32_t* break_counter) {
  CallContext frame = nested_frame(context);
  std::int32_t code = run_nodes(&frame, block->body, result, nullptr, break_counter);
  release_frame(&frame);
  return code;
}

void apply_pending_updates(CallContext* context, const PendingMark& down_to) {
  while (context->pending_updates != nullptr && context->pending_updates != down_to.updates) {
    ValueNode* pending = context->pending_updates;
    context->pending_updates = pending->next;
    step_value(context, pending->value, pending->name_hash);
    pending->next = nullptr;
    free_node(pending);
  }
}

void discard_pending_updates(CallContext* context, const ValueNode* down_to) {
  while (context->pending_updates != nullptr && context->pending_updates != down_to) {
    ValueNode* pending = context->pending_updates;
    context->pending_updates = pending->next;
    pending->next = nullptr;
    free_node(pending);
  }
}

std::int32_t execute_expression_node(CallContext* context, SyntaxNode* node, ValueStack* stack,
                                     ValueNode* result, std::int32_t* break_counter) {
  NodeKind kind = node->kind;
  if (is_binary_operator(kind)) return run_binary(context, kind, stack);
  if (is_unary_operator(kind)) return run_unary(context, kind, stack);
  switch (kind) {
    case NodeKind::Number:
      return push_or_fail(context, stack, make_number_cell(node->number));
    case NodeKind::String:
      return run_string(context, node, stack);
    case NodeKind::Pattern: {
      ValueNode* cell = make_number_cell(0);
      if (cell != nullptr) cell->pattern = node->pattern;
      return push_or_fail(context, stack, cell);
    }
    case NodeKind::Name:
      return run_name(context, node, stack);
    case NodeKind::DeclareName:
      return run_declare_name(context, node, stack);
    case NodeKind::CallStart:
      return run_call_start(context, stack);
    case NodeKind::Call:
      return run_call(context, node, stack);
    case NodeKind::Comma:
      if (stack->top == nullptr) {
        if (push_or_fail(context, stack, make_number_cell(0)) != RUN_NORMAL) return RUN_FAILED;
      }
      if (node->next != nullptr && node->next->kind == NodeKind::Comma) {
        return push_or_fail(context, stack, make_number_cell(0));
      }
      return RUN_NORMAL;
    case NodeKind::Block:
      return run_block(context, node, stack, result, break_counter);
    case NodeKind::Index:
      return run_index(context, stack);
    case NodeKind::Assign:
      return run_assign(context, node, stack);
    case NodeKind::ApplyPostfix:
      // Inside a call's argument list the updates wait until that call has returned.
      if (stack->open_calls == 0) apply_pending_updates(context, PendingMark{nullptr});
      return RUN_NORMAL;
    default:
      return fail(context, "Sentence error");
  }
}
