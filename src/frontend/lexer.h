// The scanner: turns a NUL-terminated CP932 script text into tokens, one at a time, on the parser's
// demand. It knows whether the grammar expects an operand, which decides between unary and binary
// readings of "+", "-", "!", "++", "--" and rejects two operands (or two operators) in a row.
#pragma once

#include <cstdint>

#include "base/syntax_node.h"

struct ParseOwner;

// Nested expressions and statements the parser accepts: deeper input is refused with "Sentence
// error" where the bound is passed, so that neither the recursive parser nor freeing the nested
// sub-lists can exhaust a thread's stack.
constexpr std::int32_t MAX_NESTING = 200;

// Messages of the front end's error reports.
constexpr const char* SENTENCE_ERROR = "Sentence error";
constexpr const char* PARENTHESIS_ERROR = "Parenthesis error";
constexpr const char* ALLOC_FAILED = "Alloc failed";

// The state of one lexer/parser run over one text.
struct ParserState {
  // Receives reports, definitions and directives; may be null for an expression (nothing is
  // reported then).
  const ParseOwner* owner;
  NodeKind kind;                 // the current token; None while a token is being scanned
  std::int32_t depth;            // statement nesting: a top-level statement of a file sees 1
  const char* start;             // first byte of the current token
  const char* cur;               // scan position: one past the current token
  std::int32_t expect_operand;   // the next token must begin an operand
  std::int32_t declare_mode;     // a var list or a parameter list is being parsed
  std::int32_t postfix_pending;  // a postfix ++/-- waits for the end of its full expression
  std::int32_t nesting;          // recursion depth of the parser, bounded by MAX_NESTING
};

// A fresh state over `text` with the operand expected.
void init_parser_state(ParserState* state, const ParseOwner* owner, const char* text,
                       std::int32_t depth);

// Reads the next token: 1 with its kind in `kind`, its first byte at `start` and `cur` one past it;
// 0 after an error was reported, and the parse is then abandoned.
std::int32_t next_token(ParserState* state);

// Reports a parse error to the owner at a position in the text.
void report_parse_error(ParserState* state, const char* message, const char* position);
