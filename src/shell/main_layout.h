// The main window's arithmetic: where its children go, what the input line hands to "send", and
// which control Tab moves to. Independent of the window system so that it can be tested anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct LayoutRect {
  std::int32_t x, y, width, height;
};

struct MainLayout {
  LayoutRect selector;  // its height is that of the open list: the whole client area
  LayoutRect view;      // the current message view
  LayoutRect input;
  LayoutRect send;
};

constexpr std::int32_t BOTTOM_ROW_HEIGHT = 20;
constexpr std::int32_t SEND_BUTTON_WIDTH = 50;

// The children as first created in a client area of width x height (the selector's closed height
// is not known yet: the server view starts at the top).
MainLayout initial_layout(std::int32_t width, std::int32_t height);
// Every later layout, with the selector's closed height.
MainLayout main_layout(std::int32_t width, std::int32_t height, std::int32_t selector_height);

// "send" gets at most this many bytes of the input line.
constexpr std::size_t SEND_LINE_LIMIT = 254;
// The input line's text cut to SEND_LINE_LIMIT bytes, never keeping the first half of a two-byte
// character.
std::string send_line_text(const std::string& cp932);

// Focus cycling over the main window's children in z-order: `visible[i]` says whether child i can
// take the focus, `focused` is the focused child's index (-1 for none). The next visible child
// after it, or child 0 (the selector) when none is left.
std::size_t next_focus_index(const bool* visible, std::size_t count, std::ptrdiff_t focused);
