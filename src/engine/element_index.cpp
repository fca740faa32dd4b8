#include "engine/element_index.h"

#include <atomic>
#include <cstring>

#include "engine/retire.h"
#include "engine/value.h"
#include "platform/memory.h"

namespace element_index_detail {
constinit thread_local std::uint64_t ChainEpoch = 0;
}

// FNV-1a over the key bytes, then mixed so that every bit of the result depends on every byte: the
// low bits choose the slot.
std::uint64_t key_hash(const char* name) {
  std::uint64_t hash = 14695981039346656037ull;
  for (; *name != '\0'; ++name) {
    hash ^= static_cast<unsigned char>(*name);
    hash *= 1099511628211ull;
  }
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdull;
  hash ^= hash >> 33;
  return hash;
}

namespace {

using element_index_detail::ChainEpoch;

// Advanced by every relinking of a shared chain.
std::atomic<std::uint64_t> SharedChainEpoch{0};

// Chains shorter than this are walked: an index would not pay.
constexpr std::uint32_t kMinimumLength = 32;
// Lookups of one chain, with nothing changed in between, before its index is made.
constexpr std::uint32_t kLookupsBeforeIndex = 4;
// Indexes a thread keeps at once; the oldest goes first.
constexpr int kIndexes = 8;

struct KeySlot {
  ValueNode* cell;  // null for an empty slot
  std::uint64_t hash;
};

struct ChainIndex {
  ValueNode* container;  // compared, never read: the index is current only while the epoch is
  ValueNode* head;       // the chain's first cell when the index was made (compared only)
  std::uint64_t epoch;
  bool shared;                 // the container was shared: the two global epochs below count
  std::uint64_t retire_epoch;  // retire_detail::Epoch when the index was made
  std::uint64_t shared_epoch;  // SharedChainEpoch when the index was made
  std::uint32_t lookups;       // made at this epoch so far
  std::uint32_t next_check;    // how many lookups before the chain is measured (again)
  ValueNode* last;             // the last cell taken in (null before the index is made)
  ValueNode** cells;           // the cells taken in, in chain order; null when not made
  std::uint32_t length;        // cells taken in
  std::uint32_t capacity;      // room in `cells`
  KeySlot* slots;              // open addressing by key hash
  std::uint32_t mask;          // slots - 1
  std::uint32_t keys;          // distinct keys taken in
};

void clear(ChainIndex* index) {
  release(&index->cells);
  release(&index->slots);
  *index = ChainIndex{};
}

// A thread's indexes. No destructor: a thread-local with one is registered by the runtime at its
// first touch, and under the Windows runtime that broke at the end of the engine's threads. They
// free their indexes as they end (release_thread_caches); so does the connection thread. Where the
// platform allows, any other thread's indexes go when it ends.
struct ThreadIndexes {
  ChainIndex entries[kIndexes];
  int next_victim;
};

thread_local ThreadIndexes Indexes;

ValueNode* lookup(const ChainIndex* index, const char* name, std::uint64_t hash) {
  for (std::uint32_t slot = static_cast<std::uint32_t>(hash) & index->mask;;
       slot = (slot + 1) & index->mask) {
    const KeySlot& entry = index->slots[slot];
    if (entry.cell == nullptr) return nullptr;
    // A key of a shared chain may be renamed meanwhile (the index is set aside after that).
    if (entry.hash != hash) continue;
    const char* cell_name = name_of(entry.cell);
    if (cell_name != nullptr && same_name(cell_name, name)) return entry.cell;
  }
}

// Puts the cell into the key table unless its key is there already (the first cell of a key keeps
// it, as a walk finds it).
void place(KeySlot* slots, std::uint32_t mask, ValueNode* cell, const char* name,
           std::uint64_t hash, std::uint32_t* keys) {
  std::uint32_t slot = static_cast<std::uint32_t>(hash) & mask;
  for (; slots[slot].cell != nullptr; slot = (slot + 1) & mask) {
    if (slots[slot].hash != hash) continue;
    const char* other = name_of(slots[slot].cell);
    if (other != nullptr && same_name(other, name)) return;
  }
  slots[slot] = {cell, hash};
  ++*keys;
}

bool grow_slots(ChainIndex* index) {
  std::uint32_t capacity = index->slots == nullptr ? 64 : (index->mask + 1) * 2;
  auto* slots = static_cast<KeySlot*>(alloc_zeroed(sizeof(KeySlot) * capacity));
  if (slots == nullptr) return false;
  std::uint32_t keys = 0;
  if (index->slots != nullptr) {
    for (std::uint32_t i = 0; i <= index->mask; ++i) {
      const KeySlot& entry = index->slots[i];
      if (entry.cell == nullptr) continue;
      // Moved as they are: the keys in a table are distinct.
      std::uint32_t slot = static_cast<std::uint32_t>(entry.hash) & (capacity - 1);
      while (slots[slot].cell != nullptr)
        slot = (slot + 1) & (capacity - 1);
      slots[slot] = entry;
      ++keys;
    }
  }
  release(&index->slots);
  index->slots = slots;
  index->mask = capacity - 1;
  index->keys = keys;
  return true;
}

bool grow_cells(ChainIndex* index) {
  std::uint32_t capacity = index->capacity == 0 ? 64 : index->capacity * 2;
  if (capacity <= index->capacity) return false;
  auto** cells = static_cast<ValueNode**>(alloc_block(sizeof(ValueNode*) * capacity));
  if (cells == nullptr) return false;
  if (index->length != 0) std::memcpy(cells, index->cells, sizeof(ValueNode*) * index->length);
  release(&index->cells);
  index->cells = cells;
  index->capacity = capacity;
  return true;
}

// Takes in the cells after `last` (all of them before the first). False when memory runs out.
bool take_in(ChainIndex* index) {
  ValueNode* cell = index->last != nullptr ? next_of(index->last) : index->head;
  for (; cell != nullptr; cell = next_of(cell)) {
    if (index->length == index->capacity && !grow_cells(index)) return false;
    if (const char* name = name_of(cell); name != nullptr) {
      if ((index->keys + 1) * 2 > index->mask + 1 && !grow_slots(index)) return false;
      place(index->slots, index->mask, cell, name, key_hash(name), &index->keys);
    }
    index->cells[index->length++] = cell;
    index->last = cell;
  }
  return true;
}

bool make_index(ChainIndex* index) {
  std::uint32_t length = 0;
  for (ValueNode* cell = index->head; cell != nullptr && length < kMinimumLength;
       cell = next_of(cell))
    ++length;
  if (length < kMinimumLength) return false;
  note_thread_caches();
  if (grow_slots(index) && take_in(index)) return true;
  release(&index->cells);
  release(&index->slots);
  index->last = nullptr;
  index->length = index->capacity = index->mask = index->keys = 0;
  return false;
}

// Sets the index to the container's chain as it is now, at this epoch, with nothing taken in.
void restart(ChainIndex* index, ValueNode* container) {
  clear(index);
  index->container = container;
  index->epoch = ChainEpoch;
  index->shared = is_shared_value(container->value);
  if (index->shared) {
    // Read before the chain: a change after these readings sets the index aside.
    index->retire_epoch = retire_detail::Epoch.load(std::memory_order_seq_cst);
    index->shared_epoch = SharedChainEpoch.load(std::memory_order_seq_cst);
  }
  index->head = first_of(container);
  index->next_check = kLookupsBeforeIndex;
}

// Whether the index still stands for the container's chain (cells appended since aside).
bool is_current(const ChainIndex* index, const ValueNode* container) {
  if (index->epoch != ChainEpoch || index->shared != is_shared_value(container->value))
    return false;
  if (index->shared &&
      (index->retire_epoch != retire_detail::Epoch.load(std::memory_order_seq_cst) ||
       index->shared_epoch != SharedChainEpoch.load(std::memory_order_seq_cst))) {
    return false;
  }
  return index->head == first_of(container);
}

ChainIndex* index_of(ValueNode* container) {
  for (ChainIndex& index : Indexes.entries) {
    if (index.container == container) return &index;
  }
  ChainIndex* index = &Indexes.entries[Indexes.next_victim];
  Indexes.next_victim = (Indexes.next_victim + 1) % kIndexes;
  restart(index, container);
  return index;
}

// The container's index brought up to date with its chain, or null when none applies (yet).
ChainIndex* current_index(ValueNode* container) {
  if (first_of(container) == nullptr) return nullptr;
  ChainIndex* index = index_of(container);
  if (!is_current(index, container)) restart(index, container);
  if (index->cells == nullptr) {
    // Measured again after twice as many lookups each time: a short chain may grow.
    if (++index->lookups < index->next_check) return nullptr;
    if (!make_index(index)) {
      index->next_check = index->lookups * 2;
      return nullptr;
    }
  } else if (!take_in(index)) {
    restart(index, container);
    return nullptr;
  }
  return index;
}

}  // namespace

IndexAnswer find_indexed_element(ValueNode* container, const char* name, ValueNode** cell) {
  ChainIndex* index = current_index(container);
  if (index == nullptr) return IndexAnswer::Unknown;
  *cell = lookup(index, name, key_hash(name));
  if (*cell != nullptr) return IndexAnswer::Found;
  *cell = index->last;
  return IndexAnswer::Absent;
}

IndexAnswer find_indexed_position(ValueNode* container, std::int32_t position, ValueNode** cell,
                                  std::int32_t* length) {
  ChainIndex* index = current_index(container);
  if (index == nullptr || position < 0) return IndexAnswer::Unknown;
  if (static_cast<std::uint32_t>(position) < index->length) {
    *cell = index->cells[position];
    return IndexAnswer::Found;
  }
  *cell = index->last;
  *length = static_cast<std::int32_t>(index->length);
  return IndexAnswer::Absent;
}

void note_shared_chains_changed() {
  SharedChainEpoch.fetch_add(1, std::memory_order_seq_cst);
}

void release_element_indexes() {
  for (ChainIndex& index : Indexes.entries)
    clear(&index);
}
