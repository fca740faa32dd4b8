// Running node lists: the value stack machine of expressions and the statement loop.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/value.h"
#include "platform/text.h"

struct SyntaxNode;
struct CompiledPattern;
struct EmbeddedParts;

// Result codes of run_nodes.
enum RunResult : std::int32_t {
  RUN_NORMAL = 0,
  RUN_BREAK = 1,
  RUN_CONTINUE = 2,
  RUN_FAILED = -1,
  RUN_RETURN = -2,
  RUN_EXIT = -3,
};

// Runs a node list from `first`. `result` receives the value of return/exit (may be null); when
// `output` is given, the values left on the stack become a chain there in push order; the break
// counter (may be null) is shared by the nested runs of one call.
std::int32_t run_nodes(CallContext* context, SyntaxNode* first, ValueNode* result,
                       ValueNode** output, std::int32_t* break_counter);

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

// A returned value (a stack entry, released here) copied into the call's result cell. False after
// a reported failure.
bool return_copy(CallContext* context, ValueNode* result, ValueNode* value);

// The label of a switch's body that the value selects: the first case equal to it, else the first
// default. Null when there is none, or when a label could not be compared (reported).
SyntaxNode* choose_label(CallContext* context, SyntaxNode* body, ValueNode* value);

// Whether two texts are equal as the == of strings compares them. The same bytes are equal under
// any locale, without the comparison's walk over its weights.
inline bool texts_equal(const char* a, const char* b) {
  return a[0] == b[0] && (std::strcmp(a, b) == 0 || compare_text_locale(a, b) == 0);
}

// Evaluates the expression after the lead byte of `text` up to the next "%" (or the end) in the
// given frame: the first value it yields, or null after a failure.
ValueNode* eval_expression_text(CallContext* context, const char* text);
// A literal's part, the same text, that does not parse, reached by a run: parsed again in the
// frame (the parser reports what it reports there), then reported as eval_expression_text reports
// it.
void report_unparsed_part(CallContext* context, const char* text);

// The «%expr%» parts of a literal in order, evaluated in a frame. A string literal's record keeps
// them parsed: the first use that parses all of them (at one source position, in one bind mode)
// keeps the lists, and later uses there run them without parsing. Other texts are parsed at each
// use. Parse failures are reported at each use, as eval_expression_text reports them.
enum class EmbeddedKind : int { CaptureTargets = 0, TextParts = 1 };
class EmbeddedExpressions {
 public:
  // `literal` is the literal's pattern record, or null for a text that is not a literal.
  EmbeddedExpressions(CallContext* context, const CompiledPattern* literal, EmbeddedKind kind);
  ~EmbeddedExpressions();
  EmbeddedExpressions(const EmbeddedExpressions&) = delete;
  EmbeddedExpressions& operator=(const EmbeddedExpressions&) = delete;
  // The value of the next part, whose text begins with the lead byte at `text`; null after a
  // failure (reported).
  ValueNode* evaluate(const char* text);
  // The postfix steps the last part made apply once its value has been used: a part is a
  // statement of its own.
  void settle();
  // Passes over a part that is not evaluated.
  void skip();
  // Every part has been passed: what was parsed may be kept.
  void finish() { complete_ = true; }

 private:
  bool record(SyntaxNode* list);

  CallContext* context_;
  struct EmbeddedParts** slot_ = nullptr;
  struct EmbeddedParts* kept_ = nullptr;
  struct EmbeddedParts* made_ = nullptr;
  bool recording_ = false;
  bool complete_ = false;
  std::int32_t next_ = 0;
  ValueNode* pending_ = nullptr;  // the steps pending before the last part ran
};

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

// Searches `subject` with the pattern; with a context, binds the capture targets afterwards (the
// captured text, or "" when there was no match or the capture took no part). 1 on a match, 0
// without one; PATTERN_SEARCH_FAILED when the pattern could not be compiled or the search had to
// give up: with a context, "Regex too complex" or "Alloc failed" has been reported then and nothing
// is bound. (A search ended by a stop gives 0.)
constexpr std::int32_t PATTERN_SEARCH_FAILED = -1;
std::int32_t pattern_search(CallContext* context, const CompiledPattern* pattern,
                            const char* subject);
// The search of pattern_search without the binding: 1, 0 or PATTERN_SEARCH_FAILED (reported
// through `context` when given); with `table`, the captures are left in *found.
std::int32_t pattern_capture(CallContext* context, const CompiledPattern* pattern,
                             const char* subject, bool table, PatternCaptures* found);
// pattern_search in the binding's mode (a parameter's pattern, or dispatch's): its capture targets
// declare names of the frame, as parameters do.
std::int32_t pattern_bind(CallContext* context, const CompiledPattern* pattern,
                          const char* subject);
// The same search without binding captures; failures are reported through `context`.
std::int32_t pattern_test(CallContext* context, const CompiledPattern* pattern,
                          const char* subject);

// Truth of a Value: a number when not 0, a string when its first byte is not 0.
bool shared_value_is_true(const Value* value);
inline bool value_is_true(const Value* value) {
  if (is_shared_value(value)) return shared_value_is_true(value);
  return value->is_string ? value->data.text != nullptr && value->data.text[0] != '\0'
                          : value->data.number != 0;
}
