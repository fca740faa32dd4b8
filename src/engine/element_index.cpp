#include "engine/element_index.h"

#include <cstring>

#include "engine/value.h"
#include "platform/memory.h"

namespace element_index_detail {
constinit thread_local std::uint64_t ChainEpoch = 0;
}

namespace {

using element_index_detail::ChainEpoch;

// Chains shorter than this are walked: an index would not pay.
constexpr std::uint32_t kMinimumLength = 32;
// Lookups of one chain, with nothing changed in between, before its index is made.
constexpr std::uint32_t kLookupsBeforeIndex = 4;
// Indexes a thread keeps at once; the oldest goes first.
constexpr int kIndexes = 8;

struct ChainIndex {
  ValueNode* container;  // compared, never read: the index is current only while the epoch is
  ValueNode* head;       // the chain's first cell when the index was made (compared only)
  std::uint64_t epoch;
  std::uint32_t lookups;     // made at this epoch so far
  std::uint32_t next_check;  // how many lookups before the chain is measured (again)
  ValueNode* last;           // the last named cell taken in (null before the index is made)
  ValueNode** slots;         // open addressing by key signature; null when not made
  std::uint32_t mask;        // slots - 1
  std::uint32_t count;       // named cells taken in
};

thread_local ChainIndex Indexes[kIndexes];
thread_local int NextVictim = 0;

void clear(ChainIndex* index) {
  release(&index->slots);
  *index = ChainIndex{};
}

std::uint32_t slot_of(std::int32_t name_hash, std::uint32_t mask) {
  return (static_cast<std::uint32_t>(name_hash) * 2654435761u) & mask;
}

ValueNode* lookup(const ChainIndex* index, const char* name, std::int32_t name_hash) {
  for (std::uint32_t slot = slot_of(name_hash, index->mask);; slot = (slot + 1) & index->mask) {
    ValueNode* cell = index->slots[slot];
    if (cell == nullptr) return nullptr;
    if (cell->name_hash == name_hash && same_name(cell->name, name)) return cell;
  }
}

bool grow(ChainIndex* index) {
  std::uint32_t capacity = (index->mask + 1) * 2;
  auto** slots = static_cast<ValueNode**>(alloc_zeroed(sizeof(ValueNode*) * capacity));
  if (slots == nullptr) return false;
  for (std::uint32_t i = 0; i <= index->mask; ++i) {
    ValueNode* cell = index->slots[i];
    if (cell == nullptr) continue;
    std::uint32_t slot = slot_of(cell->name_hash, capacity - 1);
    while (slots[slot] != nullptr)
      slot = (slot + 1) & (capacity - 1);
    slots[slot] = cell;
  }
  release(&index->slots);
  index->slots = slots;
  index->mask = capacity - 1;
  return true;
}

// Takes in the named cells after `last` (all of them before the first); the first cell of a key
// keeps it, as a walk finds it. *tail is the chain's last cell. False when memory runs out.
bool take_in(ChainIndex* index, ValueNode** tail) {
  ValueNode* cell = index->last != nullptr ? index->last->next : index->head;
  *tail = index->last;
  for (; cell != nullptr; cell = cell->next) {
    *tail = cell;
    if (cell->name == nullptr) continue;
    if ((index->count + 1) * 2 > index->mask + 1 && !grow(index)) return false;
    std::uint32_t slot = slot_of(cell->name_hash, index->mask);
    bool known = false;
    for (ValueNode* other; (other = index->slots[slot]) != nullptr;
         slot = (slot + 1) & index->mask) {
      if (other->name_hash == cell->name_hash && same_name(other->name, cell->name)) {
        known = true;
        break;
      }
    }
    if (!known) {
      index->slots[slot] = cell;
      ++index->count;
    }
    index->last = cell;
  }
  return true;
}

bool make_index(ChainIndex* index, ValueNode** tail) {
  std::uint32_t named = 0;
  for (ValueNode* cell = index->head; cell != nullptr; cell = cell->next)
    named += cell->name != nullptr ? 1 : 0;
  if (named < kMinimumLength) return false;
  std::uint32_t capacity = 64;
  while (capacity < named * 2)
    capacity *= 2;
  index->slots = static_cast<ValueNode**>(alloc_zeroed(sizeof(ValueNode*) * capacity));
  if (index->slots == nullptr) return false;
  index->mask = capacity - 1;
  if (take_in(index, tail)) return true;
  release(&index->slots);
  index->last = nullptr;
  index->count = 0;
  return false;
}

// Sets the index to the container's chain as it is now, at this epoch, with nothing taken in.
void restart(ChainIndex* index, ValueNode* container) {
  clear(index);
  index->container = container;
  index->head = container->elements;
  index->epoch = ChainEpoch;
  index->next_check = kLookupsBeforeIndex;
}

ChainIndex* index_of(ValueNode* container) {
  for (ChainIndex& index : Indexes) {
    if (index.container == container) return &index;
  }
  ChainIndex* index = &Indexes[NextVictim];
  NextVictim = (NextVictim + 1) % kIndexes;
  restart(index, container);
  return index;
}

}  // namespace

IndexAnswer find_indexed_element(ValueNode* container, const char* name, std::int32_t name_hash,
                                 ValueNode** cell) {
  if (container->elements == nullptr) return IndexAnswer::Unknown;
  ChainIndex* index = index_of(container);
  if (index->epoch != ChainEpoch || index->head != container->elements) restart(index, container);
  ValueNode* tail = nullptr;
  if (index->slots == nullptr) {
    // Measured again after twice as many lookups each time: a short chain may grow.
    if (++index->lookups < index->next_check) return IndexAnswer::Unknown;
    if (!make_index(index, &tail)) {
      index->next_check = index->lookups * 2;
      return IndexAnswer::Unknown;
    }
  } else if (!take_in(index, &tail)) {
    restart(index, container);
    return IndexAnswer::Unknown;
  }
  *cell = lookup(index, name, name_hash);
  if (*cell != nullptr) return IndexAnswer::Found;
  *cell = tail;
  return IndexAnswer::Absent;
}

void release_element_indexes() {
  for (ChainIndex& index : Indexes)
    clear(&index);
}
