// Hash built-ins: counting, resizing, keys, insertion and deletion, search, sorting, copying,
// merging, and the byte-hash conversions. Positions are 0-based and count every element.
//
// A hash that a built-in changes is the element chain of the variable the argument names (the
// owner of the argument's Value). Chains of global hashes are walked by other script threads
// without a lock, so structural changes of a shared chain take the ScriptSet lock, publish links
// with release stores, and retire unlinked cells instead of freeing them.
#pragma once

#include "builtins/strings.h"
#include "engine/value.h"

LUMO_BUILTIN(gethashcount);
LUMO_BUILTIN(sethashcount);
LUMO_BUILTIN(gethashkey);
LUMO_BUILTIN(sethashkey);
LUMO_BUILTIN(ishashkey);
LUMO_BUILTIN(hashinsert);
LUMO_BUILTIN(hashdelete);
LUMO_BUILTIN(hashfind);
LUMO_BUILTIN(hashkeysort);
LUMO_BUILTIN(hashsort);
LUMO_BUILTIN(hashcopy);
LUMO_BUILTIN(hashmerge);
LUMO_BUILTIN(hashtostring);
LUMO_BUILTIN(stringtohash);

// Replaces the elements of `owner` by `chain` (taken over): the output-argument store. For a shared
// owner the new cells are marked shared and the old chain is retired. False when memory ran out:
// the chain is released and the owner keeps its elements.
bool replace_elements(CallContext* context, ValueNode* owner, ValueNode* chain);
