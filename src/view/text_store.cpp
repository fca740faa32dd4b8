// The append walk over formatting codes, buffer growth and trimming at STORE_LIMIT.
#include "view/text_store.h"

#include <algorithm>
#include <cstring>

#include "platform/memory.h"

namespace {

bool is_digit(unsigned char byte) {
  return byte >= '0' && byte <= '9';
}

// Grows the three buffers so that `needed` bytes fit. Steps of at least STORE_GROWTH, and half the
// capacity while below the limit, so that a long run of small appends copies the store only a few
// times. The bytes after offset length of attrs and colors are zero; the ones at length are kept.
bool grow_store(ViewState* state, std::uint64_t needed) {
  std::uint64_t wanted = needed - 1 + STORE_GROWTH;
  std::uint64_t geometric = std::min<std::uint64_t>(
      state->capacity + state->capacity / 2, std::uint64_t{state->store_limit} + STORE_GROWTH);
  wanted = std::max(wanted, geometric);
  if (wanted > 0xFFFFFFF0u) return false;
  auto size = static_cast<std::size_t>(wanted);
  char* text = static_cast<char*>(alloc_block(size));
  auto* attrs = static_cast<std::uint8_t*>(alloc_zeroed(size));
  auto* colors = static_cast<std::uint8_t*>(alloc_zeroed(size));
  if (text == nullptr || attrs == nullptr || colors == nullptr) {
    release(&text);
    release(&attrs);
    release(&colors);
    return false;
  }
  std::memcpy(text, state->text, state->length + 1);
  std::memcpy(attrs, state->attrs, state->length + 1);
  std::memcpy(colors, state->colors, state->length + 1);
  release(&state->text);
  release(&state->attrs);
  release(&state->colors);
  state->text = text;
  state->attrs = attrs;
  state->colors = colors;
  state->capacity = static_cast<std::uint32_t>(wanted);
  return true;
}

// Drops the oldest text so that the store ends up a quarter below the limit.
void trim_to_limit(ViewState* state, std::uint64_t total, StoreAppend* result) {
  std::uint32_t limit = state->store_limit;
  if (total <= limit || state->length == 0) return;
  std::uint64_t excess = total - (limit - limit / 4);
  auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(excess, state->length));
  std::uint32_t lines = 0;
  result->dropped_bytes += store_drop_front(state, count, &lines);
  result->dropped_lines += lines;
}

// The state of one append walk; it starts afresh with every append.
struct AppendWalk {
  ViewState* state;
  std::uint32_t position;
  bool underline;
  bool reverse;
  bool in_link;
  bool styled_link;
  // A line break inside a styled link reset its look; it is shown again at the link's next byte.
  bool restyle_link;
  int color_in_effect;  // -1: none
};

// A styled link looks underlined and blue unless underline or reverse is already on.
void begin_link_look(AppendWalk* walk) {
  std::uint32_t at = walk->position;
  if (!walk->underline) walk->state->attrs[at] ^= ATTR_UNDERLINE;
  if (!walk->reverse) {
    walk->state->attrs[at] |= ATTR_FG;
    walk->state->colors[at] = LINK_COLOR;
  }
}

void end_link(AppendWalk* walk) {
  walk->in_link = false;
  if (!walk->styled_link || walk->restyle_link) return;
  std::uint32_t at = walk->position;
  if (!walk->underline) walk->state->attrs[at] ^= ATTR_UNDERLINE;
  if (!walk->reverse) {
    if (walk->color_in_effect < 0) {
      walk->state->attrs[at] |= ATTR_RESET;
    } else {
      walk->state->attrs[at] |= ATTR_FG;
      walk->state->colors[at] = static_cast<std::uint8_t>(walk->color_in_effect);
    }
  }
}

// Reads the colour digits after 0x03; returns the first byte after them.
const unsigned char* read_color(AppendWalk* walk, const unsigned char* p) {
  std::uint32_t at = walk->position;
  std::uint8_t* attrs = walk->state->attrs;
  std::uint8_t* colors = walk->state->colors;
  if (!is_digit(*p)) {
    attrs[at] |= ATTR_RESET;
    if (walk->in_link && walk->styled_link && !walk->reverse) {
      attrs[at] |= ATTR_FG;
      colors[at] = LINK_COLOR;
    }
    walk->color_in_effect = -1;
    return p;
  }
  int foreground = *p++ - '0';
  if (is_digit(*p)) foreground = foreground * 10 + (*p++ - '0');
  attrs[at] |= ATTR_FG;
  int background = 0;
  if (*p == ',') {
    ++p;
    if (is_digit(*p)) {
      background = *p++ - '0';
      if (is_digit(*p)) background = background * 10 + (*p++ - '0');
      attrs[at] |= ATTR_BG;
    }
  }
  colors[at] = static_cast<std::uint8_t>((background % 16) * 16 + foreground % 16);
  walk->color_in_effect = colors[at];
  return p;
}

void store_bytes(AppendWalk* walk, const unsigned char* p, std::uint32_t count) {
  ViewState* state = walk->state;
  unsigned char byte = p[0];
  if (walk->in_link) {
    if (byte == '\r' || byte == '\n') {
      if (walk->styled_link) walk->restyle_link = true;
    } else if (walk->styled_link && walk->restyle_link) {
      begin_link_look(walk);
      walk->restyle_link = false;
    }
    state->attrs[walk->position] |= ATTR_LINK;
  }
  if (byte == '\r' || byte == '\n') {
    walk->underline = false;
    walk->reverse = false;
    walk->color_in_effect = -1;
  }
  std::memcpy(state->text + walk->position, p, count);
  walk->position += count;
}

}  // namespace

StoreAppend store_append(ViewState* state, const char* text) {
  StoreAppend result{};
  if (state->text == nullptr) return result;
  std::size_t count = std::strlen(text);
  trim_to_limit(state, std::uint64_t{state->length} + count + 1, &result);
  std::uint64_t needed = std::uint64_t{state->length} + count + 1;
  if (needed > state->capacity && !grow_store(state, needed)) return result;

  AppendWalk walk{state, state->length, false, false, false, false, false, -1};
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    std::uint8_t* at = state->attrs + walk.position;
    switch (*p) {
      case 0x02:
        *at ^= ATTR_BOLD;
        ++p;
        break;
      case 0x14:
        *at ^= ATTR_ITALIC;
        ++p;
        break;
      case 0x16:
        *at ^= ATTR_REVERSE;
        walk.reverse = !walk.reverse;
        ++p;
        break;
      case 0x1F:
        // Inside a styled link the link's own underline stays; the flip shows after the link.
        walk.underline = !walk.underline;
        if (!(walk.in_link && walk.styled_link)) *at ^= ATTR_UNDERLINE;
        ++p;
        break;
      case 0x03:
        p = read_color(&walk, p + 1);
        break;
      case 0xFF:
        if (walk.in_link) {
          end_link(&walk);
          ++p;
        } else if (p[1] == 0xFF) {
          store_bytes(&walk, p, 1);
          p += 2;
        } else if (p[1] == 0x03) {
          walk.in_link = true;
          walk.styled_link = false;
          p += 2;
        } else {
          walk.in_link = true;
          walk.styled_link = true;
          walk.restyle_link = false;
          begin_link_look(&walk);
          ++p;
        }
        break;
      default: {
        std::uint32_t bytes = is_lead_byte(*p) && p[1] != 0 ? 2 : 1;
        store_bytes(&walk, p, bytes);
        p += bytes;
        break;
      }
    }
  }
  state->text[walk.position] = '\0';
  state->length = walk.position;
  // One append larger than the limit by itself: its own oldest lines go as well.
  trim_to_limit(state, std::uint64_t{state->length} + 1, &result);
  result.ok = true;
  return result;
}

std::uint32_t store_drop_front(ViewState* state, std::uint32_t count,
                               std::uint32_t* lines_dropped) {
  *lines_dropped = 0;
  if (count == 0 || state->length == 0) return 0;
  std::uint32_t length = state->length;
  std::uint32_t* starts = state->line_starts;
  std::uint32_t line_count = state->line_count;
  std::uint32_t cut = length;
  if (count < length) {
    const void* feed = std::memchr(state->text + count - 1, '\n', length - (count - 1));
    if (feed != nullptr) {
      cut = static_cast<std::uint32_t>(static_cast<const char*>(feed) - state->text) + 1;
    } else {
      // One hard line longer than the slack: cut at a visual line start, a character boundary.
      std::uint32_t* line = std::lower_bound(starts, starts + line_count, count);
      if (line != starts + line_count) cut = *line;
    }
  }
  // The visual line that starts at the cut becomes line 0.
  std::uint32_t* line = std::lower_bound(starts, starts + line_count, cut);
  auto first_kept = static_cast<std::uint32_t>(line - starts);
  // A cut inside a hard line changes the bold state its lines start with: lay out again then.
  bool at_line_feed = cut > 0 && state->text[cut - 1] == '\n';
  bool exact = at_line_feed && line != starts + line_count && *line == cut;
  std::uint32_t kept = length - cut;
  std::memmove(state->text, state->text + cut, kept + 1);
  std::memmove(state->attrs, state->attrs + cut, kept + 1);
  std::memmove(state->colors, state->colors + cut, kept + 1);
  std::memset(state->attrs + kept + 1, 0, cut);
  std::memset(state->colors + kept + 1, 0, cut);
  state->length = kept;
  state->caret = state->caret > cut ? state->caret - cut : 0;
  state->anchor = state->anchor > cut ? state->anchor - cut : 0;
  if (exact && first_kept < line_count) {
    std::uint32_t remaining = line_count - first_kept;
    std::memmove(starts, starts + first_kept, remaining * sizeof(std::uint32_t));
    std::memmove(state->line_lengths, state->line_lengths + first_kept,
                 remaining * sizeof(std::int32_t));
    for (std::uint32_t i = 0; i < remaining; ++i)
      starts[i] -= cut;
    state->line_count = remaining;
    *lines_dropped = first_kept;
  } else {
    // No visual line starts at the cut: the caller lays everything out again.
    starts[0] = 0;
    state->line_lengths[0] = 0;
    *lines_dropped = line_count;
    state->line_count = 1;
    state->relayout_pending = true;
  }
  state->first_visible_line =
      state->first_visible_line > *lines_dropped ? state->first_visible_line - *lines_dropped : 0;
  if (state->resume_start >= cut) {
    state->resume_start -= cut;
  } else {
    state->resume_start = 0;
    state->resume_bold = false;
  }
  return cut;
}
