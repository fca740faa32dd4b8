// A view state over fake font metrics: a fixed-pitch font of 8-pixel characters and 10-pixel lines
// (or a proportional one), so that every width in the tests is known.
#pragma once

#include <cstdint>
#include <string>

#include "view/view_input.h"
#include "view/view_state.h"

// Proportional fake: a byte is 4 + (byte % 5) pixels wide, one more in bold.
class FakeMeasure final : public TextMeasure {
 public:
  int run_width(const char* bytes, std::uint32_t count, bool bold) override {
    int width = 0;
    for (std::uint32_t i = 0; i < count; ++i)
      width += 4 + static_cast<unsigned char>(bytes[i]) % 5 + (bold ? 1 : 0);
    return width;
  }
};

struct TestView {
  FakeMeasure measure;
  ViewState* state = nullptr;

  // A view of `width` x `height` pixels; fixed pitch unless `proportional`.
  explicit TestView(int width = 200, int height = 100, bool proportional = false) {
    state = view_make(&measure);
    state->line_height = 10;
    state->avg_char_width = 8;
    state->fixed_pitch = !proportional;
    view_resize(state, width, height);
  }
  ~TestView() { view_free(&state); }
  TestView(const TestView&) = delete;
  TestView& operator=(const TestView&) = delete;

  ViewChange append(const std::string& text) { return view_append(state, text.c_str()); }
  std::string text() const { return std::string(state->text, state->length); }
  std::string line(std::uint32_t k) const {
    return std::string(state->text + state->line_starts[k],
                       static_cast<std::size_t>(state->line_lengths[k]));
  }
  std::uint8_t attrs(std::uint32_t i) const { return state->attrs[i]; }
  std::uint8_t colors(std::uint32_t i) const { return state->colors[i]; }
  ViewChange key(ViewKey key, bool shift = false, bool ctrl = false) {
    return view_key(state, key, shift, ctrl);
  }
  void select(std::uint32_t anchor, std::uint32_t caret) {
    state->anchor = anchor;
    state->caret = caret;
  }
};
