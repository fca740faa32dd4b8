// Pattern compiler: turns a CP932 pattern text into a nondeterministic automaton that the
// backtracking matcher (match.h) walks. Every text compiles; malformed constructs have fixed
// readings.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Node ops; a transition's `type` is the op of the node that made it.
enum PatternOp : std::int32_t {
  OP_LITERAL = 0,
  OP_LINE_START = 1,
  OP_LINE_END = 2,
  OP_CLASS = 3,
  OP_CONCAT = 4,
  OP_ALTERNATION = 5,  // right is tried first
  OP_GREEDY = 6,
  OP_LAZY = 7,
  OP_EMPTY = 8,
  OP_GROUP_START = 9,
  OP_GROUP_END = 10,
  OP_CAPTURE = 11,  // start marker: name in left; end marker: name in right
};

// Token numbers of the scanner.
enum PatternToken : std::int32_t {
  TOKEN_LITERAL = 0,
  TOKEN_OPEN = 1,
  TOKEN_CLOSE = 2,
  TOKEN_LAZY_STAR = 3,
  TOKEN_LAZY_PLUS = 4,
  TOKEN_LAZY_QUESTION = 5,
  TOKEN_LAZY_BOUNDED = 6,
  TOKEN_STAR = 7,
  TOKEN_PLUS = 8,
  TOKEN_QUESTION = 9,
  TOKEN_BRACE = 10,
  TOKEN_BOUNDED = 11,
  TOKEN_DOT = 12,
  TOKEN_BRACKET = 13,
  TOKEN_CLASS = 14,
  TOKEN_CARET = 15,
  TOKEN_DOLLAR = 16,
  TOKEN_BAR = 17,
  TOKEN_BACKSLASH = 18,
  TOKEN_CAPTURE = 19,
  TOKEN_END = 20,
};

// Class text of ".": every byte but NUL.
inline constexpr char DOT_CLASS[] = "\x01-\xFF";

// Size of the class member buffer; member text beyond 255 bytes is dropped (whole members only).
inline constexpr int CLASS_TEXT_SIZE = 256;

struct PatternNode;

// State of one compilation.
struct PatternScanner {
  PatternNode* tree;
  std::int32_t token;
  unsigned char lit1, lit2;  // literal token: byte, and second byte of a double-byte character or 0
  const char* pos;
  char class_text[CLASS_TEXT_SIZE];
  std::int32_t rep_min, rep_max;
  const char* capture_name;  // the "%" that begins the current capture variable
  std::int32_t group_count;
  // Guards against hostile patterns: group nesting and tree size are bounded.
  std::int32_t depth;
  std::int32_t node_count;
  std::int32_t failed;       // out of memory or over a bound: the compilation yields null
  std::int32_t too_complex;  // failed because of a bound
};

struct PatternNode {
  std::int32_t op;
  union {
    PatternNode* child;
    unsigned char literal[2];
    char* class_text;  // owned
    std::int32_t group;
    const char* name;
  } left;
  union {
    PatternNode* child;
    const char* name;
  } right;
  std::int32_t nullable;  // 1 when the node may match without consuming
};

struct PatternTransition {
  std::int32_t type;
  union {
    unsigned char literal[2];
    char* class_text;  // owned
    std::int32_t group;
    const char* name;  // start-capture name
  } data;
  const char* data2;  // end-capture name
  std::int32_t step;  // 0 consumes one character, -1 consumes nothing
  std::int32_t target;
  PatternTransition* next;
  // Repetitions whose body can match empty: 1 + the repetition's number on the transitions that
  // enter its head state; on its back edge, loop_exit is the state after the repetition. An
  // iteration that consumed nothing leaves the repetition there instead of going round again.
  std::int32_t loop;
  std::int32_t loop_exit;
  // 1 on a literal or class that is the whole body of a greedy repetition (next is the exit), so
  // the matcher can run it as a tight loop.
  std::int32_t star;
  // Classes: bit c set when the class matches the single-byte character c.
  std::uint8_t byte_set[32];
};

struct CompiledPattern {
  PatternTransition** states;  // state_count lists
  std::int32_t start_state;    // 0
  std::int32_t final_state;    // 1
  std::int32_t state_count;
  std::int32_t group_slots;  // groups + 1; slot 0 is the whole match
  std::int32_t line_start;
  std::int32_t line_end;
  // Matcher support.
  std::int32_t loop_count;        // repetitions with a body that can match empty
  std::int32_t any_first;         // 1 when a match may start with any byte (or be empty)
  std::uint8_t first_bytes[32];   // otherwise: bytes a match can start with
  std::int32_t first_byte_count;  // bits set in first_bytes
  // Bytes that every match contains (literals outside alternatives and repetitions): a subject
  // without one of them cannot match anywhere.
  unsigned char required[4];
  std::int32_t required_count;
  std::size_t bytes;  // memory the automaton takes
  // The capture names in pattern order, listed once when the automaton is made (null when there
  // are none, or memory ran out: list_captures then walks the automaton).
  const char** capture_names;
  std::int32_t capture_count;
  // A literal's pattern (make_literal_pattern) is a record of its own whose automaton is compiled
  // on first use: `literal_text` is the text to compile, `compiled` the automaton once made (read
  // and set atomically), `literal_problem` why compiling failed for good. Its own states stay null.
  const char* literal_text;
  CompiledPattern* compiled;
  std::int32_t literal_problem;
};

// Why a pattern could not be made.
enum PatternProblem : std::int32_t {
  PATTERN_OK = 0,
  PATTERN_TOO_COMPLEX = 1,  // over the bounds on nesting or size
  PATTERN_NO_MEMORY = 2,
};

// Compiles a NUL-terminated pattern. Capture names point into `text`, which must outlive the
// pattern's use. Null only when memory runs out (or the pattern is too large to build).
CompiledPattern* compile_pattern(const char* text, PatternProblem* problem = nullptr);
// Frees the pattern (null is fine) and clears the caller's pointer; a literal's pattern goes with
// its automaton.
void free_pattern(CompiledPattern** pattern);

// A string literal's pattern, made without compiling: scripts use few of their literals as
// patterns, and compiling them all at load would cost time and memory for nothing. `text` must
// outlive the record. Null when memory runs out.
CompiledPattern* make_literal_pattern(const char* text);
// Frees the automaton a literal's pattern keeps (free_pattern calls it).
void free_literal_automaton(CompiledPattern* literal);

// Memory all literals' automata may keep together; a literal compiled past it is compiled for each
// use instead (with the same results).
inline constexpr std::size_t LITERAL_PATTERN_BUDGET = std::size_t{128} << 20;
// Memory the literals' automata keep now.
std::size_t kept_literal_pattern_bytes();

// The automaton of a pattern for one use. A literal's is compiled on its first use (by whichever
// thread comes first) and kept with the literal while the budget allows; otherwise it is compiled
// for this use and freed with the PatternUse. Any other pattern is used as it is.
class PatternUse {
 public:
  // Inline for the common cases (a pattern used as it is, a literal compiled already), which every
  // match of a literal pattern takes.
  explicit PatternUse(const CompiledPattern* pattern) {
    if (pattern != nullptr && pattern->literal_text == nullptr) {
      pattern_ = pattern;
      return;
    }
    if (pattern != nullptr) {
      pattern_ = std::atomic_ref<CompiledPattern*>(const_cast<CompiledPattern*>(pattern)->compiled)
                     .load(std::memory_order_acquire);
      if (pattern_ != nullptr) return;
    }
    make(pattern);
  }
  ~PatternUse() {
    if (owned_ != nullptr) free_pattern(&owned_);
  }
  PatternUse(const PatternUse&) = delete;
  PatternUse& operator=(const PatternUse&) = delete;
  // Null when the automaton could not be made; problem() tells why.
  const CompiledPattern* get() const { return pattern_; }
  PatternProblem problem() const { return problem_; }

 private:
  // A null pattern, or a literal not compiled yet (or for good not compilable).
  void make(const CompiledPattern* pattern);

  const CompiledPattern* pattern_ = nullptr;
  CompiledPattern* owned_ = nullptr;
  PatternProblem problem_ = PATTERN_OK;
};

// Class text of the escapes \d \D \s \S \w \W, or null for any other letter.
const char* class_escape_text(unsigned char letter);
// The byte that \n \r \t (either case) stand for, or -1 for any other letter.
std::int32_t control_escape_byte(unsigned char letter);
