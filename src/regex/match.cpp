// Backtracking matcher. The walk is a loop over the automaton; the choice points the recursive
// formulation would keep on the C stack live on an explicit heap stack, so long subjects cannot
// overflow the thread's stack.
#include "regex/match.h"

#include <bit>
#include <cstring>

#include "base/cp932.h"
#include "base/stop_flag.h"
#include "platform/memory.h"

namespace {

// The stop flag is read once every this many steps.
constexpr std::uint32_t STOP_CHECK_MASK = 4095;

enum FrameKind : std::int32_t {
  FRAME_CHOICE,  // resume the transition list t at pos
  FRAME_UNDO,    // restore iteration start `count` of a repetition to pos
  FRAME_STAR,    // greedy single-character repetition: take its exit t at pos, pos-1, ... (count)
};

struct Backtrack {
  const PatternTransition* t;
  const char* pos;
  std::int32_t kind;
  std::int32_t count;
};

constexpr std::int32_t INLINE_FRAMES = 64;
constexpr std::int32_t INLINE_LOOPS = 16;

struct Walk {
  Backtrack* frames;
  std::int32_t top;
  std::int32_t capacity;
  Backtrack inline_frames[INLINE_FRAMES];
  // Start of the current iteration of each repetition whose body can match empty.
  const char** loop_starts;
  const char* inline_loop_starts[INLINE_LOOPS];
};

bool grow(Walk* w) {
  if (w->capacity >= MAX_BACKTRACK_FRAMES) return false;
  std::int32_t capacity = w->capacity * 2;
  if (capacity > MAX_BACKTRACK_FRAMES) capacity = MAX_BACKTRACK_FRAMES;
  Backtrack* frames = static_cast<Backtrack*>(alloc_block(sizeof(Backtrack) * capacity));
  if (frames == nullptr) return false;
  std::memcpy(frames, w->frames, sizeof(Backtrack) * w->top);
  if (w->frames != w->inline_frames) release(&w->frames);
  w->frames = frames;
  w->capacity = capacity;
  return true;
}

// Adds a frame; when the stack cannot grow, marks the search as given up and returns false.
inline bool push(MatchState* ms, Walk* w, const PatternTransition* t, const char* pos,
                 std::int32_t kind, std::int32_t count) {
  if (w->top == w->capacity && !grow(w)) {
    ms->stopped = MATCH_TOO_DEEP;
    return false;
  }
  w->frames[w->top++] = {t, pos, kind, count};
  return true;
}

inline unsigned char fold(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

inline bool in_set(const std::uint8_t* set, unsigned char c) {
  return (set[c >> 3] >> (c & 7)) & 1;
}

// A consuming transition against the character at p (width 1 or 2).
inline bool consumes(const PatternTransition* t, const char* p, std::int32_t width,
                     bool ignore_case) {
  unsigned char c = static_cast<unsigned char>(p[0]);
  if (t->type == OP_LITERAL) {
    if (width == 2) {
      return t->data.literal[0] == c && t->data.literal[1] == static_cast<unsigned char>(p[1]);
    }
    if (t->data.literal[1] != 0) return false;
    return t->data.literal[0] == c || (ignore_case && fold(t->data.literal[0]) == fold(c));
  }
  if (width == 2) return class_matches(t->data.class_text, p) != 0;
  return in_set(t->byte_set, c);
}

inline bool passes_over(unsigned char c, bool line_end) {
  return c == 0 || (line_end && (c == '\n' || c == '\r'));
}

void mark_capture(MatchState* ms, const PatternTransition* t, const char* p) {
  const char* name = t->data.name != nullptr ? t->data.name : t->data2;
  std::int32_t count = capture_slot_count(ms->pattern);
  for (std::int32_t i = 0; i < count; ++i) {
    CaptureSlot* slot = &ms->captures[i];
    if (slot->name != name && slot->name != nullptr) continue;
    slot->name = name;
    if (t->data.name != nullptr) {
      slot->start = p;
    } else {
      slot->end = p;
    }
    return;
  }
}

// Side effect of a non-consuming transition taken at p.
inline void mark(MatchState* ms, const PatternTransition* t, const char* p) {
  switch (t->type) {
    case OP_GROUP_START:
      if (ms->groups != nullptr) ms->groups[t->data.group].start = p;
      break;
    case OP_GROUP_END:
      if (ms->groups != nullptr) ms->groups[t->data.group].end = p;
      break;
    case OP_CAPTURE:
      if (ms->captures != nullptr) mark_capture(ms, t, p);
      break;
    default:
      break;
  }
}

// The walk proper. Returns the end of the match or null; sets ms->stopped when it gave up.
const char* walk(MatchState* ms, Walk* w, std::int32_t s, const char* p) {
  const CompiledPattern* pattern = ms->pattern;
  const bool line_end = pattern->line_end != 0;
  const bool ignore_case = ms->ignore_case != 0;
  for (;;) {
    // Arrived at state s with position p.
    const PatternTransition* t = nullptr;
    if (s == pattern->final_state) {
      unsigned char c = static_cast<unsigned char>(*p);
      if (!line_end || c == 0 || c == '\n' || c == '\r') return p;
    } else {
      t = pattern->states[s];
    }
    for (;;) {
      // Try the transitions from t on; on the first that is taken, arrive at its target.
      bool taken = false;
      while (t != nullptr) {
        if ((++ms->steps & STOP_CHECK_MASK) == 0 && stop_requested()) {
          ms->stopped = MATCH_STOP_REQUESTED;
          return nullptr;
        }
        if (t->step == 0) {
          unsigned char c = static_cast<unsigned char>(*p);
          if (passes_over(c, line_end)) {
            t = t->next;
            continue;
          }
          std::int32_t width = is_lead_byte(c) && p[1] != 0 ? 2 : 1;
          if (t->star && width == 1) {
            // Consume the run of single-byte characters at once; its exits are one frame.
            const char* q = p;
            while (!passes_over(static_cast<unsigned char>(*q), line_end) &&
                   (!is_lead_byte(static_cast<unsigned char>(*q)) || q[1] == 0) &&
                   consumes(t, q, 1, ignore_case)) {
              ++q;
            }
            if (q != p) {
              if (!push(ms, w, t->next, q - 1, FRAME_STAR, static_cast<std::int32_t>(q - p))) {
                return nullptr;
              }
              p = q;
              continue;  // the same body at the end of the run (a double-byte character or a miss)
            }
          }
          if (!consumes(t, p, width, ignore_case)) {
            t = t->next;
            continue;
          }
          if (t->next != nullptr && !push(ms, w, t->next, p, FRAME_CHOICE, 0)) return nullptr;
          s = t->target;
          p += width;
          taken = true;
          break;
        }
        // Non-consuming. The back edge after an iteration that consumed nothing leaves the
        // repetition instead of going round again.
        if (t->next != nullptr && !push(ms, w, t->next, p, FRAME_CHOICE, 0)) return nullptr;
        if (t->loop_exit != 0 && w->loop_starts[t->loop - 1] == p) {
          s = t->loop_exit;
          taken = true;
          break;
        }
        mark(ms, t, p);
        if (t->loop != 0) {
          const char** start = &w->loop_starts[t->loop - 1];
          if (!push(ms, w, nullptr, *start, FRAME_UNDO, t->loop - 1)) return nullptr;
          *start = p;
        }
        s = t->target;
        taken = true;
        break;
      }
      if (taken) break;
      // Every transition failed: resume at the latest choice point.
      for (;;) {
        if (w->top == 0) return nullptr;
        Backtrack* f = &w->frames[w->top - 1];
        if (f->kind == FRAME_UNDO) {
          w->loop_starts[f->count] = f->pos;
          --w->top;
          continue;
        }
        if (f->kind == FRAME_CHOICE) {
          t = f->t;
          p = f->pos;
          --w->top;
          break;
        }
        // FRAME_STAR: leave the repetition at the next shorter length.
        p = f->pos;
        s = f->t->target;
        if (--f->count == 0) {
          --w->top;
        } else {
          --f->pos;
        }
        break;
      }
      if (t == nullptr) break;  // a star exit: arrive at its target
    }
  }
}

// Positions written by abandoned paths are kept, so a group can be left with a start and no end,
// or (a later iteration's start after an earlier end) a start beyond its end. Such a pair does not
// describe any text; it is cleared so that every caller can take start..end as bytes.
void clear_broken_spans(MatchState* ms, std::int32_t captures) {
  if (ms->groups != nullptr) {
    for (std::int32_t i = 0; i < ms->pattern->group_slots; ++i) {
      GroupSpan* g = &ms->groups[i];
      if (g->start == nullptr || g->end == nullptr || g->start > g->end) *g = {};
    }
  }
  for (std::int32_t i = 0; i < captures; ++i) {
    CaptureSlot* c = &ms->captures[i];
    if (c->start == nullptr || c->end == nullptr || c->start > c->end) {
      c->start = nullptr;
      c->end = nullptr;
    }
  }
}

}  // namespace

std::int32_t class_matches(const char* class_text, const char* pos) {
  const unsigned char* cls = reinterpret_cast<const unsigned char*>(class_text);
  unsigned char s0 = static_cast<unsigned char>(pos[0]);
  // Second byte of a double-byte subject character, 0 for a single-byte one: 0 never lies within a
  // double-byte member, so those members never match single-byte characters.
  unsigned char s1 = is_lead_byte(s0) ? static_cast<unsigned char>(pos[1]) : 0;
  bool negated = false;
  if (*cls == '^') {
    negated = true;
    ++cls;
  }
  bool matched = false;
  while (*cls != 0 && !matched) {
    unsigned char c = cls[0];
    if (is_lead_byte(c) && cls[1] != 0) {
      if (cls[2] == '-' && is_lead_byte(cls[3]) && cls[4] != 0) {
        matched = s1 != 0 && s0 >= c && s0 <= cls[3] && s1 >= cls[1] && s1 <= cls[4];
        cls += 5;
      } else {
        matched = s1 != 0 && s0 == c && s1 == cls[1];
        cls += 2;
      }
    } else if (cls[1] == '-' && cls[2] != 0) {
      matched = s0 >= c && s0 <= cls[2];
      cls += 3;
    } else if (c == '\\' && cls[1] != 0) {
      unsigned char letter = cls[1];
      if (const char* expansion = class_escape_text(letter)) {
        matched = class_matches(expansion, pos) != 0;
      } else {
        // "\x" has no digits within a member, so it stands for nothing.
        std::int32_t control = control_escape_byte(letter);
        std::int32_t byte = control >= 0 ? control : letter == 'x' ? 0 : letter;
        matched = byte != 0 && s0 == byte;
      }
      cls += 2;
    } else {
      matched = s0 == c;
      cls += 1;
    }
  }
  return matched != negated ? 1 : 0;
}

const char* match_at(MatchState* state, std::int32_t state_number, const char* pos) {
  const CompiledPattern* pattern = state->pattern;
  if (pattern == nullptr || state->stopped != MATCH_RUNNING || state_number < 0 ||
      state_number >= pattern->state_count) {
    return nullptr;
  }
  Walk w;
  w.frames = w.inline_frames;
  w.top = 0;
  w.capacity = INLINE_FRAMES;
  w.loop_starts = w.inline_loop_starts;
  if (pattern->loop_count > INLINE_LOOPS) {
    w.loop_starts = static_cast<const char**>(alloc_block(sizeof(char*) * pattern->loop_count));
    if (w.loop_starts == nullptr) {
      state->stopped = MATCH_TOO_DEEP;
      return nullptr;
    }
  }
  for (std::int32_t i = 0; i < pattern->loop_count; ++i)
    w.loop_starts[i] = nullptr;
  const char* end = walk(state, &w, state_number, pos);
  if (w.frames != w.inline_frames) release(&w.frames);
  if (w.loop_starts != w.inline_loop_starts) release(&w.loop_starts);
  return end;
}

const char* search_pattern(MatchState* state, const char* subject, const char** match_start) {
  const CompiledPattern* pattern = state->pattern;
  if (pattern == nullptr || subject == nullptr) return nullptr;
  // Start positions whose byte no match can begin with are skipped without an attempt.
  bool filter = pattern->any_first == 0;
  std::uint8_t first[32];
  std::memcpy(first, pattern->first_bytes, sizeof first);
  if (filter && state->ignore_case) {
    for (unsigned c = 'a'; c <= 'z'; ++c) {
      if (in_set(first, static_cast<unsigned char>(c)) ||
          in_set(first, static_cast<unsigned char>(c - 'a' + 'A'))) {
        first[c >> 3] |= static_cast<std::uint8_t>(1u << (c & 7));
        unsigned upper = c - 'a' + 'A';
        first[upper >> 3] |= static_cast<std::uint8_t>(1u << (upper & 7));
      }
    }
  }
  int only = -1;  // the one possible first byte, when there is exactly one
  if (filter && pattern->first_byte_count == 1 && !state->ignore_case) {
    // The set's one member (never the NUL, which no subject byte is): a byte of the set at a time.
    for (unsigned word = 0; word < sizeof first && only < 0; ++word) {
      unsigned bits = first[word] & (word == 0 ? 0xFEu : 0xFFu);
      if (bits != 0)
        only = static_cast<int>(word * 8 + static_cast<unsigned>(std::countr_zero(bits)));
    }
  }
  for (std::int32_t i = 0; i < pattern->required_count; ++i) {
    unsigned char byte = pattern->required[i];
    bool letter = (byte | 0x20) >= 'a' && (byte | 0x20) <= 'z';
    if (byte != 0 && !(letter && state->ignore_case) && std::strchr(subject, byte) == nullptr) {
      return nullptr;
    }
  }
  std::int32_t captures = state->captures != nullptr ? capture_slot_count(pattern) : 0;
  const char* p = subject;
  while (*p != 0) {
    if (filter) {
      if (pattern->line_start) {
        if (!in_set(first, static_cast<unsigned char>(*p))) goto next_position;
      } else if (only >= 0) {
        p = std::strchr(p, only);
        if (p == nullptr) return nullptr;
      } else {
        while (*p != 0 && !in_set(first, static_cast<unsigned char>(*p)))
          ++p;
        if (*p == 0) return nullptr;
      }
    }
    {
      if (state->groups != nullptr) {
        std::memset(state->groups, 0, sizeof(GroupSpan) * pattern->group_slots);
      }
      for (std::int32_t i = 0; i < captures; ++i) {
        state->captures[i].start = nullptr;
        state->captures[i].end = nullptr;
      }
      const char* end = match_at(state, pattern->start_state, p);
      if (end != nullptr) {
        clear_broken_spans(state, captures);
        *match_start = p;
        return end;
      }
      if (state->stopped != MATCH_RUNNING) return nullptr;
    }
  next_position:
    if (pattern->line_start) {
      p += std::strcspn(p, "\r\n");
      p += std::strspn(p, "\r\n");
    } else {
      ++p;
    }
  }
  return nullptr;
}

std::int32_t find_first_match(const CompiledPattern* pattern, const char* subject,
                              std::int32_t ignore_case, GroupSpan** groups, std::int32_t* stopped) {
  *groups = nullptr;
  if (stopped != nullptr) *stopped = MATCH_RUNNING;
  if (pattern == nullptr || subject == nullptr) return 0;
  GroupSpan* spans =
      static_cast<GroupSpan*>(alloc_zeroed(sizeof(GroupSpan) * pattern->group_slots));
  if (spans == nullptr) {
    if (stopped != nullptr) *stopped = MATCH_TOO_DEEP;
    return 0;
  }
  MatchState state = {};
  state.pattern = pattern;
  state.groups = spans;
  state.ignore_case = ignore_case;
  const char* start = nullptr;
  const char* end = search_pattern(&state, subject, &start);
  if (end == nullptr) {
    release(&spans);
    if (stopped != nullptr) *stopped = state.stopped;
    return 0;
  }
  spans[0].start = start;
  spans[0].end = end;
  *groups = spans;
  return pattern->group_slots;
}

std::int32_t capture_slot_count(const CompiledPattern* pattern) {
  return pattern != nullptr ? pattern->state_count / 4 : 0;
}

std::int32_t list_captures(const CompiledPattern* pattern, CaptureSlot* table) {
  std::int32_t size = capture_slot_count(pattern);
  std::int32_t count = 0;
  for (std::int32_t i = 0; i < size; ++i)
    table[i] = {};
  if (pattern != nullptr && pattern->capture_names != nullptr) {
    for (std::int32_t i = 0; i < pattern->capture_count; ++i)
      table[i].name = pattern->capture_names[i];
    return pattern->capture_count;
  }
  for (std::int32_t s = 0; pattern != nullptr && s < pattern->state_count; ++s) {
    for (const PatternTransition* t = pattern->states[s]; t != nullptr; t = t->next) {
      if (t->type != OP_CAPTURE || t->data.name == nullptr) continue;
      // Insert in pattern order; copies made by bounded repetitions share their name.
      std::int32_t at = 0;
      while (at < count && table[at].name < t->data.name)
        ++at;
      if ((at < count && table[at].name == t->data.name) || count == size) continue;
      std::memmove(&table[at + 1], &table[at], sizeof(CaptureSlot) * (count - at));
      table[at].name = t->data.name;
      ++count;
    }
  }
  return count;
}
