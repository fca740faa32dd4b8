#include "view/view_input.h"

#include <algorithm>

#include "view/layout.h"
#include "view/text_store.h"
#include "view/view_geometry.h"

namespace {

ViewChange no_change() {
  ViewChange change{};
  change.ok = true;
  change.repaint_from_row = -1;
  return change;
}

void add_lines(ViewChange* change, std::uint32_t a, std::uint32_t b) {
  if (change->line_ranges == 2) return;
  change->lines[change->line_ranges++] = LineRange{std::min(a, b), std::max(a, b)};
}

// The lines between the old and new anchor (when it moved) and between the old and new caret.
void repaint_moves(const ViewState* state, ViewChange* change, std::uint32_t old_caret,
                   std::uint32_t old_anchor) {
  if (state->anchor != old_anchor)
    add_lines(change, line_of_offset(state, old_anchor), line_of_offset(state, state->anchor));
  add_lines(change, line_of_offset(state, old_caret), line_of_offset(state, state->caret));
}

void set_first(ViewState* state, ViewChange* change, std::uint32_t first) {
  change->scroll_rows += std::int64_t{state->first_visible_line} - first;
  state->first_visible_line = first;
}

void make_caret_visible(ViewState* state, ViewChange* change) {
  std::uint32_t line = line_of_offset(state, state->caret);
  std::uint32_t rows = view_rows(state);
  if (line < state->first_visible_line) {
    set_first(state, change, line);
  } else if (std::uint64_t{line} >= std::uint64_t{state->first_visible_line} + rows &&
             line < state->line_count) {
    std::uint32_t wanted = rows == 0 ? line : line - rows + 1;
    set_first(state, change, std::min(wanted, state->max_first_line));
  }
}

int clamp_int(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, -0x3FFFFFFF, 0x3FFFFFFF));
}

bool is_line_break(char byte) {
  return byte == '\r' || byte == '\n';
}

// The start of the last character that begins before `offset`, walking from `from`.
std::uint32_t previous_boundary(const ViewState* state, std::uint32_t from, std::uint32_t offset) {
  std::uint32_t last = from;
  for (std::uint32_t p = from; p < offset; p += view_char_length(state->text, p))
    last = p;
  return last;
}

void move_left(ViewState* state) {
  if (state->caret == 0) return;
  std::uint32_t k = line_of_offset(state, state->caret);
  std::uint32_t start = state->line_starts[k];
  if (state->caret > start) {
    state->caret = previous_boundary(state, start, state->caret);
  } else if (k > 0) {
    std::uint32_t above = k - 1;
    state->caret =
        line_ends_hard(state, above)
            ? line_end(state, above)
            : previous_boundary(state, state->line_starts[above], line_end(state, above));
  }
}

// Past one character; the end of a visual line that ends with a line break is a stop of its own,
// from which the caret goes over the break to the next line.
void move_right(ViewState* state) {
  if (state->caret >= state->length) return;
  std::uint32_t k = line_of_offset(state, state->caret);
  std::uint32_t end = line_end(state, k);
  bool has_next = k + 1 < state->line_count;
  if (state->caret >= end && line_ends_hard(state, k)) {
    state->caret = state->line_starts[k + 1];
    return;
  }
  std::uint32_t next = state->caret + view_char_length(state->text, state->caret);
  if (next >= end && has_next && !line_ends_hard(state, k))
    state->caret = state->line_starts[k + 1];
  else
    state->caret = std::min(next, state->length);
}

// Forward to the line break (a lone CR is text) or the end.
std::uint32_t hard_line_end(const ViewState* state, std::uint32_t offset) {
  const char* text = state->text;
  while (text[offset] != '\0' && text[offset] != '\n' &&
         !(text[offset] == '\r' && text[offset + 1] == '\n'))
    ++offset;
  return offset;
}

bool is_word_byte(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
         (byte >= '0' && byte <= '9') || byte == '_';
}

// Link text: bytes marked LINK, and the second byte of a marked two-byte character; line breaks
// end it.
bool in_link(const ViewState* state, std::uint32_t i) {
  if (i >= state->length || is_line_break(state->text[i])) return false;
  if ((state->attrs[i] & ATTR_LINK) != 0) return true;
  return i > 0 && (state->attrs[i - 1] & ATTR_LINK) != 0 && view_is_pair(state->text, i - 1);
}

}  // namespace

ViewChange view_append(ViewState* state, const char* text) {
  ViewChange change = no_change();
  if (text == nullptr) return change;
  bool caret_at_end = state->caret == state->length;
  bool following = state->max_first_line == 0 || state->first_visible_line == state->max_first_line;
  std::uint32_t old_count = state->line_count;
  std::uint32_t old_max = state->max_first_line;
  StoreAppend stored = store_append(state, text);
  if (state->layout_width < 0) {
    state->layout_width = state->client_width;
    layout_all(state);
  } else {
    layout_from(state, state->line_count - 1);
  }
  if (!stored.ok) {
    change.ok = false;
    change.repaint_all = stored.dropped_bytes != 0;
    return change;
  }
  if (caret_at_end && state->anchor == state->caret) {
    state->caret = state->anchor = state->length;
    state->remembered_x = 0;
  }
  if (following) {
    std::uint32_t max = state->max_first_line;
    if (stored.dropped_bytes == 0 && max > 0) {
      std::int64_t rows = view_rows(state);
      change.scroll_rows = std::int64_t{old_max} - max;
      change.repaint_from_row =
          std::max<std::int64_t>(0, rows + std::int64_t{old_count} - state->line_count - 1);
    } else {
      change.repaint_all = true;
    }
    state->first_visible_line = max;
    change.update_now = true;
  } else if (stored.dropped_bytes != 0) {
    change.repaint_all = true;
  }
  return change;
}

ViewChange view_set_text(ViewState* state, const char* text) {
  if (!view_clear(state)) {
    ViewChange change = no_change();
    change.ok = false;
    change.repaint_all = true;
    return change;
  }
  ViewChange change = view_append(state, text == nullptr ? "" : text);
  change.scroll_rows = 0;
  change.repaint_from_row = -1;
  change.repaint_all = true;
  return change;
}

ViewChange view_resize(ViewState* state, int width, int height) {
  ViewChange change = no_change();
  bool following = state->max_first_line == 0 || state->first_visible_line == state->max_first_line;
  state->client_width = width;
  state->client_height = height;
  if (width == state->layout_width) {
    update_scroll_range(state);
  } else {
    state->layout_width = width;
    layout_all(state);
  }
  if (following || state->max_first_line < state->first_visible_line)
    state->first_visible_line = state->max_first_line;
  change.repaint_all = true;
  return change;
}

ViewChange view_scroll(ViewState* state, ScrollCode code, std::int64_t track) {
  ViewChange change = no_change();
  std::int64_t first = state->first_visible_line;
  std::int64_t max = state->max_first_line;
  std::int64_t rows = view_rows(state);
  std::int64_t wanted = first;
  switch (code) {
    case ScrollCode::LINE_UP:
      wanted = std::max<std::int64_t>(first - 1, 0);
      break;
    case ScrollCode::LINE_DOWN:
      wanted = std::min(first + 1, max);
      break;
    case ScrollCode::PAGE_UP:
      wanted = std::max<std::int64_t>(first - rows, 0);
      break;
    case ScrollCode::PAGE_DOWN:
      wanted = std::min(first + rows, max);
      break;
    case ScrollCode::THUMB:
      wanted = std::clamp<std::int64_t>(track, 0, max);
      break;
    case ScrollCode::TOP:
      wanted = 0;
      break;
    case ScrollCode::BOTTOM:
      wanted = max;
      break;
    case ScrollCode::OTHER:
      break;
  }
  set_first(state, &change, static_cast<std::uint32_t>(wanted));
  change.update_now = true;
  return change;
}

ViewChange view_wheel(ViewState* state, int delta) {
  ViewChange change = no_change();
  ScrollCode code = delta > 0 ? ScrollCode::LINE_UP : ScrollCode::LINE_DOWN;
  for (int i = 0; i < 3; ++i)
    change.scroll_rows += view_scroll(state, code).scroll_rows;
  change.update_now = true;
  return change;
}

ViewChange view_key(ViewState* state, ViewKey key, bool shift, bool ctrl) {
  ViewChange change = no_change();
  std::uint32_t old_caret = state->caret;
  std::uint32_t old_anchor = state->anchor;
  bool scrolled_by_key = false;  // the key placed the picture itself
  switch (key) {
    case ViewKey::PAGE_UP:
    case ViewKey::PAGE_DOWN: {
      bool up = key == ViewKey::PAGE_UP;
      std::int64_t y = line_y(state, line_of_offset(state, state->caret));
      y += up ? -std::int64_t{state->client_height} : std::int64_t{state->client_height};
      state->caret = hit_test(state, caret_x(state), clamp_int(y));
      change.scroll_rows =
          view_scroll(state, up ? ScrollCode::PAGE_UP : ScrollCode::PAGE_DOWN).scroll_rows;
      change.repaint_all = true;
      scrolled_by_key = true;
      break;
    }
    case ViewKey::HOME:
      if (ctrl) {
        state->caret = 0;
        set_first(state, &change, 0);
        change.repaint_all = true;
        scrolled_by_key = true;
      } else {
        state->caret = hard_line_start(state, state->caret);
      }
      break;
    case ViewKey::END:
      if (ctrl) {
        state->caret = state->length;
        set_first(state, &change, state->max_first_line);
        change.repaint_all = true;
        scrolled_by_key = true;
      } else {
        state->caret = hard_line_end(state, state->caret);
      }
      break;
    case ViewKey::LEFT:
    case ViewKey::RIGHT: {
      state->remembered_x = 0;
      bool left = key == ViewKey::LEFT;
      if (state->caret != state->anchor && !shift)
        state->caret = left ? selection_start(state) : selection_end(state);
      else if (left)
        move_left(state);
      else
        move_right(state);
      break;
    }
    case ViewKey::UP:
    case ViewKey::DOWN: {
      std::uint32_t k = line_of_offset(state, state->caret);
      bool up = key == ViewKey::UP;
      if (up ? k == 0 : k + 1 >= state->line_count) return change;
      if (state->remembered_x == 0) state->remembered_x = caret_x(state);
      std::int64_t y = line_y(state, k) + (up ? -state->line_height : state->line_height);
      state->caret = hit_test(state, state->remembered_x, clamp_int(y));
      break;
    }
    case ViewKey::A:
      if (!ctrl) return change;
      state->anchor = 0;
      state->caret = state->length;
      set_first(state, &change, state->max_first_line);
      change.repaint_all = true;
      return change;
    case ViewKey::C:
      change.copy = ctrl;
      return change;
    case ViewKey::OTHER:
      return change;
  }
  if (!shift) state->anchor = state->caret;
  if (!scrolled_by_key) {
    make_caret_visible(state, &change);
    repaint_moves(state, &change, old_caret, old_anchor);
    change.update_now = change.scroll_rows != 0;
  }
  return change;
}

ViewChange view_mouse(ViewState* state, MouseEvent event, int x, int y, bool shift,
                      bool left_down) {
  ViewChange change = no_change();
  state->remembered_x = 0;
  std::uint32_t old_caret = state->caret;
  std::uint32_t old_anchor = state->anchor;
  switch (event) {
    case MouseEvent::LEFT_DOWN:
      change.capture = 1;
      state->dragging = true;
      break;
    case MouseEvent::LEFT_UP:
      if (!state->dragging) return change;
      change.capture = -1;
      state->dragging = false;
      break;
    case MouseEvent::MOVE:
      if (!left_down || !state->dragging) return change;
      break;
  }
  change.focus = true;
  state->caret = hit_test(state, x, y);
  std::int64_t row = row_at(state, y);
  std::int64_t first = state->first_visible_line;
  std::int64_t rows = view_rows(state);
  std::int64_t max = state->max_first_line;
  if (row < first) {
    set_first(state, &change, static_cast<std::uint32_t>(std::max<std::int64_t>(row, 0)));
  } else if (row >= first + rows && max > 0) {
    row = std::min<std::int64_t>(row, state->line_count - 1);
    set_first(state, &change, static_cast<std::uint32_t>(std::min(row - rows + 1, max)));
  }
  if (event == MouseEvent::LEFT_DOWN && !shift) state->anchor = state->caret;
  repaint_moves(state, &change, old_caret, old_anchor);
  change.update_now = change.scroll_rows != 0;
  return change;
}

ViewChange view_double_click(ViewState* state, int x, int y) {
  ViewChange change = no_change();
  state->remembered_x = 0;
  std::uint32_t old_caret = state->caret;
  std::uint32_t old_anchor = state->anchor;
  state->anchor = state->caret;
  // The character under the pointer, so that a click on the right half of a word's last letter
  // still means that word.
  std::uint32_t o = hit_test(state, x, y, HitMode::CELL);
  if (in_link(state, o)) {
    std::uint32_t start = o;
    while (start > 0 && in_link(state, start - 1))
      --start;
    std::uint32_t end = o;
    while (in_link(state, end))
      ++end;
    change.open_link = true;
    change.link_start = start;
    change.link_length = end - start;
  } else {
    const auto* text = reinterpret_cast<const unsigned char*>(state->text);
    std::uint32_t p = hard_line_start(state, o);
    while (text[p] != 0 && !is_line_break(static_cast<char>(text[p]))) {
      std::uint32_t start = p;
      if (view_is_pair(state->text, p)) {
        while (view_is_pair(state->text, p))
          p += 2;
      } else if (is_word_byte(text[p])) {
        while (is_word_byte(text[p]))
          ++p;
      } else {
        ++p;
      }
      if (p > o) {
        state->anchor = start;
        state->caret = p;
        break;
      }
    }
  }
  repaint_moves(state, &change, old_caret, old_anchor);
  return change;
}

bool view_link_at(ViewState* state, int x, int y) {
  return in_link(state, hit_test(state, x, y, HitMode::CELL));
}
