#include "view/view_state.h"

#include <cstring>

#include "platform/memory.h"

namespace {

void release_buffers(ViewState* state) {
  release(&state->text);
  release(&state->attrs);
  release(&state->colors);
  release(&state->line_starts);
  release(&state->line_lengths);
}

}  // namespace

ViewState* view_make(TextMeasure* measure) {
  auto* state = alloc_record<ViewState>();
  if (state == nullptr) return nullptr;
  state->measure = measure;
  state->line_height = 16;
  state->avg_char_width = 8;
  state->fixed_pitch = true;
  state->store_limit = STORE_LIMIT;
  if (!view_clear(state)) {
    view_free(&state);
    return nullptr;
  }
  return state;
}

void view_free(ViewState** state) {
  if (*state == nullptr) return;
  release_buffers(*state);
  release(state);
}

bool view_clear(ViewState* state) {
  // The new buffers first: when one cannot be had, the view keeps what it shows.
  ViewState fresh{};
  fresh.text = static_cast<char*>(alloc_zeroed(STORE_INITIAL_CAPACITY));
  fresh.attrs = static_cast<std::uint8_t*>(alloc_zeroed(STORE_INITIAL_CAPACITY));
  fresh.colors = static_cast<std::uint8_t*>(alloc_zeroed(STORE_INITIAL_CAPACITY));
  fresh.line_starts =
      static_cast<std::uint32_t*>(alloc_zeroed(LINE_INITIAL_CAPACITY * sizeof(std::uint32_t)));
  fresh.line_lengths =
      static_cast<std::int32_t*>(alloc_zeroed(LINE_INITIAL_CAPACITY * sizeof(std::int32_t)));
  if (fresh.text == nullptr || fresh.attrs == nullptr || fresh.colors == nullptr ||
      fresh.line_starts == nullptr || fresh.line_lengths == nullptr) {
    release_buffers(&fresh);
    return false;
  }
  release_buffers(state);
  state->text = fresh.text;
  state->attrs = fresh.attrs;
  state->colors = fresh.colors;
  state->line_starts = fresh.line_starts;
  state->line_lengths = fresh.line_lengths;
  state->capacity = STORE_INITIAL_CAPACITY;
  state->line_capacity = LINE_INITIAL_CAPACITY;
  state->length = 0;
  state->line_count = 1;
  state->first_visible_line = 0;
  state->max_first_line = 0;
  state->caret = state->anchor = 0;
  state->remembered_x = 0;
  state->resume_start = 0;
  state->resume_bold = false;
  return true;
}

std::uint32_t view_rows(const ViewState* state) {
  if (state->client_height <= 0 || state->line_height <= 0) return 0;
  return static_cast<std::uint32_t>(state->client_height / state->line_height);
}
