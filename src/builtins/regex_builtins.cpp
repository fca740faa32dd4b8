#include "builtins/regex_builtins.h"

#include <cstdio>
#include <cstring>

#include "builtins/args.h"
#include "builtins/hash.h"
#include "engine/engine.h"
#include "platform/memory.h"
#include "regex/match.h"

namespace {

// The pattern of one call: a literal's own pattern (compiled on its first use), or one compiled
// from the argument's text for this call.
class CallPattern {
 public:
  explicit CallPattern(const ValueNode* argument) : use_(argument->pattern) {
    if (argument->pattern != nullptr) {
      pattern_ = use_.get();
      problem_ = use_.problem();
      return;
    }
    text_ = read_string_arg(argument);  // capture names point into it while the pattern lives
    problem_ = PATTERN_NO_MEMORY;
    if (text_ != nullptr) owned_ = compile_pattern(text_, &problem_);
    pattern_ = owned_;
  }
  ~CallPattern() {
    free_pattern(&owned_);
    release(&text_);
  }
  CallPattern(const CallPattern&) = delete;
  CallPattern& operator=(const CallPattern&) = delete;
  // Null when the pattern could not be made: fail() gives the call's failure then.
  const CompiledPattern* get() const { return pattern_; }
  std::int32_t fail(char* message, const char* name) const {
    return problem_ == PATTERN_TOO_COMPLEX ? too_complex(message, name)
                                           : alloc_failed(message, name);
  }
  static std::int32_t too_complex(char* message, const char* name) {
    std::snprintf(message, LUMO_MESSAGE_SIZE, "%s: Regex too complex", name);
    return LUMO_STATUS_FAILED;
  }

 private:
  PatternUse use_;
  const CompiledPattern* pattern_ = nullptr;
  CompiledPattern* owned_ = nullptr;
  char* text_ = nullptr;
  PatternProblem problem_ = PATTERN_OK;
};

// How a walk over the matches ended.
enum class WalkEnd { Done, Stopped, TooComplex };

// Options: a lower-case "i" anywhere asks for case-insensitive matching.
std::int32_t ignore_case_option(const ValueNode* options) {
  if (options == nullptr) return 0;
  char* text = read_string_arg(options);
  std::int32_t ignore_case = text != nullptr && std::strchr(text, 'i') != nullptr ? 1 : 0;
  release(&text);
  return ignore_case;
}

// An owned copy of a subject span; a group that did not take part gives "".
ValueNode* span_cell(const GroupSpan& span) {
  ValueNode* cell = make_node();
  if (cell == nullptr) return nullptr;
  char* text = span.start != nullptr && span.end != nullptr
                   ? copy_span(span.start, static_cast<std::int32_t>(span.end - span.start + 1))
                   : dup_string("");
  if (text == nullptr) {
    free_node(cell);
    return nullptr;
  }
  cell->value->data.text = text;
  cell->value->is_string = 1;
  return cell;
}

// Appends cells to a chain that is being built; a cell that could not be made marks it failed.
struct ChainBuilder {
  ValueNode* first = nullptr;
  ValueNode** tail = &first;
  bool failed = false;
  void add(ValueNode* cell) {
    if (cell == nullptr) {
      failed = true;
      return;
    }
    *tail = cell;
    tail = &cell->next;
  }
};

// Walks the matches of a subject from its start. `visit(groups, stays)` takes over each match's
// group array; `stays` marks an empty match exactly at the search position, after which the walk
// moves on by one byte. A line-anchored pattern is searched once per line.
template <class Visit>
WalkEnd walk_matches(const CompiledPattern* pattern, const char* subject, std::int32_t ignore_case,
                     Visit visit) {
  const char* pos = subject;
  for (GroupSpan* groups = nullptr; !stop_requested(); groups = nullptr) {
    std::int32_t stopped = MATCH_RUNNING;
    if (find_first_match(pattern, pos, ignore_case, &groups, &stopped) == 0) {
      if (stopped == MATCH_TOO_DEEP) return WalkEnd::TooComplex;
      break;
    }
    const char* end = groups[0].end;
    bool stays = groups[0].start == pos && end == pos;
    visit(groups, stays);
    if (stays) {
      if (pos[1] == '\0') break;
      ++pos;
    } else {
      pos = end;
    }
    if (pattern->line_start) {
      pos += std::strcspn(pos, "\r\n");
      while (*pos == '\r' || *pos == '\n')
        ++pos;
      if (*pos == '\0') break;
    }
  }
  return stop_requested() == 0 ? WalkEnd::Done : WalkEnd::Stopped;
}

// A growing byte buffer for the replacement result.
class TextBuffer {
 public:
  ~TextBuffer() { release(&data_); }
  TextBuffer() = default;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  void append(const char* bytes, std::size_t count) {
    if (failed_ || !reserve(length_ + count + 1)) return;
    std::memcpy(data_ + length_, bytes, count);
    length_ += count;
  }
  // The NUL-terminated text, handed over; null when memory ran out on the way.
  char* take() {
    if (failed_ || !reserve(length_ + 1)) return nullptr;
    data_[length_] = '\0';
    char* text = data_;
    data_ = nullptr;
    return text;
  }

 private:
  bool reserve(std::size_t wanted) {
    if (wanted <= capacity_) return true;
    if (wanted > MAX_STRING_LENGTH + 1) {  // no string may be that long
      failed_ = true;
      return false;
    }
    std::size_t capacity = capacity_ < 64 ? 64 : capacity_;
    while (capacity < wanted)
      capacity *= 2;
    auto* grown = static_cast<char*>(alloc_block(capacity));
    if (grown == nullptr) {
      failed_ = true;
      return false;
    }
    if (length_ > 0) std::memcpy(grown, data_, length_);
    release(&data_);
    data_ = grown;
    capacity_ = capacity;
    return true;
  }

  char* data_ = nullptr;
  std::size_t length_ = 0;
  std::size_t capacity_ = 0;
  bool failed_ = false;
};

// The replacement for one match: a backslash and a digit d stand for group d ("" when there is no
// such group or it did not take part); every other byte is itself.
void expand_replacement(TextBuffer* out, const char* replacement, const GroupSpan* groups,
                        std::int32_t group_count) {
  for (const char* cursor = replacement; *cursor != '\0'; ++cursor) {
    if (cursor[0] != '\\' || cursor[1] < '0' || cursor[1] > '9') {
      out->append(cursor, 1);
      continue;
    }
    std::int32_t group = *++cursor - '0';
    if (group < group_count && groups[group].start != nullptr && groups[group].end != nullptr)
      out->append(groups[group].start,
                  static_cast<std::size_t>(groups[group].end - groups[group].start));
  }
}

}  // namespace

LUMO_BUILTIN(regmatch) {
  (void)message;
  const ValueNode* subject_argument = nth_argument(arguments, 1);
  if (subject_argument == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  const ValueNode* groups_argument = nth_argument(arguments, 2);
  std::int32_t ignore_case =
      groups_argument != nullptr ? ignore_case_option(nth_argument(arguments, 3)) : 0;
  CallPattern pattern(arguments);
  if (pattern.get() == nullptr) return pattern.fail(message, "regmatch");
  char* subject = read_string_arg(subject_argument);
  if (subject == nullptr) return alloc_failed(message, "regmatch");
  GroupSpan* groups = nullptr;
  std::int32_t stopped = MATCH_RUNNING;
  std::int32_t group_count =
      find_first_match(pattern.get(), subject, ignore_case, &groups, &stopped);
  if (stop_requested()) {  // the search was given up: fail quietly, changing nothing
    release(&groups);
    release(&subject);
    return LUMO_STATUS_FAILED;
  }
  if (stopped == MATCH_TOO_DEEP) {
    release(&subject);
    return CallPattern::too_complex(message, "regmatch");
  }
  bool stored = true;
  if (groups_argument != nullptr) {
    ChainBuilder chain;
    for (std::int32_t i = 0; i < group_count; ++i)
      chain.add(span_cell(groups[i]));
    if (chain.failed) {
      free_chain(chain.first);
      stored = false;
    } else {
      stored = replace_elements(context, groups_argument->value->owner, chain.first);
    }
  }
  release(&groups);
  release(&subject);  // the group spans point into it
  if (!stored) return alloc_failed(message, "regmatch");
  return return_number(result, group_count > 0 ? 1 : 0);
}

LUMO_BUILTIN(regmatchall) {
  (void)message;
  const ValueNode* subject_argument = nth_argument(arguments, 1);
  if (subject_argument == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  const ValueNode* matches_argument = nth_argument(arguments, 2);
  std::int32_t ignore_case =
      matches_argument != nullptr ? ignore_case_option(nth_argument(arguments, 3)) : 0;
  CallPattern pattern(arguments);
  if (pattern.get() == nullptr) return pattern.fail(message, "regmatchall");
  char* subject = read_string_arg(subject_argument);
  if (subject == nullptr) return alloc_failed(message, "regmatchall");
  std::int32_t count = 0;
  ChainBuilder matches;
  WalkEnd end =
      walk_matches(pattern.get(), subject, ignore_case, [&](GroupSpan* groups, bool stays) {
        if (!stays) {
          ++count;
          if (matches_argument != nullptr) matches.add(span_cell(groups[0]));
        }
        release(&groups);
      });
  release(&subject);
  if (end != WalkEnd::Done || matches.failed) {
    free_chain(matches.first);
    if (end == WalkEnd::Stopped) return LUMO_STATUS_FAILED;
    if (end == WalkEnd::TooComplex) return CallPattern::too_complex(message, "regmatchall");
    return alloc_failed(message, "regmatchall");
  }
  if (matches_argument != nullptr &&
      !replace_elements(context, matches_argument->value->owner, matches.first)) {
    return alloc_failed(message, "regmatchall");
  }
  return return_number(result, count);
}

LUMO_BUILTIN(regreplace) {
  (void)context;
  const ValueNode* subject_argument = nth_argument(arguments, 2);
  if (subject_argument == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int32_t ignore_case = ignore_case_option(nth_argument(arguments, 3));
  char* subject = read_string_arg(subject_argument);
  char* replacement = read_string_arg(nth_argument(arguments, 1));
  if (subject == nullptr || replacement == nullptr) {
    release(&subject);
    release(&replacement);
    return alloc_failed(message, "regreplace");
  }
  CallPattern pattern(arguments);
  if (pattern.get() == nullptr) {
    release(&subject);
    release(&replacement);
    return pattern.fail(message, "regreplace");
  }
  std::int32_t group_count = pattern.get()->group_slots;
  // A match is replaced once the walk has moved past it; until then a later empty match at the
  // same place may still take its place. Each finished match is written out at once.
  TextBuffer out;
  const char* copied_to = subject;
  GroupSpan* pending = nullptr;
  auto write_pending = [&] {
    out.append(copied_to, static_cast<std::size_t>(pending[0].start - copied_to));
    expand_replacement(&out, replacement, pending, group_count);
    copied_to = pending[0].end;
    release(&pending);
  };
  WalkEnd end =
      walk_matches(pattern.get(), subject, ignore_case, [&](GroupSpan* groups, bool stays) {
        release(&pending);
        pending = groups;
        if (!stays) write_pending();
      });
  if (pending != nullptr) write_pending();
  out.append(copied_to, std::strlen(copied_to));
  release(&replacement);
  release(&subject);
  if (end == WalkEnd::Stopped) return LUMO_STATUS_FAILED;
  if (end == WalkEnd::TooComplex) return CallPattern::too_complex(message, "regreplace");
  return return_text(result, out.take(), message, "regreplace");
}
