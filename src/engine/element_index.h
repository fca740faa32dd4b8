// Keyed and positional lookup in long element chains without walking them.
//
// A hash is a chain of cells, found by walking it. When a thread keeps looking up keys or positions
// in the same long chain, it builds an index of the chain of its own: its cells in order, and its
// named cells by a strong hash of the key bytes (the key signature collides far too often to place
// keys by). Every release of a named cell that may be an element (a frame's variables are none), of
// a cell owning a chain, every replacement of a container's chain, and every native call that may
// relink chains changes the thread's chain epoch, which sets all its indexes aside. Cells appended
// at the end are taken into the index on the next lookup.
//
// Shared (global) chains change on other threads, under the ScriptSet lock: an index of one is
// also set aside by every retirement (the only way cells leave a shared chain or keys change) and
// by every relinking of a shared chain. Both are checked before the index is read, so it never
// hands out a cell that may have been freed; between the checks and the use, an answer is as good
// as a walk at that moment. Under the lock, where shared chains hold still, it is exact.
#pragma once

#include <cstdint>

#include "lumo/extension.h"

namespace element_index_detail {
extern thread_local constinit std::uint64_t ChainEpoch;
}

// Chains of this thread may have changed in a way an index cannot follow.
inline void note_chains_changed() {
  ++element_index_detail::ChainEpoch;
}

// A shared chain was relinked (cells reordered or inserted) or released: under the ScriptSet lock,
// before the lock is left.
void note_shared_chains_changed();

enum class IndexAnswer {
  Unknown,  // no index applies: walk the chain
  Found,    // *cell is the first element with the key (at the position)
  Absent,  // no element has the key (the position); *cell is the chain's last cell, to append after
};

// Looks the key up through this thread's index of the container's chain, making the index when the
// chain is long and looked up often enough.
IndexAnswer find_indexed_element(ValueNode* container, const char* name, ValueNode** cell);

// The same for a position (0 or more). When the answer is Absent, *length is the chain's length.
IndexAnswer find_indexed_position(ValueNode* container, std::int32_t position, ValueNode** cell,
                                  std::int32_t* length);

// A strong 64-bit hash of a key's bytes (keys compare byte for byte), for tables of keys: unlike
// the key signature, its low bits are spread well.
std::uint64_t key_hash(const char* name);

// Frees this thread's indexes (the thread is ending).
void release_element_indexes();
