// Deferred release of cells unlinked from chains that other script threads may still be walking.
//
// A global hash is walked without a lock. When one thread unlinks elements from it, another may be
// standing on one of them, so they are not freed at once: they wait here until no script call is
// active (the count of active calls reaches 0), when no walker can hold a pointer into them.
#pragma once

#include "lumo/extension.h"

// Frees the cell with everything it owns (never following `next`) once no call is active.
void retire_cell(ValueNode* cell);
// Frees a whole chain along `next` once no call is active.
void retire_chain(ValueNode* first);
// Releases a string (an element's old key) once no call is active.
void retire_text(char* text);

// Frees everything retired so far when no call is active; otherwise leaves it for later. Called by
// the engine whenever the count of active calls drops to 0.
void release_retired();
