// Drives a message view with arbitrary appends between random widths, scroll positions, keys,
// mouse selections, double-clicks and paints, over a small store limit so that trimming runs too,
// and checks the model's invariants after every step and a full relayout at the end.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "view/layout.h"
#include "view/view_geometry.h"
#include "view/view_input.h"
#include "view/view_paint.h"
#include "view/view_state.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

class FuzzMeasure final : public TextMeasure {
 public:
  int run_width(const char* bytes, std::uint32_t count, bool bold) override {
    int width = 0;
    for (std::uint32_t i = 0; i < count; ++i)
      width += 3 + static_cast<unsigned char>(bytes[i]) % 7 + (bold ? 1 : 0);
    return width;
  }
};

// Checks that every run lies inside the text and every cell lies on its row.
class CheckingSink final : public PaintSink {
 public:
  explicit CheckingSink(const ViewState* state) : state_(state) {}
  void select_font(bool, bool, bool) override {}
  void set_colors(std::uint32_t, std::uint32_t) override {}
  void draw_run(int, int top, int width, int text_y, const char* bytes,
                std::uint32_t count) override {
    check(bytes >= state_->text && bytes + count <= state_->text + state_->length);
    check(width >= 0 && text_y == top + LINE_SPACING / 2);
  }
  void fill(int, int, int width) override { check(width > 0); }

 private:
  const ViewState* state_;
};

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position;
  std::uint8_t byte() { return position < size ? data[position++] : 0; }
  bool done() const { return position >= size; }
};

void check_invariants(const ViewState* state) {
  const char* text = state->text;
  check(state->length < state->capacity && text[state->length] == '\0');
  check(std::memchr(text, 0, state->length) == nullptr);
  for (std::uint32_t i = state->length + 1; i < state->capacity; ++i)
    check(state->attrs[i] == 0 && state->colors[i] == 0);
  check(state->line_count >= 1 && state->line_count <= state->line_capacity);
  check(state->line_starts[0] == 0);
  // Character boundaries: a line never starts inside a two-byte character.
  std::vector<bool> boundary(state->length + 1, false);
  for (std::uint32_t p = 0; p < state->length; p += view_char_length(text, p))
    boundary[p] = true;
  boundary[state->length] = true;
  for (std::uint32_t k = 0; k < state->line_count; ++k) {
    std::uint32_t start = state->line_starts[k];
    check(state->line_lengths[k] >= 0);
    std::uint32_t end = line_end(state, k);
    check(end <= state->length && boundary[start] && boundary[end]);
    if (k + 1 < state->line_count) {
      std::uint32_t next = state->line_starts[k + 1];
      check(next >= end);
      std::string between(text + end, next - end);
      check(between.empty() || between == "\n" || between == "\r\n" || between == "\t");
    } else {
      check(end == state->length);
    }
  }
  check(state->caret <= state->length && state->anchor <= state->length);
  std::uint32_t rows = view_rows(state);
  check(state->max_first_line == (rows < state->line_count ? state->line_count - rows : 0));
  check(state->first_visible_line <= state->max_first_line);
}

std::string chunk(Input* input) {
  std::size_t length = input->byte() % 80;
  std::string text;
  for (std::size_t i = 0; i < length && !input->done(); ++i) {
    std::uint8_t byte = input->byte();
    // A few bytes stand for the interesting ones, so short inputs reach them.
    static const char special[] = {'\x02', '\x03', '\x14', '\x16', '\x1F', '\xFF',
                                   '\r',   '\n',   '\t',   '\x82', '\x95', ','};
    if (byte >= 0xF0 && byte < 0xF0 + sizeof special) byte = special[byte - 0xF0];
    if (byte == 0) break;
    text.push_back(static_cast<char>(byte));
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzMeasure measure;
  ViewState* state = view_make(&measure);
  if (state == nullptr) return 0;
  Input input{data, size, 0};
  state->store_limit = 64 + input.byte() * 16u;
  state->line_height = 1 + input.byte() % 20;
  state->avg_char_width = 1 + input.byte() % 12;
  state->fixed_pitch = input.byte() % 2 == 0;
  view_resize(state, input.byte() * 2, input.byte() * 2);
  const PaintColors colors{1, 2, 3, 4};
  while (!input.done()) {
    switch (input.byte() % 8) {
      case 0:
      case 1:
        check(view_append(state, chunk(&input).c_str()).ok);
        break;
      case 2: {
        int width = input.byte() * 3 - 20;
        view_resize(state, width, input.byte() * 2);
        break;
      }
      case 3:
        view_scroll(state, static_cast<ScrollCode>(input.byte() % 8),
                    static_cast<std::int8_t>(input.byte()) * 7);
        break;
      case 4: {
        std::uint8_t key = input.byte();
        view_key(state, static_cast<ViewKey>(key % 11), (key & 0x40) != 0, (key & 0x80) != 0);
        break;
      }
      case 5: {
        std::uint8_t event = input.byte();
        int x = static_cast<std::int8_t>(input.byte()) * 4;
        int y = static_cast<std::int8_t>(input.byte()) * 3;
        view_mouse(state, static_cast<MouseEvent>(event % 3), x, y, (event & 0x40) != 0,
                   (event & 0x80) != 0);
        break;
      }
      case 6: {
        int x = static_cast<std::int8_t>(input.byte()) * 4;
        int y = static_cast<std::int8_t>(input.byte()) * 3;
        ViewChange change = view_double_click(state, x, y);
        if (change.open_link)
          check(change.link_length > 0 && change.link_start + change.link_length <= state->length);
        break;
      }
      default: {
        CheckingSink sink(state);
        int top = static_cast<std::int8_t>(input.byte()) * 2;
        paint_view(state, colors, top, top + input.byte() * 2, &sink);
        break;
      }
    }
    check_invariants(state);
  }
  // Appending piece by piece wraps as laying out everything at once does.
  std::vector<std::uint32_t> starts(state->line_starts, state->line_starts + state->line_count);
  layout_all(state);
  check(std::vector<std::uint32_t>(state->line_starts, state->line_starts + state->line_count) ==
        starts);
  view_free(&state);
  return 0;
}
