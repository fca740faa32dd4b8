// The channel list of the AppContext and the selector entries that mirror it.
#pragma once

#include "shell/app_context.h"

// Frees every channel with its view and removes every selector entry, from the last to the first
// (close sequence). The server entry goes too.
void channels_release_all(AppContext* app);
// Appends a selector entry (the caller keeps ownership rules: channel entries are freed when
// removed, the server entry is part of the context). False when memory runs out.
bool channels_add_entry(AppContext* app, SelectorItem* item);
