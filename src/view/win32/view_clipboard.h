// Copying the view's selection to the clipboard.
#pragma once

#include <windows.h>

#include "view/view_state.h"

// The selected bytes as CF_TEXT (CP932, line breaks as stored) and as CF_UNICODETEXT converted
// from CP932, so that programs reading either get the same Japanese text. Nothing happens without
// a selection; when a block cannot be made the clipboard is left as it was.
void copy_selection(HWND owner, const ViewState* state);
