#include "view/view_paint.h"

#include <algorithm>

#include "view/layout.h"
#include "view/view_geometry.h"
#include "view/view_input.h"

namespace {

PaintState plain_state(const PaintColors& colors) {
  PaintState paint{};
  paint.foreground = colors.text;
  paint.background = colors.back;
  return paint;
}

// The bits of one byte in their order: BOLD, UNDERLINE, RESET, ITALIC, REVERSE, FG, BG. Returns
// true when the font changes.
bool apply_attrs(PaintState* paint, const PaintColors& colors, std::uint8_t bits,
                 std::uint8_t color) {
  bool font = false;
  if ((bits & ATTR_BOLD) != 0) {
    paint->bold = !paint->bold;
    font = true;
  }
  if ((bits & ATTR_UNDERLINE) != 0) {
    paint->underline = !paint->underline;
    font = true;
  }
  if ((bits & ATTR_RESET) != 0) {
    paint->foreground = colors.text;
    paint->background = colors.back;
  }
  if ((bits & ATTR_ITALIC) != 0) {
    paint->italic = !paint->italic;
    font = true;
  }
  if ((bits & ATTR_REVERSE) != 0) {
    paint->reverse = !paint->reverse;
    if (paint->reverse) {
      paint->saved_foreground = paint->foreground;
      paint->saved_background = paint->background;
      paint->foreground = colors.back;
      paint->background = colors.text;
    } else {
      paint->foreground = paint->saved_foreground;
      paint->background = paint->saved_background;
    }
  }
  if ((bits & ATTR_FG) != 0) paint->foreground = VIEW_PALETTE[color & 0x0F];
  if ((bits & ATTR_BG) != 0) paint->background = VIEW_PALETTE[color >> 4];
  return font;
}

struct LinePainter {
  ViewState* state;
  const PaintColors& colors;
  PaintSink* sink;
  PaintState paint;
  std::uint32_t selection_start;
  std::uint32_t selection_end;
  int top;
  int x;
  int column;
  std::uint32_t run_start;
  std::uint32_t run_end;

  void flush() {
    if (run_end > run_start) {
      std::uint32_t count = run_end - run_start;
      const char* bytes = state->text + run_start;
      int width = measure_run(state, bytes, count, paint.bold);
      sink->draw_run(x, top, width, top + LINE_SPACING / 2, bytes, count);
      x += width;
      column += static_cast<int>(count);
    }
    run_start = run_end;
  }

  void show_colors() {
    if (paint.highlight)
      sink->set_colors(colors.highlight_text, colors.highlight_back);
    else
      sink->set_colors(paint.foreground, paint.background);
  }

  void paint_line(std::uint32_t k) {
    std::uint32_t position = state->line_starts[k];
    std::uint32_t end = line_end(state, k);
    top = static_cast<int>(line_y(state, k));
    x = LEFT_MARGIN;
    column = 0;
    run_start = run_end = position;
    while (position < end) {
      std::uint8_t bits = state->attrs[position];
      if (bits != 0) {
        flush();
        if (apply_attrs(&paint, colors, bits, state->colors[position]))
          sink->select_font(paint.bold, paint.italic, paint.underline);
        if (!paint.highlight) show_colors();
      }
      bool selected = position >= selection_start && position < selection_end;
      if (selected != paint.highlight) {
        flush();
        paint.highlight = selected;
        show_colors();
      }
      char byte = state->text[position];
      if (byte == '\t' || byte == '\r') {
        flush();
        if (byte == '\t') {
          int d = TAB_WIDTH - column % TAB_WIDTH;
          int width = d * state->avg_char_width;
          sink->fill(x, top, width);
          x += width;
          column += d;
        }
        run_start = run_end = position + 1;
        ++position;
        continue;
      }
      position += view_char_length(state->text, position);
      run_end = position;
      if (paint.bold) flush();  // bold text is measured one character at a time
    }
    flush();
    if (line_ends_hard(state, k)) {
      paint = plain_state(colors);
      sink->select_font(false, false, false);
      show_colors();
    }
  }
};

}  // namespace

PaintState paint_state_at(const ViewState* state, const PaintColors& colors, std::uint32_t k) {
  PaintState paint = plain_state(colors);
  std::uint32_t start = state->line_starts[k];
  for (std::uint32_t i = hard_line_start(state, start); i < start; ++i)
    if (state->attrs[i] != 0) apply_attrs(&paint, colors, state->attrs[i], state->colors[i]);
  return paint;
}

void paint_view(ViewState* state, const PaintColors& colors, int top, int bottom, PaintSink* sink) {
  std::int64_t first = floor_div(top, state->line_height) + state->first_visible_line;
  first = std::clamp<std::int64_t>(first, 0, state->line_count - 1);
  std::int64_t stop = floor_div(bottom, state->line_height) + state->first_visible_line + 1;
  auto k = static_cast<std::uint32_t>(first);
  LinePainter painter{state,
                      colors,
                      sink,
                      paint_state_at(state, colors, k),
                      selection_start(state),
                      selection_end(state),
                      0,
                      0,
                      0,
                      0,
                      0};
  sink->select_font(painter.paint.bold, painter.paint.italic, painter.paint.underline);
  painter.show_colors();
  for (; k < state->line_count && k < stop; ++k)
    painter.paint_line(k);
}
