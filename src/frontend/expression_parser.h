// The expression parser: recursive descent with one level per precedence, appending nodes to a
// linear list in postfix order (operands first, then their operator). Every level takes the current
// tail of the list and returns the new tail, or null after an error was reported; nodes already
// linked are freed by the entry point together with the list.
#pragma once

#include "base/syntax_node.h"
#include "frontend/lexer.h"

// One operand with optional indexing, the whole text and nothing else (the embedded expressions of
// string literals), on behalf of `owner` (may be null: nothing is reported, no name declares). Null
// when it fails or tokens remain; trailing tokens are not reported here.
SyntaxNode* parse_expression_text(const ParseOwner* owner, const char* text);

// Levels shared with the statement parser.
SyntaxNode* parse_assignment(ParserState* state, SyntaxNode* tail);
SyntaxNode* parse_primary_with_index(ParserState* state, SyntaxNode* tail);
// An assignment-level expression followed by ApplyPostfix when it contained a postfix ++/--.
SyntaxNode* parse_full_expression(ParserState* state, SyntaxNode* tail);
// Full expressions separated by Comma nodes; empty elements are allowed.
SyntaxNode* parse_comma_list(ParserState* state, SyntaxNode* tail);

// Reports `message` at the current token; always null, for "return fail_at_token(...)".
SyntaxNode* fail_at_token(ParserState* state, const char* message = SENTENCE_ERROR);

// Node making for the parsers: a node of `kind` whose source is `source`, linked after `tail`;
// "Alloc failed" is reported and null returned when memory runs out.
SyntaxNode* append_node_at(ParserState* state, SyntaxNode* tail, NodeKind kind, const char* source);
// The same with the current token's start as source.
SyntaxNode* append_node(ParserState* state, SyntaxNode* tail, NodeKind kind);
// The current token's bytes lower-cased in a new string (names); "Alloc failed" when memory runs
// out.
char* copy_token_lowered(ParserState* state);

// Recursion guard: false, with "Sentence error" at the current token, when MAX_NESTING is passed.
bool enter_nesting(ParserState* state);
inline void leave_nesting(ParserState* state) {
  --state->nesting;
}
