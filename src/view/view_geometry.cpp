#include "view/view_geometry.h"

#include <algorithm>

#include "view/layout.h"

std::uint32_t line_of_offset(const ViewState* state, std::uint32_t offset) {
  const std::uint32_t* starts = state->line_starts;
  const std::uint32_t* after = std::upper_bound(starts, starts + state->line_count, offset);
  return after == starts ? 0 : static_cast<std::uint32_t>(after - starts) - 1;
}

std::uint32_t hard_line_start(const ViewState* state, std::uint32_t offset) {
  while (offset > 0 && state->text[offset - 1] != '\n')
    --offset;
  return offset;
}

bool line_ends_hard(const ViewState* state, std::uint32_t k) {
  if (k + 1 >= state->line_count) return false;
  std::uint32_t next = state->line_starts[k + 1];
  return next > 0 && state->text[next - 1] == '\n';
}

bool bold_at_line_start(const ViewState* state, std::uint32_t k) {
  std::uint32_t start = state->line_starts[k];
  if (start == 0 || state->text[start - 1] == '\n') return false;
  if (start == state->resume_start) return state->resume_bold;
  bool bold = false;
  for (std::uint32_t i = hard_line_start(state, start); i < start; ++i)
    if ((state->attrs[i] & ATTR_BOLD) != 0) bold = !bold;
  return bold;
}

namespace {

// Walks the characters of visual line k with their pixel positions, as painting lays them out.
struct LineWalk {
  ViewState* state;
  std::uint32_t position;
  std::uint32_t end;
  bool bold;
  int x;
  int column;
};

LineWalk start_walk(ViewState* state, std::uint32_t k) {
  return LineWalk{
      state, state->line_starts[k], line_end(state, k), bold_at_line_start(state, k), LEFT_MARGIN,
      0};
}

// Applies the bold flips at the current position and gives the width of its character.
int current_width(LineWalk* walk, std::uint32_t* size) {
  ViewState* state = walk->state;
  if ((state->attrs[walk->position] & ATTR_BOLD) != 0) walk->bold = !walk->bold;
  char byte = state->text[walk->position];
  *size = 1;
  if (byte == '\r') return 0;
  if (byte == '\t') return (TAB_WIDTH - walk->column % TAB_WIDTH) * state->avg_char_width;
  *size = view_char_length(state->text, walk->position);
  return measure_run(state, state->text + walk->position, *size, walk->bold);
}

void advance(LineWalk* walk, int width, std::uint32_t size) {
  char byte = walk->state->text[walk->position];
  walk->x += width;
  if (byte == '\t')
    walk->column += TAB_WIDTH - walk->column % TAB_WIDTH;
  else if (byte != '\r')
    walk->column += static_cast<int>(size);
  walk->position += size;
}

}  // namespace

int offset_x(ViewState* state, std::uint32_t offset) {
  LineWalk walk = start_walk(state, line_of_offset(state, offset));
  std::uint32_t stop = std::min(offset, walk.end);
  while (walk.position < stop) {
    std::uint32_t size = 0;
    int width = current_width(&walk, &size);
    advance(&walk, width, size);
  }
  return walk.x;
}

std::int64_t row_at(const ViewState* state, int y) {
  return floor_div(y, state->line_height) + state->first_visible_line;
}

std::uint32_t hit_test(ViewState* state, int x, int y, HitMode mode) {
  std::int64_t row = row_at(state, y);
  if (row < 0) return 0;
  if (row >= state->line_count) return state->length;
  LineWalk walk = start_walk(state, static_cast<std::uint32_t>(row));
  while (walk.position < walk.end) {
    std::uint32_t size = 0;
    int width = current_width(&walk, &size);
    int edge = mode == HitMode::BOUNDARY ? walk.x + width / 2 : walk.x + width;
    if (edge > x) return walk.position;
    advance(&walk, width, size);
  }
  return walk.end;
}
