// Cells, chains and element access.
#include <atomic>
#include <cstring>
#include <mutex>

#include "engine/element_index.h"
#include "engine/error_report.h"
#include "engine/function_vm.h"
#include "engine/retire.h"
#include "engine/script.h"
#include "engine/value.h"
#include "engine/walk_stack.h"
#include "platform/memory.h"
#include "platform/thread.h"

// Cells and Values are made and released at a high rate by the evaluator (every operand is one).
// A cell and the Value it owns are one block: a cell without a Value of its own (a reference, a
// marker, a variable sharing a caller's Value) leaves that room unused. Each thread keeps a small
// cache of released blocks, which saves the heap's general path. Under AddressSanitizer blocks go
// straight back to the heap, so that use after release is still caught.
namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMO_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(LUMO_ADDRESS_SANITIZER)
constexpr int kPoolLimit = 0;
#else
constexpr int kPoolLimit = 512;
#endif

struct FreeBlock {
  FreeBlock* next;
};

// No destructor: a thread's cache is released by release_thread_caches() when the engine's own
// threads end; other threads may leave at most kPoolLimit blocks of each size behind.
struct BlockList {
  FreeBlock* first;
  int count;

  // A block of `size` bytes whose first `cleared` bytes are zero (a new block is all zero).
  void* take(std::size_t size, std::size_t cleared) {
    if (first == nullptr) return alloc_zeroed(size);
    FreeBlock* block = first;
    first = block->next;
    --count;
    std::memset(block, 0, cleared);
    return block;
  }
  void* take(std::size_t size) { return take(size, size); }
  void give(void* block) {
    if (count >= kPoolLimit) {
      free_block(block);
      return;
    }
    auto* free = static_cast<FreeBlock*>(block);
    free->next = first;
    first = free;
    ++count;
  }
  void drain() {
    while (first != nullptr) {
      FreeBlock* next = first->next;
      free_block(first);
      first = next;
    }
    count = 0;
  }
};

// A cell with room for the Value it owns.
struct CellBlock {
  ValueNode cell;
  Value value;
};

thread_local BlockList NodeBlocks;
// Slot arrays of frames, by size class: 16, 32, 64 and 128 slots.
constexpr int kSlotClasses = 4;
constexpr std::int32_t kSmallestSlotClass = 16;
thread_local BlockList SlotBlocks[kSlotClasses];

// The class of an array of `count` slots and its capacity; -1 past the largest class.
int slot_class(std::int32_t count, std::size_t* capacity) {
  std::int32_t size = kSmallestSlotClass;
  for (int index = 0; index < kSlotClasses; ++index, size *= 2) {
    if (count <= size) {
      *capacity = static_cast<std::size_t>(size);
      return index;
    }
  }
  *capacity = static_cast<std::size_t>(count);
  return -1;
}

}  // namespace

ValueNode** take_slot_array(std::int32_t count) {
  std::size_t capacity = 0;
  int index = slot_class(count, &capacity);
  std::size_t size = sizeof(ValueNode*) * capacity;
  return static_cast<ValueNode**>(index < 0 ? alloc_zeroed(size) : SlotBlocks[index].take(size));
}

void give_slot_array(ValueNode** slots, std::int32_t count) {
  std::size_t capacity = 0;
  int index = slot_class(count, &capacity);
  if (index < 0) {
    free_block(slots);
  } else {
    SlotBlocks[index].give(slots);
  }
}

// The caches alone. Also run as a thread ends, after its thread-locals with destructors have gone:
// nothing here may touch one (the retire slot's keeper is one).
static void release_caches() {
  release_compiled_activations();
  release_element_indexes();
  NodeBlocks.drain();
  for (BlockList& list : SlotBlocks)
    list.drain();
}

void note_thread_caches() {
  constinit static thread_local bool noted = false;
  if (noted) return;
  noted = true;
  call_at_thread_exit(&release_caches);
}

void release_thread_caches() {
  release_retire_slot();
  release_caches();
}

ValueNode* make_cell() {
  // The room for a Value stays as it was: a cell made here never owns one.
  return static_cast<ValueNode*>(NodeBlocks.take(sizeof(CellBlock), sizeof(ValueNode)));
}

ValueNode* make_node() {
  auto* block = static_cast<CellBlock*>(NodeBlocks.take(sizeof(CellBlock)));
  if (block == nullptr) return nullptr;
  block->cell.value = &block->value;
  block->value.owner = &block->cell;
  return &block->cell;
}

void take_own_value(ValueNode* cell) {
  Value* shared = cell->value;
  if (shared == nullptr || shared->owner == cell) return;
  if (shared->shared) count_shared_reference(-1);
  auto* block = reinterpret_cast<CellBlock*>(cell);
  block->value = Value{};
  block->value.owner = cell;
  cell->value = &block->value;
  cell->elements = nullptr;
}

static bool owns_chain(const ValueNode* node) {
  return node->elements != nullptr && node->value != nullptr && node->value->owner == node;
}

// Releases one cell's name and, when the cell owns its Value, the Value; returns the element chain
// the cell owned (still to be released), or null. `next` is not followed. Inline in each caller:
// every evaluation step releases cells.
[[gnu::always_inline]] static inline ValueNode* release_cell(ValueNode* node) {
  release(&node->name);
  Value* value = node->value;
  ValueNode* elements = nullptr;
  if (value != nullptr && value->owner == node) {
    if (value->is_string) release(&value->data.text);
    elements = node->elements;
    // An extension makes an element as two blocks of its own sizes (see lumo_append_element):
    // they go back to the heap, not to the cache of cell blocks.
    if (value != &reinterpret_cast<CellBlock*>(node)->value) [[unlikely]] {
      free_block(value);
      free_block(node);
      return elements;
    }
  } else if (value != nullptr && value->shared) {
    count_shared_reference(-1);  // a reference to a shared Value goes
  }
  NodeBlocks.give(node);
  return elements;
}

// Releases a chain along `next` with everything its cells own. An owned element chain is spliced in
// front of the cells still to go instead of being released by recursion, so a hash nested to any
// depth needs no stack: every cell is visited once to be released and once to find a chain's end.
static void release_chain(ValueNode* todo) {
  while (todo != nullptr) {
    ValueNode* cell = todo;
    todo = cell->next;
    if (cell->name != nullptr || owns_chain(cell)) note_chains_changed();
    ValueNode* elements = release_cell(cell);
    if (elements != nullptr) {
      ValueNode* last = elements;
      while (last->next != nullptr)
        last = last->next;
      last->next = todo;
      todo = elements;
    }
  }
}

void free_node(ValueNode* node) {
  if (node == nullptr || node == CALL_FAILED) return;
  // A named cell may be an element an index points at, a cell owning a chain an indexed container.
  if (node->name != nullptr || owns_chain(node)) note_chains_changed();
  // Most cells own no elements: they need no walk.
  if (ValueNode* elements = release_cell(node); elements != nullptr) release_chain(elements);
}

void free_variables(ValueNode* first) {
  // A variable is no element of any chain: only one owning a chain may be an indexed container.
  while (first != nullptr) {
    ValueNode* next = first->next;
    if (owns_chain(first)) note_chains_changed();
    if (ValueNode* elements = release_cell(first); elements != nullptr) release_chain(elements);
    first = next;
  }
}

void free_cells(ValueNode* first) {
  if (first == CALL_FAILED) return;
  release_chain(first);
}

// Copies one cell's name and scalar, without its elements; null when memory runs out.
static ValueNode* copy_cell(const ValueNode* source) {
  ValueNode* copy = make_node();
  if (copy == nullptr) return nullptr;
  if (const char* name = name_of(source); name != nullptr) {
    copy->name = dup_string(name);
    if (copy->name == nullptr) {
      free_node(copy);
      return nullptr;
    }
    copy->name_hash = name_hash_of(name);
  }
  if (source->value != nullptr) {
    ScalarSnapshot scalar = read_scalar(source->value);
    if (scalar.failed) {
      free_node(copy);
      return nullptr;
    }
    if (scalar.is_string) {
      copy->value->data.text =
          scalar.owned_text != nullptr ? scalar.owned_text : dup_string(scalar.text);
      scalar.owned_text = nullptr;
      if (copy->value->data.text == nullptr) {
        free_node(copy);
        return nullptr;
      }
      copy->value->is_string = 1;
    } else {
      copy->value->data.number = scalar.number;
    }
  }
  return copy;
}

namespace {

// Where a deep copy resumes once it has copied an element chain: the source cell after the one
// whose elements were entered, and the link its copy goes into.
struct CopyResume {
  const ValueNode* source;
  ValueNode** tail;
};

}  // namespace

ValueNode* copy_chain(const ValueNode* first, bool* failed) {
  // Most values have no elements: nothing to set up for them.
  if (first == nullptr || first == CALL_FAILED) {
    if (failed != nullptr) *failed = false;
    return nullptr;
  }
  ValueNode* head = nullptr;
  ValueNode** tail = &head;
  const ValueNode* source = first;
  // Depth first, as a loop: a level is remembered only when its chain goes on after the cell
  // whose elements are entered, so a hash nested a level per element needs no stack at all.
  WalkStack<CopyResume> pending;
  for (;;) {
    if (source == nullptr) {
      if (pending.empty()) {
        if (failed != nullptr) *failed = false;
        return head;
      }
      CopyResume resume = pending.pop();
      source = resume.source;
      tail = resume.tail;
      continue;
    }
    ValueNode* copy = copy_cell(source);
    if (copy == nullptr) break;
    *tail = copy;
    const ValueNode* elements = first_of(source);
    const ValueNode* next = next_of(source);
    if (elements != nullptr) {
      if (next != nullptr && !pending.push({next, &copy->next})) break;
      source = elements;
      tail = &copy->elements;
    } else {
      source = next;
      tail = &copy->next;
    }
  }
  // Memory ran out: nothing of the copy is kept.
  free_chain(head);
  if (failed != nullptr) *failed = true;
  return nullptr;
}

// Script threads read global Values while others assign them. Every change of a shared Value's
// scalar, and every read of one, happens under this lock, so a reader never sees a released string:
// it copies the text (or reads the number) while the lock is held. The sections are short and never
// nest.
static std::mutex SharedValueLock;

ScalarSnapshot read_shared_scalar(const Value* value) {
  ScalarSnapshot snapshot{};
  std::lock_guard<std::mutex> guard(SharedValueLock);
  snapshot.is_string = value->is_string;
  if (value->is_string) {
    snapshot.owned_text = dup_string(value->data.text);
    snapshot.text = snapshot.owned_text != nullptr ? snapshot.owned_text : "";
    snapshot.failed = snapshot.owned_text == nullptr;
  } else {
    snapshot.number = value->data.number;
  }
  return snapshot;
}

std::int32_t shared_value_is_string(const Value* value) {
  std::lock_guard<std::mutex> guard(SharedValueLock);
  return value->is_string;
}

ScalarSnapshot::ScalarSnapshot(ScalarSnapshot&& other) noexcept
    : is_string(other.is_string),
      number(other.number),
      text(other.text),
      owned_text(other.owned_text),
      failed(other.failed) {
  other.owned_text = nullptr;
}

ScalarSnapshot& ScalarSnapshot::operator=(ScalarSnapshot&& other) noexcept {
  if (this != &other) {
    if (owned_text != nullptr) release(&owned_text);
    is_string = other.is_string;
    number = other.number;
    text = other.text;
    owned_text = other.owned_text;
    failed = other.failed;
    other.owned_text = nullptr;
  }
  return *this;
}

void store_shared_scalar(Value* target, std::int32_t is_string, std::int32_t number, char* text) {
  char* old_text = nullptr;
  {
    std::lock_guard<std::mutex> guard(SharedValueLock);
    old_text = replace_scalar(target, is_string, number, text);
  }
  release(&old_text);
}

bool assign_value(CallContext* context, Value* target, const Value* source) {
  RecursiveLock* lock = target->shared ? script_set_lock(context) : nullptr;
  if (lock != nullptr) lock_enter(lock);
  // The source is read (and a string duplicated) before the target changes, so assigning a Value
  // to itself is safe.
  ScalarSnapshot scalar = read_scalar(source);
  bool stored = !scalar.failed;
  if (stored && !scalar.is_string) {
    store_scalar(target, 0, scalar.number, nullptr);
  } else if (stored) {
    char* copy = scalar.owned_text != nullptr ? scalar.owned_text : dup_string(scalar.text);
    scalar.owned_text = nullptr;
    stored = copy != nullptr;
    if (stored) store_scalar(target, 1, 0, copy);  // out of memory: the target stays
  }
  if (lock != nullptr) lock_leave(lock);
  if (!stored && context != nullptr) {
    report_error(context, "Alloc failed", context->position, 0);
  }
  return stored;
}

std::int32_t step_any_value(CallContext* context, Value* target, std::int32_t step) {
  bool shared = is_shared_value(target);
  RecursiveLock* lock = shared ? script_set_lock(context) : nullptr;
  if (lock != nullptr) lock_enter(lock);
  // The read and the store are one section of the shared-scalar lock: a string is read in place
  // (no copy that could fail) and no other store comes between.
  char* old_text = nullptr;
  std::uint32_t number;
  {
    std::unique_lock<std::mutex> guard(SharedValueLock, std::defer_lock);
    if (shared) guard.lock();
    number = static_cast<std::uint32_t>(target->is_string ? number_of_text(target->data.text)
                                                          : target->data.number) +
             static_cast<std::uint32_t>(step);
    if (target->is_string) old_text = target->data.text;
    target->data.number = static_cast<std::int32_t>(number);
    target->is_string = 0;
  }
  if (lock != nullptr) lock_leave(lock);
  release(&old_text);
  return static_cast<std::int32_t>(number);
}

ValueNode* find_in_chain(ValueNode* first, const char* name, std::int32_t name_hash) {
  // A key of a global's element may be renamed meanwhile (under the lock, published by a release
  // store): the signature and the name are read atomically.
  for (ValueNode* cell = first; cell != nullptr; cell = next_of(cell)) {
    if (std::atomic_ref<std::int32_t>(cell->name_hash).load(std::memory_order_relaxed) !=
        name_hash) {
      continue;
    }
    const char* cell_name = name_of(cell);
    if (cell_name != nullptr && same_name(cell_name, name)) return cell;
  }
  return nullptr;
}

ValueNode* find_in_private_chain(ValueNode* first, const char* name, std::int32_t name_hash) {
  for (ValueNode* cell = first; cell != nullptr; cell = cell->next) {
    if (cell->name_hash == name_hash && cell->name != nullptr && same_name(cell->name, name)) {
      return cell;
    }
  }
  return nullptr;
}

// Element chains under a shared (global) container are searched and extended by several script
// threads at once. Creation happens under the ScriptSet lock, so no element is lost or duplicated;
// a new cell is complete before it is linked with a release store, so a thread walking the chain
// at that moment sees either the old end or the whole new cell.
static std::atomic_ref<ValueNode*> link_of(ValueNode** slot) {
  return std::atomic_ref<ValueNode*>(*slot);
}

// The innermost SharedContainerLock this thread holds, if any.
class SharedContainerLock;
static thread_local SharedContainerLock* HeldContainerLock = nullptr;

// Locks the ScriptSet when the container is shared; unlocks on scope exit. A report due while the
// lock is held waits until it is let go: the host may show a report only after another thread that
// waits for this lock has gone on.
class SharedContainerLock {
 public:
  SharedContainerLock(CallContext* context, const ValueNode* container)
      : context_(context),
        lock_(container->value->shared ? script_set_lock(context) : nullptr),
        outer_(HeldContainerLock) {
    if (lock_ == nullptr) return;
    lock_enter(lock_);
    HeldContainerLock = this;
  }
  ~SharedContainerLock() {
    if (lock_ == nullptr) return;
    HeldContainerLock = outer_;
    lock_leave(lock_);
    if (alloc_failed_) report_error(context_, "Alloc failed", position_, 0);
  }
  SharedContainerLock(const SharedContainerLock&) = delete;
  SharedContainerLock& operator=(const SharedContainerLock&) = delete;

  void defer_alloc_failed(const char* position) {
    alloc_failed_ = true;
    position_ = position;
  }

 private:
  CallContext* context_;
  RecursiveLock* lock_;
  SharedContainerLock* outer_;
  bool alloc_failed_ = false;
  const char* position_ = nullptr;
};

static void report_alloc_failed(CallContext* context) {
  const char* position = context != nullptr ? context->position : nullptr;
  if (HeldContainerLock != nullptr) {
    HeldContainerLock->defer_alloc_failed(position);
  } else {
    report_error(context, "Alloc failed", position, 0);
  }
}

static ValueNode* make_element(const ValueNode* container) {
  ValueNode* cell = make_node();
  if (cell != nullptr) cell->value->shared = container->value->shared;
  return cell;
}

// Cells walked before a chain's index is asked: a short chain, or a key (of an unshared chain) or
// a position near its start, is answered at once.
constexpr int kWalkedCells = 16;

// Appends a new element with the key at `slot` (the chain's end); null after a reported failure.
static ValueNode* append_named_element(CallContext* context, const ValueNode* container,
                                       ValueNode** slot, const char* name, std::int32_t name_hash);

ValueNode* element_by_key(CallContext* context, ValueNode* container, const Value* key) {
  if (!key->is_string) return element_by_position(context, container, key->data.number);
  const char* name = key->data.text != nullptr ? key->data.text : "";
  if (*name == '\0') return container;
  std::int32_t name_hash = name_hash_of(name);
  ValueNode** slot = &container->elements;
  if (!container->value->shared) {
    // Only this thread sees an unshared chain: no lock, and a long one is looked up through an
    // index.
    int walked = 0;
    for (ValueNode* cell; (cell = *slot) != nullptr && walked < kWalkedCells;
         slot = &cell->next, ++walked) {
      if (cell->name_hash == name_hash && cell->name != nullptr && same_name(cell->name, name))
        return cell;
    }
    if (*slot == nullptr) return append_named_element(context, container, slot, name, name_hash);
    ValueNode* known = nullptr;
    switch (find_indexed_element(container, name, &known)) {
      case IndexAnswer::Found:
        return known;
      case IndexAnswer::Absent:
        return append_named_element(context, container, &known->next, name, name_hash);
      case IndexAnswer::Unknown:
        break;
    }
    for (ValueNode* cell; (cell = *slot) != nullptr; slot = &cell->next) {
      if (cell->name_hash == name_hash && cell->name != nullptr && same_name(cell->name, name))
        return cell;
    }
    return append_named_element(context, container, slot, name, name_hash);
  }
  // A shared chain: found without the lock when it is there, through the index when the chain is
  // long.
  ValueNode* known = nullptr;
  IndexAnswer answer = find_indexed_element(container, name, &known);
  if (answer == IndexAnswer::Found) return known;
  if (answer == IndexAnswer::Unknown) {
    ValueNode* found =
        find_in_chain(link_of(slot).load(std::memory_order_acquire), name, name_hash);
    if (found != nullptr) return found;
  }

  SharedContainerLock guard(context, container);
  // Search again under the lock: another thread may have added the key meanwhile.
  switch (find_indexed_element(container, name, &known)) {
    case IndexAnswer::Found:
      return known;
    case IndexAnswer::Absent:
      return append_named_element(context, container, &known->next, name, name_hash);
    case IndexAnswer::Unknown:
      break;
  }
  for (ValueNode* cell; (cell = link_of(slot).load(std::memory_order_acquire)) != nullptr;
       slot = &cell->next) {
    if (cell->name_hash == name_hash && cell->name != nullptr &&
        std::strcmp(cell->name, name) == 0) {
      return cell;
    }
  }
  return append_named_element(context, container, slot, name, name_hash);
}

static ValueNode* append_named_element(CallContext* context, const ValueNode* container,
                                       ValueNode** slot, const char* name, std::int32_t name_hash) {
  ValueNode* cell = make_element(container);
  if (cell != nullptr) {
    cell->name = dup_string(name);
    if (cell->name == nullptr) {
      free_node(cell);
      cell = nullptr;
    }
  }
  if (cell == nullptr) {
    report_alloc_failed(context);
    return nullptr;
  }
  cell->name_hash = name_hash;
  link_of(slot).store(cell, std::memory_order_release);
  return cell;
}

// Appends `count` (1 or more) unnamed elements at `slot`, the chain's end (under the lock for a
// shared chain), and returns the last; null after a reported failure. A growth past
// MAX_NEW_ELEMENTS fails as an allocation would.
static ValueNode* append_unnamed_elements(CallContext* context, const ValueNode* container,
                                          ValueNode** slot, std::int32_t count) {
  if (count > MAX_NEW_ELEMENTS) {
    report_alloc_failed(context);
    return nullptr;
  }
  ValueNode* cell = nullptr;
  for (; count > 0; --count, slot = &cell->next) {
    cell = make_element(container);
    if (cell == nullptr) {
      report_alloc_failed(context);
      return nullptr;
    }
    link_of(slot).store(cell, std::memory_order_release);
  }
  return cell;
}

ValueNode* element_by_position(CallContext* context, ValueNode* container, std::int32_t index) {
  if (index < 0) {
    report_error(context, "Index error", context != nullptr ? context->position : nullptr, 0);
    return nullptr;
  }
  if (index >= kWalkedCells) {
    // A long chain: its index gives the cell, or the end to extend from.
    ValueNode* known = nullptr;
    std::int32_t length = 0;
    IndexAnswer answer = find_indexed_position(container, index, &known, &length);
    if (answer == IndexAnswer::Found) return known;
    if (answer == IndexAnswer::Absent) {
      SharedContainerLock guard(context, container);
      // Again under the lock: another thread may have extended a shared chain meanwhile.
      if (container->value->shared)
        answer = find_indexed_position(container, index, &known, &length);
      if (answer == IndexAnswer::Found) return known;
      if (answer == IndexAnswer::Absent)
        return append_unnamed_elements(context, container, &known->next, index - length + 1);
    }
  }
  // Walk without the lock as far as the chain reaches; only extending it needs the lock.
  ValueNode** slot = &container->elements;
  std::int32_t position = 0;
  for (ValueNode* cell; (cell = link_of(slot).load(std::memory_order_acquire)) != nullptr;
       slot = &cell->next, ++position) {
    if (position == index) return cell;
  }
  // One index far past the end would otherwise take all memory (a[2000000000]); such a growth
  // fails as an allocation would.
  if (index - position >= MAX_NEW_ELEMENTS) {
    report_alloc_failed(context);
    return nullptr;
  }

  // Extend under the lock, walking again from the start: the chain may have changed meanwhile.
  SharedContainerLock guard(context, container);
  slot = &container->elements;
  for (position = 0;; ++position) {
    ValueNode* cell = link_of(slot).load(std::memory_order_acquire);
    if (cell == nullptr) {  // append unnamed cells until the index exists
      cell = make_element(container);
      if (cell == nullptr) {
        report_alloc_failed(context);
        return nullptr;
      }
      link_of(slot).store(cell, std::memory_order_release);
    }
    if (position == index) return cell;
    slot = &cell->next;
  }
}

bool set_string_value(Value* value, const char* text) {
  char* copy = dup_string(text != nullptr ? text : "");
  if (copy == nullptr) return false;
  value->data.text = copy;
  value->is_string = 1;
  return true;
}
