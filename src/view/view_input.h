// What the view does with appends, resizes, keys, scrolling and the mouse. Each operation changes
// the ViewState and returns a ViewChange: what the window has to move, repaint or send.
#pragma once

#include <cstdint>

#include "view/view_state.h"

struct LineRange {
  std::uint32_t first;  // visual lines, both ends included
  std::uint32_t last;
};

struct ViewChange {
  bool ok;                   // false: an append ran out of memory
  std::int64_t scroll_rows;  // move the picture down by this many rows (up when negative)
  bool repaint_all;
  std::int64_t repaint_from_row;  // repaint the window rows from this one to the bottom; -1 none
  LineRange lines[2];             // visual lines to repaint
  int line_ranges;
  bool update_now;  // paint at once instead of waiting for the next WM_PAINT
  bool copy;        // copy the selection to the clipboard
  int capture;      // +1 capture the mouse, -1 release it, 0 neither
  bool focus;       // the view takes the focus
  bool open_link;   // send the link text [link_start, link_start + link_length) to the parent
  std::uint32_t link_start;
  std::uint32_t link_length;
};

// Appends text with formatting codes, lays out from the last visual line and follows the end when
// the view showed it. A null text does nothing.
ViewChange view_append(ViewState* state, const char* text);
// Clears the store, then appends.
ViewChange view_set_text(ViewState* state, const char* text);
// A new client size: rewraps when the width changed, keeps the bottom in sight when it was.
ViewChange view_resize(ViewState* state, int width, int height);

enum class ScrollCode { LINE_UP, LINE_DOWN, PAGE_UP, PAGE_DOWN, THUMB, TOP, BOTTOM, OTHER };
// Scrolling; `track` is the scroll bar's tracking position for THUMB.
ViewChange view_scroll(ViewState* state, ScrollCode code, std::int64_t track = 0);
// Three lines up for a positive wheel delta, three down otherwise.
ViewChange view_wheel(ViewState* state, int delta);

enum class ViewKey { PAGE_UP, PAGE_DOWN, HOME, END, LEFT, RIGHT, UP, DOWN, A, C, OTHER };
ViewChange view_key(ViewState* state, ViewKey key, bool shift, bool ctrl);

enum class MouseEvent { MOVE, LEFT_DOWN, LEFT_UP };
// `left_down`: the left button is held (for MOVE).
ViewChange view_mouse(ViewState* state, MouseEvent event, int x, int y, bool shift, bool left_down);
// Double-click: opens the link under the pointer, or selects the word there.
ViewChange view_double_click(ViewState* state, int x, int y);
// True when the pointer is over link text (the window shows the link cursor then).
bool view_link_at(ViewState* state, int x, int y);

// The selection, smaller end first.
inline std::uint32_t selection_start(const ViewState* state) {
  return state->caret < state->anchor ? state->caret : state->anchor;
}
inline std::uint32_t selection_end(const ViewState* state) {
  return state->caret < state->anchor ? state->anchor : state->caret;
}
