// The message view's model: the text store with per-byte formatting, the visual-line index, the
// caret and selection, and the scroll position. Everything here is portable; the window supplies
// the font through TextMeasure and the client size through view_resize.
#pragma once

#include <cstdint>

#include "base/cp932.h"

// Attribute bits of ViewState::attrs: the toggles and colour changes that take effect at a byte.
// Several bits at one byte take effect in the order BOLD, UNDERLINE, RESET, ITALIC, REVERSE, FG,
// BG.
constexpr std::uint8_t ATTR_FG = 0x01;         // foreground := palette[low nibble of colors]
constexpr std::uint8_t ATTR_BG = 0x02;         // background := palette[high nibble of colors]
constexpr std::uint8_t ATTR_RESET = 0x04;      // both colours := the view's defaults
constexpr std::uint8_t ATTR_BOLD = 0x08;       // bold on/off
constexpr std::uint8_t ATTR_UNDERLINE = 0x10;  // underline on/off
constexpr std::uint8_t ATTR_REVERSE = 0x20;    // reverse on/off
constexpr std::uint8_t ATTR_ITALIC = 0x40;     // italic on/off
constexpr std::uint8_t ATTR_LINK = 0x80;       // link text

// The fixed palette as 0x00BBGGRR (the layout of a Win32 COLORREF).
constexpr std::uint32_t view_rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return r | (g << 8) | (b << 16);
}
constexpr std::uint32_t VIEW_PALETTE[16] = {
    view_rgb(0xFF, 0xFF, 0xFF), view_rgb(0x00, 0x00, 0x00), view_rgb(0x00, 0x00, 0x80),
    view_rgb(0x00, 0x80, 0x00), view_rgb(0xFF, 0x00, 0x00), view_rgb(0x80, 0x00, 0x00),
    view_rgb(0x80, 0x00, 0x80), view_rgb(0xFF, 0x80, 0x00), view_rgb(0xFF, 0xFF, 0x00),
    view_rgb(0x00, 0xFF, 0x00), view_rgb(0x00, 0x80, 0x80), view_rgb(0x00, 0xFF, 0xFF),
    view_rgb(0x00, 0x00, 0xFF), view_rgb(0xFF, 0x00, 0xFF), view_rgb(0x80, 0x80, 0x80),
    view_rgb(0xC0, 0xC0, 0xC0)};
// Links are shown in this palette colour.
constexpr std::uint8_t LINK_COLOR = 12;

constexpr std::uint32_t STORE_INITIAL_CAPACITY = 4096;
constexpr std::uint32_t STORE_GROWTH = 4096;
constexpr std::uint32_t LINE_INITIAL_CAPACITY = 100;
constexpr std::uint32_t LINE_GROWTH = 100;
// A view keeps at most this much text (about 400 000 chat lines). Past it the oldest whole lines
// are dropped, a quarter of the limit at a time, so that appending stays cheap.
constexpr std::uint32_t STORE_LIMIT = 32u << 20;
constexpr std::uint32_t STORE_TRIM_SLACK = STORE_LIMIT / 4;

constexpr int TAB_WIDTH = 8;
constexpr int LEFT_MARGIN = 1;
constexpr int RIGHT_MARGIN = 1;
constexpr int LINE_SPACING = 2;

// The one thing the model asks of the font: the width in pixels of a run of CP932 bytes in the
// plain or the bold face. Line height, average width and pitch are plain fields of the state.
class TextMeasure {
 public:
  virtual int run_width(const char* bytes, std::uint32_t count, bool bold) = 0;

 protected:
  ~TextMeasure() = default;
};

struct ViewState {
  char* text;              // NUL-terminated stored text, without formatting codes
  std::uint8_t* attrs;     // attrs[i]: ATTR_* bits taking effect at text[i]
  std::uint8_t* colors;    // colors[i]: background << 4 | foreground for attrs[i]
  std::uint32_t capacity;  // bytes in each of the three buffers
  std::uint32_t length;    // bytes of text before its NUL
  std::uint32_t caret;     // moving end of the selection
  std::uint32_t anchor;    // fixed end of the selection
  int remembered_x;        // pixel column kept for Up and Down; 0 when none

  std::uint32_t* line_starts;  // first byte of each visual line
  std::int32_t* line_lengths;  // bytes of each visual line, without its CR LF
  std::uint32_t line_capacity;
  std::uint32_t line_count;  // at least 1
  int layout_width;          // client width the line index was built for

  std::uint32_t first_visible_line;
  std::uint32_t max_first_line;  // 0 when every line fits

  int line_height;  // font height plus LINE_SPACING
  int avg_char_width;
  bool fixed_pitch;
  TextMeasure* measure;

  int client_width;
  int client_height;
  bool dragging;
  std::uint32_t store_limit;  // STORE_LIMIT; smaller only in tests
  bool relayout_pending;      // trimming cut inside a hard line: lay everything out again

  // Bold in effect at the start of the last visual line, kept by the layout so that an append
  // resumes there without walking back through a long hard line.
  std::uint32_t resume_start;
  bool resume_bold;
};

// A new empty state (text "", one empty line), or null when memory runs out. The metrics start at
// a line height of 16 and an average width of 8, fixed pitch, until view_set_metrics.
ViewState* view_make(TextMeasure* measure);
void view_free(ViewState** state);

// Empties the store with fresh buffers. False (the state unusable until a later clear succeeds)
// when memory runs out.
bool view_clear(ViewState* state);

// The number of whole visual lines that fit the client height.
std::uint32_t view_rows(const ViewState* state);

// True for the first byte of a two-byte CP932 character followed by its second byte.
inline bool view_is_pair(const char* text, std::uint32_t offset) {
  return is_lead_byte(static_cast<unsigned char>(text[offset])) && text[offset + 1] != '\0';
}
inline std::uint32_t view_char_length(const char* text, std::uint32_t offset) {
  return view_is_pair(text, offset) ? 2 : 1;
}
