// Wrapping the stored text into visual lines for the client width, and the scroll range.
#pragma once

#include <cstdint>

#include "view/view_state.h"

// Rebuilds the line index from visual line k to the end of the text, then the scroll range.
// Lines break between any two characters where the width runs out (never inside a two-byte
// character); LF ends a line; CR LF takes no room; a lone CR takes no width and shows nothing.
void layout_from(ViewState* state, std::uint32_t k);
// Fresh line arrays and the whole text laid out again (width or font changes).
void layout_all(ViewState* state);

// max first line := line count - rows when the lines do not fit, else 0.
void update_scroll_range(ViewState* state);

// The width of one character (or a run) as layout, painting and hit testing measure it: from the
// average width for plain text in a fixed-pitch font, else from the font.
int measure_run(ViewState* state, const char* bytes, std::uint32_t count, bool bold);

// New font measures: the line index is rebuilt at the next view_resize (layout width := 0).
void view_set_metrics(ViewState* state, int line_height, int avg_char_width, bool fixed_pitch);
