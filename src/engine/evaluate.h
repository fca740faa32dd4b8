// What running script code shares: the result codes, the count of steps, the truth and equality
// of values, and the searches of patterns.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/value.h"
#include "platform/text.h"

struct SyntaxNode;
struct CompiledPattern;

// What a run of code ended with.
enum RunResult : std::int32_t {
  RUN_NORMAL = 0,
  RUN_BREAK = 1,
  RUN_CONTINUE = 2,
  RUN_FAILED = -1,
  RUN_RETURN = -2,
  RUN_EXIT = -3,
};

namespace step_detail {
// Steps this thread may still make before the next batch's work is due.
extern thread_local constinit std::uint32_t StepsToBatch;
void end_step_batch();
}  // namespace step_detail

// Counts a step of this thread's script code: a statement ended or a loop pass made, where the
// thread holds no pointer into a shared chain other than its counted references. Once every batch
// of steps the thread tests for quiescence, and once every so many batches it yields the
// processor. Inline: the tightest loops and statements pay a decrement per step.
inline void count_step() {
  if (--step_detail::StepsToBatch == 0) step_detail::end_step_batch();
}

// Whether two texts are equal as the == of strings compares them. The same bytes are equal under
// any locale, without the comparison's walk over its weights.
inline bool texts_equal(const char* a, const char* b) {
  return a[0] == b[0] && (std::strcmp(a, b) == 0 || compare_text_locale(a, b) == 0);
}

// A literal's part or a capture target, the same text, that does not parse (or makes no value),
// reached by a run: parsed again in the frame (the parser reports what it reports there), then
// reported as a "Sentence error" at the text.
void report_unparsed_part(CallContext* context, const char* text);

// A search whose capture targets the caller binds: the capture table in pattern order (owned),
// with the captured positions when it matched.
struct CaptureSlot;
struct PatternCaptures {
  CaptureSlot* slots = nullptr;
  std::int32_t count = 0;
  bool matched = false;
  PatternCaptures() = default;
  PatternCaptures(const PatternCaptures&) = delete;
  PatternCaptures& operator=(const PatternCaptures&) = delete;
  ~PatternCaptures() { release(&slots); }
};
// Whether a capture names a target to bind («%%» and an empty «%» name none).
bool capture_binds(const CaptureSlot& capture);
// The text a capture binds: the part it took, or "" when there was no match or it took none; new,
// null when memory ran out.
char* capture_text(const CaptureSlot& capture, bool matched);

// Searches `subject` with the pattern: 1 on a match, 0 without one; PATTERN_SEARCH_FAILED when the
// pattern could not be compiled or the search had to give up ("Regex too complex" or "Alloc
// failed" reported through `context` when given). A search ended by a stop gives 0. With `table`,
// the captures are left in *found, for the caller to bind.
constexpr std::int32_t PATTERN_SEARCH_FAILED = -1;
std::int32_t pattern_capture(CallContext* context, const CompiledPattern* pattern,
                             const char* subject, bool table, PatternCaptures* found);
// The same search without the captures.
std::int32_t pattern_test(CallContext* context, const CompiledPattern* pattern,
                          const char* subject);

// Truth of a Value: a number when not 0, a string when its first byte is not 0.
bool shared_value_is_true(const Value* value);
inline bool value_is_true(const Value* value) {
  if (is_shared_value(value)) return shared_value_is_true(value);
  return value->is_string ? value->data.text != nullptr && value->data.text[0] != '\0'
                          : value->data.number != 0;
}
