// Derived quantities of the view: the line of an offset, hard lines, pixel columns and hit tests.
#pragma once

#include <cstdint>

#include "view/view_state.h"

// Integer division rounding down, so that a pointer just above the window means the row above.
inline std::int64_t floor_div(std::int64_t value, std::int64_t divisor) {
  std::int64_t quotient = value / divisor;
  return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

// The last byte offset of visual line k's text (its CR LF excluded).
inline std::uint32_t line_end(const ViewState* state, std::uint32_t k) {
  return state->line_starts[k] + static_cast<std::uint32_t>(state->line_lengths[k]);
}

// The largest visual line whose start is at or before the offset.
std::uint32_t line_of_offset(const ViewState* state, std::uint32_t offset);
// The first byte of the hard line (text after the last LF) that holds the offset.
std::uint32_t hard_line_start(const ViewState* state, std::uint32_t offset);
// True when visual line k ends at a line feed (the next visual line begins a hard line).
bool line_ends_hard(const ViewState* state, std::uint32_t k);
// Whether bold is on at the first byte of visual line k (bold flips count from its hard line's
// start).
bool bold_at_line_start(const ViewState* state, std::uint32_t k);

// The pixel column of an offset on its visual line, measured as painting measures.
int offset_x(ViewState* state, std::uint32_t offset);
inline int caret_x(ViewState* state) {
  return offset_x(state, state->caret);
}
// The pixel row of the top of visual line k in the window (negative above it).
inline std::int64_t line_y(const ViewState* state, std::uint32_t k) {
  return (std::int64_t{k} - state->first_visible_line) * state->line_height;
}

// The visual line that a window pixel row shows, not limited to the existing lines.
std::int64_t row_at(const ViewState* state, int y);

enum class HitMode {
  BOUNDARY,  // the character boundary nearest to x: before a character when x is left of its middle
  CELL,      // the character whose cell holds x
};
// A window pixel to a byte offset. Above the text gives 0, below it the text's length, right of a
// visual line its end.
std::uint32_t hit_test(ViewState* state, int x, int y, HitMode mode = HitMode::BOUNDARY);
