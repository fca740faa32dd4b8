// Appending text with formatting codes to the store, and trimming it at STORE_LIMIT.
//
// Codes in appended text: 0x02 bold, 0x03 colour ("fg[,bg]", one or two digits each, modulo 16;
// no digit resets), 0x14 italic, 0x16 reverse, 0x1F underline, 0xFF link marks (0xFF text 0xFF a
// styled link, 0xFF 0x03 text 0xFF a plain one, 0xFF 0xFF a literal 0xFF byte).
#pragma once

#include <cstdint>

#include "view/view_state.h"

struct StoreAppend {
  bool ok;                      // false: memory ran out, the store is as it was
  std::uint32_t dropped_bytes;  // oldest text dropped to stay within STORE_LIMIT
  std::uint32_t dropped_lines;  // visual lines dropped with it
};

// Stores the text's bytes and their attributes after the current text. Codes at the very end stay
// pending in attrs[length] for the next append. Does not lay out.
StoreAppend store_append(ViewState* state, const char* text);

// Drops at least `count` bytes from the front: up to the first hard line start at or after it, or
// when the text has none there, up to the first visual line start at or after it (a full relayout
// follows then), or everything. Caret, anchor and the first visible line move with the text.
// Returns the bytes dropped.
std::uint32_t store_drop_front(ViewState* state, std::uint32_t count, std::uint32_t* lines_dropped);
