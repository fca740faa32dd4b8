#include "builtins/hash.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "builtins/args.h"
#include "engine/element_index.h"
#include "engine/retire.h"
#include "engine/script.h"
#include "platform/memory.h"
#include "platform/text.h"

namespace {

// ---- shared chains ------------------------------------------------------------------------------
// Walkers read links and keys with acquire loads; writers, under the ScriptSet lock, link only
// complete cells with release stores. A walker therefore sees either the old link or a whole cell.

ValueNode* load_link(ValueNode* const& link) {
  return std::atomic_ref<ValueNode*>(const_cast<ValueNode*&>(link)).load(std::memory_order_acquire);
}

void store_link(ValueNode*& link, ValueNode* cell) {
  std::atomic_ref<ValueNode*>(link).store(cell, std::memory_order_release);
}

const char* load_key(const ValueNode* cell) {
  return std::atomic_ref<char*>(const_cast<char*&>(cell->name)).load(std::memory_order_acquire);
}

std::int32_t load_key_hash(const ValueNode* cell) {
  return std::atomic_ref<std::int32_t>(const_cast<std::int32_t&>(cell->name_hash))
      .load(std::memory_order_relaxed);
}

// The variable that a hash argument names (the argument itself for a temporary).
ValueNode* owner_of(const ValueNode* argument) {
  return argument->value->owner;
}

ValueNode* first_element(const ValueNode* argument) {
  return load_link(owner_of(argument)->elements);
}

bool is_shared(const ValueNode* owner) {
  return owner->value->shared != 0;
}

// Holds the ScriptSet lock while a shared chain changes.
class ChainLock {
 public:
  ChainLock(CallContext* context, const ValueNode* owner)
      : lock_(is_shared(owner) ? script_set_lock(context) : nullptr) {
    if (lock_ != nullptr) lock_enter(lock_);
  }
  ~ChainLock() {
    if (lock_ != nullptr) lock_leave(lock_);
  }
  ChainLock(const ChainLock&) = delete;
  ChainLock& operator=(const ChainLock&) = delete;

 private:
  RecursiveLock* lock_;
};

// Releases a cell unlinked from the owner's chain: at once for a private chain, later for a shared
// one, where another thread may stand on it.
void discard_cell(const ValueNode* owner, ValueNode* cell) {
  if (is_shared(owner)) {
    retire_cell(cell);
  } else {
    free_node(cell);
  }
}

void discard_chain(const ValueNode* owner, ValueNode* first) {
  if (is_shared(owner)) {
    retire_chain(first);
  } else {
    free_chain(first);
  }
}

bool key_equals(const ValueNode* cell, const char* key, std::int32_t key_hash) {
  const char* name = load_key(cell);
  return name != nullptr && load_key_hash(cell) == key_hash && std::strcmp(name, key) == 0;
}

std::int32_t count_elements(const ValueNode* cell) {
  std::int32_t count = 0;
  for (; cell != nullptr; cell = load_link(cell->next))
    ++count;
  return count;
}

// The link that holds the first element with the key, or the chain's end link.
ValueNode** link_of_key(ValueNode* owner, const char* key) {
  std::int32_t key_hash = name_hash_of(key);
  ValueNode** link = &owner->elements;
  for (ValueNode* cell; (cell = load_link(*link)) != nullptr; link = &cell->next) {
    if (key_equals(cell, key, key_hash)) break;
  }
  return link;
}

// The link that holds element `position` (0 or more), or the chain's end link.
ValueNode** link_of_position(ValueNode* owner, std::int32_t position) {
  ValueNode** link = &owner->elements;
  for (ValueNode* cell; position > 0 && (cell = load_link(*link)) != nullptr; --position)
    link = &cell->next;
  return link;
}

// Positions this far into a chain are looked up through its index (when it has one).
constexpr std::int32_t kWalkedPositions = 16;

ValueNode* element_at(const ValueNode* argument, std::int32_t position) {
  if (position < 0) return nullptr;
  ValueNode* owner = owner_of(argument);
  if (position >= kWalkedPositions) {
    ValueNode* known = nullptr;
    std::int32_t length = 0;
    switch (find_indexed_position(owner, position, &known, &length)) {
      case IndexAnswer::Found:
        return known;
      case IndexAnswer::Absent:
        return nullptr;
      case IndexAnswer::Unknown:
        break;
    }
  }
  ValueNode* cell = first_element(argument);
  for (; cell != nullptr && position > 0; --position)
    cell = load_link(cell->next);
  return cell;
}

// Copies a scalar into a fresh Value (a string is duplicated); false when memory runs out.
bool copy_scalar(Value* target, const Value* source) {
  ScalarSnapshot scalar = read_scalar(source);
  if (scalar.failed) return false;
  if (!scalar.is_string) {
    target->data.number = scalar.number;
    return true;
  }
  char* text = scalar.owned_text != nullptr ? scalar.owned_text : dup_string(scalar.text);
  scalar.owned_text = nullptr;
  if (text == nullptr) return false;
  target->data.text = text;
  target->is_string = 1;
  return true;
}

// A copy of a cell as the built-ins make them: the key, the scalar, and a deep copy of the
// elements of the Value's owner (for an argument cell, the variable's). Null when memory runs out.
ValueNode* copy_element(const ValueNode* source, const char* key) {
  ValueNode* copy = make_node();
  if (copy == nullptr) return nullptr;
  if (key != nullptr) {
    copy->name = dup_string(key);
    copy->name_hash = name_hash_of(key);
  }
  if ((key != nullptr && copy->name == nullptr) || !copy_scalar(copy->value, source->value)) {
    free_node(copy);
    return nullptr;
  }
  bool failed = false;
  copy->elements = copy_chain(first_element(source), &failed);
  if (failed) {
    free_node(copy);
    return nullptr;
  }
  return copy;
}

// A selector or search value as a plain Value that stays valid for the call.
struct Scalar {
  ScalarSnapshot snapshot;
  Value value{};
  explicit Scalar(const ValueNode* argument) : snapshot(read_scalar(argument->value)) {
    value.is_string = snapshot.is_string;
    if (snapshot.is_string) {
      value.data.text = const_cast<char*>(snapshot.text);
    } else {
      value.data.number = snapshot.number;
    }
  }
};

void set_hash_result(ValueNode* result, ValueNode* chain) {
  result->elements = chain;
  result->is_hash = 1;
}

// ---- merging ------------------------------------------------------------------------------------

// The result of hashmerge as it is built: the elements in order, and the keyed ones in a table by
// key, so that a later element with a known key replaces the older one without a walk.
class MergedElements {
 public:
  MergedElements() = default;
  MergedElements(const MergedElements&) = delete;
  MergedElements& operator=(const MergedElements&) = delete;
  ~MergedElements() {
    for (std::int32_t i = 0; i < count_; ++i)
      free_node(cells_[i]);
    release(&cells_);
    release(&slots_);
  }

  // Takes the cell in: in the place of an element with its key, or at the end. False (the cell not
  // taken) when memory runs out.
  bool add(ValueNode* cell) {
    std::uint64_t hash = 0;
    std::uint32_t slot = 0;
    if (cell->name != nullptr) {
      if ((keys_ + 1) * 2 > mask_ + 1 && !grow_slots()) return false;
      hash = key_hash(cell->name);
      for (slot = static_cast<std::uint32_t>(hash) & mask_; slots_[slot].position != 0;
           slot = (slot + 1) & mask_) {
        ValueNode*& older = cells_[slots_[slot].position - 1];
        if (slots_[slot].hash == hash && std::strcmp(older->name, cell->name) == 0) {
          free_node(older);
          older = cell;
          return true;
        }
      }
    }
    if (count_ == capacity_ && !grow_cells()) return false;
    cells_[count_++] = cell;
    if (cell->name != nullptr) {
      slots_[slot] = {hash, count_};
      ++keys_;
    }
    return true;
  }

  // Links the elements into one chain, which the caller owns from then on.
  ValueNode* link() {
    ValueNode* first = nullptr;
    for (std::int32_t i = count_; i > 0; --i) {
      cells_[i - 1]->next = first;
      first = cells_[i - 1];
    }
    count_ = 0;
    return first;
  }

 private:
  struct Slot {
    std::uint64_t hash;
    std::int32_t position;  // 1 + the element's place in cells_; 0 for an empty slot
  };

  bool grow_cells() {
    std::int32_t capacity = capacity_ == 0 ? 64 : capacity_ * 2;
    if (capacity <= capacity_) return false;
    auto** cells = static_cast<ValueNode**>(alloc_zeroed(sizeof(ValueNode*) * capacity));
    if (cells == nullptr) return false;
    if (count_ != 0) std::memcpy(cells, cells_, sizeof(ValueNode*) * count_);
    release(&cells_);
    cells_ = cells;
    capacity_ = capacity;
    return true;
  }

  bool grow_slots() {
    std::uint32_t capacity = slots_ == nullptr ? 64 : (mask_ + 1) * 2;
    auto* slots = static_cast<Slot*>(alloc_zeroed(sizeof(Slot) * capacity));
    if (slots == nullptr) return false;
    for (std::uint32_t i = 0; slots_ != nullptr && i <= mask_; ++i) {
      if (slots_[i].position == 0) continue;
      std::uint32_t slot = static_cast<std::uint32_t>(slots_[i].hash) & (capacity - 1);
      while (slots[slot].position != 0)
        slot = (slot + 1) & (capacity - 1);
      slots[slot] = slots_[i];
    }
    release(&slots_);
    slots_ = slots;
    mask_ = capacity - 1;
    return true;
  }

  ValueNode** cells_ = nullptr;
  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
  Slot* slots_ = nullptr;
  std::uint32_t mask_ = 0;
  std::uint32_t keys_ = 0;
};

// ---- sorting ------------------------------------------------------------------------------------

struct SortItem {
  ValueNode* cell;
  std::int32_t is_string;
  std::int32_t number;
  const char* text;  // the key or the scalar's text
  char* owned_text;
};

unsigned char fold(unsigned char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

// Bytes compared as signed values with ASCII letters folded; the end counts as the byte 0.
int compare_folded(const char* a, const char* b) {
  for (;; ++a, ++b) {
    auto x = static_cast<signed char>(fold(static_cast<unsigned char>(*a)));
    auto y = static_cast<signed char>(fold(static_cast<unsigned char>(*b)));
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

int compare_items(const SortItem& a, const SortItem& b, bool ignore_case) {
  if (!a.is_string && !b.is_string) return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
  return ignore_case ? compare_folded(a.text, b.text) : compare_text_locale(a.text, b.text);
}

void free_items(SortItem* items, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i)
    release(&items[i].owned_text);
  release(&items);
}

// Fills the items from the chain; false when memory runs out. Numbers get a text only when the
// hash also holds strings, since then they compare as text.
bool fill_items(ValueNode* first, SortItem* items, bool by_key) {
  bool any_string = false;
  SortItem* item = items;
  for (ValueNode* cell = first; cell != nullptr; cell = load_link(cell->next), ++item) {
    item->cell = cell;
    item->is_string = 1;
    if (by_key) {
      const char* key = load_key(cell);
      item->text = key != nullptr ? key : "";
      continue;
    }
    ScalarSnapshot scalar = read_scalar(cell->value);
    if (scalar.failed) return false;
    item->is_string = scalar.is_string;
    item->number = scalar.number;
    item->text = scalar.text;
    item->owned_text = scalar.owned_text;
    scalar.owned_text = nullptr;
    any_string = any_string || scalar.is_string;
  }
  if (!any_string) return true;
  for (SortItem* cursor = items; cursor != item; ++cursor) {
    if (cursor->is_string) continue;
    cursor->owned_text = number_to_text(cursor->number);
    if (cursor->owned_text == nullptr) return false;
    cursor->text = cursor->owned_text;
  }
  return true;
}

std::int32_t sort_hash(CallContext* context, ValueNode* arguments, bool by_key, char* message) {
  const char* name = by_key ? "hashkeysort" : "hashsort";
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  bool descending = read_int_arg(nth_argument(arguments, 1)) != 0;
  bool ignore_case = read_int_arg(nth_argument(arguments, 2)) != 0;
  ValueNode* owner = owner_of(arguments);
  ChainLock guard(context, owner);
  ValueNode* first = load_link(owner->elements);
  std::int32_t count = count_elements(first);
  if (count == 0) return LUMO_STATUS_OK;
  auto* items = static_cast<SortItem*>(alloc_zeroed(sizeof(SortItem) * count));
  if (items == nullptr) return alloc_failed(message, name);
  if (!fill_items(first, items, by_key)) {
    free_items(items, count);
    return alloc_failed(message, name);
  }
  // Stable, so elements that compare equal keep their order (descending included).
  std::stable_sort(items, items + count, [&](const SortItem& a, const SortItem& b) {
    return descending ? compare_items(b, a, ignore_case) < 0 : compare_items(a, b, ignore_case) < 0;
  });
  // Relink from the back, so each cell is linked to its finished successor.
  store_link(items[count - 1].cell->next, nullptr);
  for (std::int32_t i = count - 1; i > 0; --i)
    store_link(items[i - 1].cell->next, items[i].cell);
  store_link(owner->elements, items[0].cell);
  if (is_shared(owner)) note_shared_chains_changed();
  free_items(items, count);
  return LUMO_STATUS_OK;
}

}  // namespace

bool replace_elements(CallContext* context, ValueNode* owner, ValueNode* chain) {
  if (is_shared(owner) && !mark_shared(chain)) {
    free_chain(chain);
    return false;
  }
  ChainLock guard(context, owner);
  ValueNode* old = load_link(owner->elements);
  store_link(owner->elements, chain);
  discard_chain(owner, old);
  return true;
}

LUMO_BUILTIN(gethashcount) {
  (void)context, (void)message;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ValueNode* owner = owner_of(arguments);
  ValueNode* last = nullptr;
  std::int32_t length = 0;
  // A count in a loop's condition: the index of a long chain knows it.
  if (find_indexed_position(owner, INT32_MAX, &last, &length) == IndexAnswer::Absent) {
    return return_number(result, length);
  }
  return return_number(result, count_elements(first_element(arguments)));
}

LUMO_BUILTIN(sethashcount) {
  (void)message;
  const ValueNode* count_argument = nth_argument(arguments, 1);
  if (count_argument == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int32_t wanted = read_int_arg(count_argument);
  ValueNode* owner = owner_of(arguments);
  ChainLock guard(context, owner);
  ValueNode** link = &owner->elements;
  std::int32_t count = 0;
  for (ValueNode* cell; count < wanted && (cell = load_link(*link)) != nullptr; ++count)
    link = &cell->next;
  if (count == wanted || wanted <= 0) {  // cut the chain after `wanted` elements
    ValueNode* rest = load_link(*link);
    store_link(*link, nullptr);
    discard_chain(owner, rest);
    return return_number(result, 0);
  }
  // Grow: a private chain of copies of the variable's own scalar, published with one link. A
  // growth that cannot be made whole (or would take all memory) changes nothing.
  if (wanted - count > MAX_NEW_ELEMENTS) return alloc_failed(message, "sethashcount");
  ValueNode* added = nullptr;
  ValueNode** tail = &added;
  for (; count < wanted; ++count) {
    ValueNode* cell = make_node();
    if (cell != nullptr && !copy_scalar(cell->value, owner->value)) {
      free_node(cell);
      cell = nullptr;
    }
    if (cell == nullptr) {
      free_chain(added);
      return alloc_failed(message, "sethashcount");
    }
    cell->value->shared = owner->value->shared;
    *tail = cell;
    tail = &cell->next;
  }
  store_link(*link, added);
  return return_number(result, 0);
}

LUMO_BUILTIN(gethashkey) {
  (void)context;
  const ValueNode* position = nth_argument(arguments, 1);
  if (position == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  const ValueNode* cell = element_at(arguments, read_int_arg(position));
  const char* key = cell != nullptr ? load_key(cell) : nullptr;
  return return_text(result, dup_string(key != nullptr ? key : ""), message, "gethashkey");
}

LUMO_BUILTIN(sethashkey) {
  const ValueNode* selector = nth_argument(arguments, 1);
  if (selector == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  Scalar selected(selector);
  // The empty key would select the hash itself, which has no key to set.
  if (selected.value.is_string && selected.snapshot.text[0] == '\0')
    return return_number(result, 0);
  ValueNode* owner = owner_of(arguments);
  ValueNode* cell = element_by_key(context, owner, &selected.value);  // reports its own failures
  if (cell == nullptr) return return_number(result, 0);
  const ValueNode* key_argument = nth_argument(arguments, 2);
  if (key_argument == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  char* key = read_string_arg(key_argument);
  if (key == nullptr) return alloc_failed(message, "sethashkey");
  ChainLock guard(context, owner);
  char* old = cell->name;
  std::atomic_ref<std::int32_t>(cell->name_hash)
      .store(name_hash_of(key), std::memory_order_relaxed);
  std::atomic_ref<char*>(cell->name).store(key, std::memory_order_release);
  if (is_shared(owner)) {
    retire_text(old);
  } else {
    release(&old);
  }
  return return_number(result, 0);
}

LUMO_BUILTIN(ishashkey) {
  const ValueNode* key_argument = nth_argument(arguments, 1);
  if (key_argument == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  (void)context;
  char* key = read_string_arg(key_argument);
  if (key == nullptr) return alloc_failed(message, "ishashkey");
  std::int32_t key_hash = name_hash_of(key);
  std::int32_t found = -1;
  std::int32_t position = 0;
  for (ValueNode* cell = first_element(arguments); cell != nullptr;
       cell = load_link(cell->next), ++position) {
    if (key_equals(cell, key, key_hash)) {
      found = position;
      break;
    }
  }
  release(&key);
  return return_number(result, found);
}

LUMO_BUILTIN(hashinsert) {
  const ValueNode* selector = nth_argument(arguments, 1);
  if (selector == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  const ValueNode* source = nth_argument(arguments, 2);
  if (source == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  Scalar selected(selector);
  ValueNode* cell = copy_element(source, source->name);
  if (cell == nullptr) return alloc_failed(message, "hashinsert");
  ValueNode* owner = owner_of(arguments);
  // The new element (and all under it) is shared like its hash, so that assignments into it lock
  // and readers copy its strings, as for every other element of a global.
  if (is_shared(owner) && !mark_shared(cell)) {
    free_node(cell);
    return alloc_failed(message, "hashinsert");
  }
  ChainLock guard(context, owner);
  ValueNode** link = selected.value.is_string ? link_of_key(owner, selected.snapshot.text)
                                              : link_of_position(owner, selected.snapshot.number);
  cell->next = load_link(*link);
  store_link(*link, cell);
  if (is_shared(owner)) note_shared_chains_changed();
  return return_number(result, 0);
}

LUMO_BUILTIN(hashdelete) {
  (void)message;
  const ValueNode* selector = nth_argument(arguments, 1);
  if (selector == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  Scalar selected(selector);
  ValueNode* owner = owner_of(arguments);
  ChainLock guard(context, owner);
  ValueNode** link = selected.value.is_string ? link_of_key(owner, selected.snapshot.text)
                                              : link_of_position(owner, selected.snapshot.number);
  ValueNode* cell = load_link(*link);
  if (cell != nullptr) {
    // The removed cell keeps its own link, so a walker standing on it carries on along the chain.
    store_link(*link, load_link(cell->next));
    discard_cell(owner, cell);
  }
  return return_number(result, 0);
}

LUMO_BUILTIN(hashfind) {
  (void)context;
  const ValueNode* wanted_argument = nth_argument(arguments, 1);
  if (wanted_argument == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ScalarSnapshot wanted = read_scalar(wanted_argument->value);
  if (wanted.failed) return alloc_failed(message, "hashfind");
  std::int32_t position = 0;
  for (ValueNode* cell = first_element(arguments); cell != nullptr;
       cell = load_link(cell->next), ++position) {
    ScalarSnapshot scalar = read_scalar(cell->value);
    if (scalar.failed) return alloc_failed(message, "hashfind");
    if (scalar.is_string != wanted.is_string) continue;  // a number never equals a string
    if (scalar.is_string ? compare_text_locale(scalar.text, wanted.text) == 0
                         : scalar.number == wanted.number) {
      return return_number(result, position);
    }
  }
  return return_number(result, -1);
}

LUMO_BUILTIN(hashkeysort) {
  (void)result;
  return sort_hash(context, arguments, true, message);
}

LUMO_BUILTIN(hashsort) {
  (void)result;
  return sort_hash(context, arguments, false, message);
}

LUMO_BUILTIN(hashcopy) {
  (void)context;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int32_t start = read_int_arg(nth_argument(arguments, 1));
  const ValueNode* count_argument = nth_argument(arguments, 2);
  std::int32_t count = count_argument != nullptr ? read_int_arg(count_argument) : -1;
  ValueNode* copies = nullptr;
  ValueNode** tail = &copies;
  // A count of 0 copies nothing: at most `count` elements, as for every other count.
  for (ValueNode* cell = element_at(arguments, start); cell != nullptr && count != 0;
       cell = load_link(cell->next), --count) {
    ValueNode* copy = copy_element(cell, load_key(cell));
    if (copy == nullptr) {
      free_chain(copies);
      return alloc_failed(message, "hashcopy");
    }
    *tail = copy;
    tail = &copy->next;
  }
  set_hash_result(result, copies);
  return LUMO_STATUS_OK;
}

LUMO_BUILTIN(hashmerge) {
  (void)context;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  MergedElements merged;
  for (const ValueNode* argument = arguments; argument != nullptr; argument = argument->next) {
    for (ValueNode* cell = first_element(argument); cell != nullptr; cell = load_link(cell->next)) {
      ValueNode* copy = copy_element(cell, load_key(cell));
      // A key already in the result: the copy takes the older element's place.
      if (copy == nullptr || !merged.add(copy)) {
        free_node(copy);
        return alloc_failed(message, "hashmerge");
      }
    }
  }
  set_hash_result(result, merged.link());
  return LUMO_STATUS_OK;
}

LUMO_BUILTIN(hashtostring) {
  (void)context;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int32_t count = 0;
  unsigned char* bytes = read_bytes_from_hash(arguments, &count);
  if (bytes == nullptr) return alloc_failed(message, "hashtostring");
  // The string ends at the first 0 byte.
  char* text = copy_span(reinterpret_cast<const char*>(bytes), count + 1);
  release(&bytes);
  return return_text(result, text, message, "hashtostring");
}

LUMO_BUILTIN(stringtohash) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  char* text = read_string_arg(arguments);
  if (text == nullptr) return alloc_failed(message, "stringtohash");
  bool stored = store_bytes_in_hash(context, result, reinterpret_cast<unsigned char*>(text),
                                    static_cast<std::int32_t>(std::strlen(text)));
  release(&text);
  result->is_hash = 1;
  return stored ? LUMO_STATUS_OK : alloc_failed(message, "stringtohash");
}
