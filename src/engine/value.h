// Script values: the scalar `Value` and the list cell `ValueNode` (defined in lumo/extension.h),
// their construction, copy and release, element access by key and position, and conversions.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/name_hash.h"
#include "lumo/extension.h"
#include "platform/memory.h"

struct CallContext;

// Returned by the call operations in place of a result cell when a call failed.
inline ValueNode* const CALL_FAILED = reinterpret_cast<ValueNode*>(~std::uintptr_t{0});

// The links, heads and keys of a global's chains change under walking threads: the changes publish
// complete cells with release stores, and walks read them with these acquire loads.
inline ValueNode* next_of(const ValueNode* cell) {
  return std::atomic_ref<ValueNode*>(const_cast<ValueNode*&>(cell->next))
      .load(std::memory_order_acquire);
}
inline ValueNode* first_of(const ValueNode* cell) {
  return std::atomic_ref<ValueNode*>(const_cast<ValueNode*&>(cell->elements))
      .load(std::memory_order_acquire);
}
inline const char* name_of(const ValueNode* cell) {
  return std::atomic_ref<char*>(const_cast<char*&>(cell->name)).load(std::memory_order_acquire);
}

// Records and chains.
ValueNode* make_node();
// A zero-filled cell without a Value of its own (for references and markers); null when memory runs
// out. free_node releases it like any cell.
ValueNode* make_cell();
// Frees the calling thread's cache of released cells, its element indexes and its activation
// records. The engine's threads call it as they end, and so does the connection thread.
void release_thread_caches();
// Notes that the calling thread keeps a cache that outlives a call: where the platform allows, the
// caches are then released when the thread ends, for threads the engine did not start.
void note_thread_caches();
void free_node(ValueNode* node);
// A cell made by make_node that shares another's Value (a reference) gets a blank one of its own;
// the Value it shared, and its elements, stay with their owner.
void take_own_value(ValueNode* cell);
// An array of `count` null slots for a frame (from the thread's cache), or null when memory runs
// out; give_slot_array returns it with the same count.
ValueNode** take_slot_array(std::int32_t count);
void give_slot_array(ValueNode** slots, std::int32_t count);
void free_cells(ValueNode* first);
// Frees a frame's chain of variables.
void free_variables(ValueNode* first);
inline void free_chain(ValueNode* first) {
  if (first != nullptr) free_cells(first);
}
// Deep copy of a whole chain along `next`, element chains included, to any depth; null for an empty
// chain. All or nothing: when memory runs out nothing is kept and *failed is set.
ValueNode* copy_chain(const ValueNode* first, bool* failed);
// Copies the source's scalar into the target. False when memory runs out: the target keeps its old
// value and, given a context, "Alloc failed" is reported.
bool assign_value(CallContext* context, Value* target, const Value* source);
ValueNode* element_by_key(CallContext* context, ValueNode* container, const Value* key);
// Cells one positional access may append at most; a farther index reports "Alloc failed".
constexpr std::int32_t MAX_NEW_ELEMENTS = 1 << 24;
ValueNode* element_by_position(CallContext* context, ValueNode* container, std::int32_t index);
// The first cell of a chain whose name equals `name` (signature first, then bytes), or null.
// Links and keys are read atomically: for chains other threads may change (globals, a shared
// container's elements).
ValueNode* find_in_chain(ValueNode* first, const char* name, std::int32_t name_hash);
// The same search with plain reads, for a chain only this thread sees (a frame's variables, an
// unshared container's elements).
ValueNode* find_in_private_chain(ValueNode* first, const char* name, std::int32_t name_hash);
// Whether two names are the same bytes (names are short: a plain loop beats a library call).
inline bool same_name(const char* a, const char* b) {
  for (; *a == *b; ++a, ++b) {
    if (*a == '\0') return true;
  }
  return false;
}
// Whether a name is qualified by its module ("module.name"), by the same kind of loop.
inline bool is_qualified(const char* name) {
  for (; *name != '\0'; ++name) {
    if (*name == '.') return true;
  }
  return false;
}

// The longest string the engine makes. Lengths and positions are 32-bit script numbers, so a longer
// string could not be measured or cut: it is refused where it would be made, as memory that cannot
// be had.
constexpr std::size_t MAX_STRING_LENGTH = 0x7FFFFFFF;
// A block for a string of `length` bytes and its NUL; null when memory runs out or `length` is
// past MAX_STRING_LENGTH.
char* alloc_string(std::size_t length);

// Strings. Every result is a new string from alloc_block, or null when memory runs out.
char* dup_string(const char* text);
char* concat_strings(const char* a, const char* b);
// The text of `a` with `b` appended, in a's own block when it has room (else in a new block, and
// `a` is released). `a` must be a string of its own (from alloc_block) that nothing else refers to,
// and `b` must not lie in its block. Null when memory runs out (`a` is kept then).
char* append_string(char* a, const char* b);
char* copy_span(const char* start, std::int32_t count);
char* append_text(char* position, const char* text);

// Whether a Value is shared. Read on its own (an atomic load), so that the compiler never merges it
// with a read of the neighbouring is_string, which another thread may be changing under the lock.
inline bool is_shared_value(const Value* value) {
  return std::atomic_ref<std::int32_t>(const_cast<std::int32_t&>(value->shared))
             .load(std::memory_order_relaxed) != 0;
}

// A consistent reading of a Value's scalar. For a shared (global) Value the text is a private copy
// taken under the lock that guards shared scalars, so it stays valid while other threads assign.
struct ScalarSnapshot {
  std::int32_t is_string = 0;
  std::int32_t number = 0;
  const char* text = nullptr;  // valid while the snapshot lives
  char* owned_text = nullptr;  // the private copy, when one was made
  // The private copy could not be made (memory ran out): `text` is "" and must not be used as the
  // value.
  bool failed = false;

  ScalarSnapshot() = default;
  ScalarSnapshot(std::int32_t is_string_, std::int32_t number_, const char* text_,
                 char* owned_text_)
      : is_string(is_string_), number(number_), text(text_), owned_text(owned_text_) {}
  ScalarSnapshot(ScalarSnapshot&& other) noexcept;
  ScalarSnapshot(const ScalarSnapshot&) = delete;
  ScalarSnapshot& operator=(const ScalarSnapshot&) = delete;
  ScalarSnapshot& operator=(ScalarSnapshot&& other) noexcept;
  ~ScalarSnapshot() {
    if (owned_text != nullptr) release(&owned_text);
  }
};
ScalarSnapshot read_shared_scalar(const Value* value);
// A Value that reads the snapshot's scalar (valid while the snapshot lives).
inline Value scalar_as_value(const ScalarSnapshot& scalar) {
  Value value{};
  value.is_string = scalar.is_string;
  if (scalar.is_string) {
    value.data.text = const_cast<char*>(scalar.text);
  } else {
    value.data.number = scalar.number;
  }
  return value;
}
inline ScalarSnapshot read_scalar(const Value* value) {
  if (is_shared_value(value)) return read_shared_scalar(value);
  return value->is_string ? ScalarSnapshot(1, 0, value->data.text, nullptr)
                          : ScalarSnapshot(0, value->data.number, nullptr, nullptr);
}
// Whether a Value holds a string, read consistently for a shared Value.
std::int32_t shared_value_is_string(const Value* value);
inline std::int32_t value_is_string(const Value* value) {
  return is_shared_value(value) ? shared_value_is_string(value) : value->is_string;
}
// Replaces a Value's scalar (taking ownership of `text` for a string) and releases the old string;
// under the shared-scalar lock when the Value is shared. Takes no ScriptSet lock.
void store_shared_scalar(Value* target, std::int32_t is_string, std::int32_t number, char* text);
// The store itself: returns the old string (or null) for the caller to release.
inline char* replace_scalar(Value* target, std::int32_t is_string, std::int32_t number,
                            char* text) {
  char* old_text = target->is_string ? target->data.text : nullptr;
  if (is_string) {
    target->data.text = text;
  } else {
    target->data.number = number;
  }
  target->is_string = is_string;
  return old_text;
}
inline void store_scalar(Value* target, std::int32_t is_string, std::int32_t number, char* text) {
  if (target->shared) {
    store_shared_scalar(target, is_string, number, text);
    return;
  }
  char* old_text = replace_scalar(target, is_string, number, text);
  release(&old_text);
}
// store_scalar of a number, done in place when the Value is an unshared number.
inline void store_number(Value* target, std::int32_t number) {
  if (!is_shared_value(target) && !target->is_string) {
    target->data.number = number;
  } else {
    store_scalar(target, 0, number, nullptr);
  }
}

// Adds `step` to a Value's number (a string counts by its decimal reading; 32-bit wrap-around) and
// returns the new number. For a shared Value the read and the store are one step under the
// ScriptSet lock, so increments from several threads are never lost.
std::int32_t step_any_value(CallContext* context, Value* target, std::int32_t step);
inline std::int32_t step_value(CallContext* context, Value* target, std::int32_t step) {
  if (is_shared_value(target) || target->is_string) return step_any_value(context, target, step);
  target->data.number = static_cast<std::int32_t>(static_cast<std::uint32_t>(target->data.number) +
                                                  static_cast<std::uint32_t>(step));
  return target->data.number;
}

// Conversions between numbers and text.
char* number_to_text(std::int32_t number);
// Writes the decimal text of a number into `digits` (12 bytes) and returns where it starts.
const char* format_number(std::int32_t number, char (&digits)[12]);

// The text of a Value without a copy where none is needed: a number is formatted into the view, an
// unshared string is read in place, a shared one is copied under the lock. Valid while the view
// lives and the Value is not assigned by this thread.
struct ValueText {
  explicit ValueText(const Value* value) : scalar(read_scalar(value)) {
    text = scalar.is_string ? (scalar.text != nullptr ? scalar.text : "")
                            : format_number(scalar.number, digits);
  }
  ScalarSnapshot scalar;
  char digits[12];
  const char* text;
};
// The decimal reading of a text: leading white space, an optional sign, digits; wraps modulo 2^32.
std::int32_t number_of_text(const char* text);
// A new string holding the Value's text (a number in decimal); null when memory runs out.
char* text_of_value(const Value* value);
std::int32_t number_of_any_value(const Value* value);
inline std::int32_t number_of_value(const Value* value) {
  return !is_shared_value(value) && !value->is_string ? value->data.number
                                                      : number_of_any_value(value);
}
std::int32_t parse_hex(const char* text);
std::int32_t parse_octal(const char* text);
void unescape_text(char* text);

// Sets a Value to an owned copy of `text`; false (and the Value unchanged) when memory runs out.
// The Value must not hold a string of its own (a fresh result cell, for instance).
bool set_string_value(Value* value, const char* text);
