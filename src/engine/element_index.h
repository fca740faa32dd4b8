// Keyed lookup in long element chains without walking them.
//
// A hash is a chain of cells, found by walking it. When a thread keeps looking keys up in the same
// long chain of an unshared container, it builds an index of the chain's named cells and answers
// from it. The index holds pointers only to named cells. Every release of a named cell that may be
// an element (a frame's variables are none), of a cell owning a chain, and every native call that
// may relink chains changes the thread's chain epoch, which sets all its indexes aside. Cells
// appended at the end are taken into the index on the next lookup. Shared (global) chains, which
// other threads change, are never indexed.
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

enum class IndexAnswer {
  Unknown,  // no index applies: walk the chain
  Found,    // *cell is the first element with the key
  Absent,   // no element has the key; *cell is the chain's last cell, to append after
};

// Looks the key up through this thread's index of the container's chain, making the index when the
// chain is long and looked up often enough. Only for an unshared container.
IndexAnswer find_indexed_element(ValueNode* container, const char* name, std::int32_t name_hash,
                                 ValueNode** cell);

// Frees this thread's indexes (the thread is ending).
void release_element_indexes();
