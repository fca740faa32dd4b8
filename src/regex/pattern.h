// Pattern compiler: turns a CP932 pattern text into a nondeterministic automaton that the
// backtracking matcher (match.h) walks. Every text compiles; malformed constructs have fixed
// readings.
#pragma once

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
  std::int32_t failed;  // out of memory or over a bound: the compilation yields null
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
};

// Compiles a NUL-terminated pattern. Capture names point into `text`, which must outlive the
// pattern's use. Null only when memory runs out (or the pattern is too large to build).
CompiledPattern* compile_pattern(const char* text);
// Frees the pattern (null is fine) and clears the caller's pointer.
void free_pattern(CompiledPattern** pattern);

// Class text of the escapes \d \D \s \S \w \W, or null for any other letter.
const char* class_escape_text(unsigned char letter);
// The byte that \n \r \t (either case) stand for, or -1 for any other letter.
std::int32_t control_escape_byte(unsigned char letter);
