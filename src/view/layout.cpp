// Wrapping: the visual-line index for the layout width.
#include "view/layout.h"

#include <algorithm>
#include <cstring>

#include "platform/memory.h"
#include "view/view_geometry.h"

namespace {

// Both line arrays grow together: by LINE_GROWTH entries at least, by half while they are large,
// so that a store of hundreds of thousands of lines is not copied every hundred lines.
bool grow_lines(ViewState* state) {
  std::uint64_t wanted = std::uint64_t{state->line_capacity} +
                         std::max<std::uint32_t>(LINE_GROWTH, state->line_capacity / 2);
  if (wanted > 0x3FFFFFFFu) return false;
  auto entries = static_cast<std::size_t>(wanted);
  auto* starts = static_cast<std::uint32_t*>(alloc_block(entries * sizeof(std::uint32_t)));
  auto* lengths = static_cast<std::int32_t*>(alloc_block(entries * sizeof(std::int32_t)));
  if (starts == nullptr || lengths == nullptr) {
    release(&starts);
    release(&lengths);
    return false;
  }
  std::memcpy(starts, state->line_starts, state->line_count * sizeof(std::uint32_t));
  std::memcpy(lengths, state->line_lengths, state->line_count * sizeof(std::int32_t));
  release(&state->line_starts);
  release(&state->line_lengths);
  state->line_starts = starts;
  state->line_lengths = lengths;
  state->line_capacity = static_cast<std::uint32_t>(wanted);
  return true;
}

struct LayoutWalk {
  ViewState* state;
  std::uint32_t bytes;  // n: bytes in the current visual line
  bool stopped;         // the arrays could not grow
};

// Ends the current visual line and starts the next one at `next_start`.
void end_line(LayoutWalk* walk, std::uint32_t next_start, bool next_bold) {
  ViewState* state = walk->state;
  state->line_lengths[state->line_count - 1] = static_cast<std::int32_t>(walk->bytes);
  state->line_starts[state->line_count] = next_start;
  state->line_lengths[state->line_count] = 0;
  ++state->line_count;
  state->resume_start = next_start;
  state->resume_bold = next_bold;
  walk->bytes = 0;
  if (state->line_count == state->line_capacity && !grow_lines(state)) walk->stopped = true;
}

}  // namespace

int measure_run(ViewState* state, const char* bytes, std::uint32_t count, bool bold) {
  if ((state->fixed_pitch && !bold) || state->measure == nullptr)
    return state->avg_char_width * static_cast<int>(count);
  return state->measure->run_width(bytes, count, bold);
}

void layout_from(ViewState* state, std::uint32_t k) {
  if (state->text == nullptr) return;
  if (k >= state->line_count) k = state->line_count - 1;
  state->line_count = k + 1;
  const char* text = state->text;
  const std::uint8_t* attrs = state->attrs;
  const int budget = state->layout_width - RIGHT_MARGIN;
  const int tab_pixels = state->avg_char_width;
  std::uint32_t position = state->line_starts[k];
  bool bold = bold_at_line_start(state, k);
  state->resume_start = position;
  state->resume_bold = bold;
  int x = LEFT_MARGIN;
  int column = 0;
  LayoutWalk walk{state, 0, false};
  while (text[position] != '\0' && !walk.stopped) {
    auto byte = static_cast<unsigned char>(text[position]);
    bool flips = (attrs[position] & ATTR_BOLD) != 0;
    if (flips) bold = !bold;
    if (byte == '\r') {
      // CR LF takes no room; a lone CR stays in the line with no width.
      if (text[position + 1] != '\n') ++walk.bytes;
      ++position;
      continue;
    }
    if (byte == '\n') {
      ++position;
      end_line(&walk, position, false);
      x = LEFT_MARGIN;
      column = 0;
      bold = false;
      continue;
    }
    if (byte == '\t') {
      int d = TAB_WIDTH - column % TAB_WIDTH;
      x += d * tab_pixels;
      column += d;
      ++position;
      ++walk.bytes;
      if (x > budget) {
        end_line(&walk, position, bold);
        x = LEFT_MARGIN;
        column = 0;
      }
      continue;
    }
    std::uint32_t size = view_char_length(text, position);
    int width = measure_run(state, text + position, size, bold);
    // A character wider than the whole line still takes a line of its own, never an empty one
    // before it.
    if (x + width < budget || walk.bytes == 0) {
      x += width;
    } else {
      end_line(&walk, position, flips ? !bold : bold);
      x = LEFT_MARGIN + width;
      column = 0;
    }
    column += static_cast<int>(size);
    walk.bytes += size;
    position += size;
  }
  state->line_lengths[state->line_count - 1] = static_cast<std::int32_t>(walk.bytes);
  update_scroll_range(state);
}

void layout_all(ViewState* state) {
  if (state->text == nullptr) return;
  if (state->line_capacity != LINE_INITIAL_CAPACITY) {
    auto* starts =
        static_cast<std::uint32_t*>(alloc_block(LINE_INITIAL_CAPACITY * sizeof(std::uint32_t)));
    auto* lengths =
        static_cast<std::int32_t*>(alloc_block(LINE_INITIAL_CAPACITY * sizeof(std::int32_t)));
    if (starts != nullptr && lengths != nullptr) {
      release(&state->line_starts);
      release(&state->line_lengths);
      state->line_starts = starts;
      state->line_lengths = lengths;
      state->line_capacity = LINE_INITIAL_CAPACITY;
    } else {
      release(&starts);
      release(&lengths);
    }
  }
  state->line_count = 1;
  state->line_starts[0] = 0;
  state->line_lengths[0] = 0;
  state->resume_start = 0;
  state->resume_bold = false;
  layout_from(state, 0);
}

void update_scroll_range(ViewState* state) {
  std::uint32_t rows = view_rows(state);
  state->max_first_line = rows < state->line_count ? state->line_count - rows : 0;
}

void view_set_metrics(ViewState* state, int line_height, int avg_char_width, bool fixed_pitch) {
  state->line_height = std::max(line_height, 1);
  state->avg_char_width = std::max(avg_char_width, 1);
  state->fixed_pitch = fixed_pitch;
  state->layout_width = 0;
}
