// Painting the view: the styles and colours in effect along the text, the selection highlight and
// tab stops, as a sequence of drawing calls to a PaintSink that the window implements with GDI.
#pragma once

#include <cstdint>

#include "view/view_state.h"

// Colours of the view, 0x00BBGGRR.
struct PaintColors {
  std::uint32_t text;  // default foreground
  std::uint32_t back;  // default background
  std::uint32_t highlight_text;
  std::uint32_t highlight_back;
};

// Carried from one visual line to the next, reset at each hard line break.
struct PaintState {
  bool highlight;
  bool bold;
  bool underline;
  bool reverse;
  bool italic;
  std::uint32_t foreground;
  std::uint32_t background;
  std::uint32_t saved_foreground;  // kept while reverse is on
  std::uint32_t saved_background;
};

class PaintSink {
 public:
  // The font for the runs that follow.
  virtual void select_font(bool bold, bool italic, bool underline) = 0;
  // The colours for the runs and fills that follow.
  virtual void set_colors(std::uint32_t foreground, std::uint32_t background) = 0;
  // Draws bytes opaquely, clipped to the cell from x to x + width and top to top + line height.
  virtual void draw_run(int x, int top, int width, int text_y, const char* bytes,
                        std::uint32_t count) = 0;
  // Fills a cell with the current background (tabs).
  virtual void fill(int x, int top, int width) = 0;

 protected:
  ~PaintSink() = default;
};

// Paints the visual lines that can meet the window rows from `top` to `bottom` (pixels), each at
// its row; lines earlier in their hard line are not drawn but their styles take effect.
void paint_view(ViewState* state, const PaintColors& colors, int top, int bottom, PaintSink* sink);

// The styles and colours in effect at the first byte of visual line k (what paint_view starts
// with there).
PaintState paint_state_at(const ViewState* state, const PaintColors& colors, std::uint32_t k);
