// The statement parser: turns a whole script text into one linear node list in which control flow
// is already resolved into Jump, SkipIfTrue, Loop and marker nodes. Function definitions and
// directives are handed to the parse's owner as they are met.
#pragma once

#include <cstdint>

#include "base/syntax_node.h"
#include "frontend/lexer.h"

struct ParseOwner;

// Parses `text` on behalf of `owner` (which receives reports, definitions and directives) starting
// at statement depth `depth` (0 for a script file). The head of the node list, or null for a text
// without statements; also null after an error, when the partial list has been freed and `failed`
// is set (definitions already handed on point into the freed list then). Without an owner nothing
// is parsed.
SyntaxNode* parse_script_text(const ParseOwner* owner, const char* text, std::int32_t depth,
                              bool* failed);

// Parses one statement after `tail`: the new tail, or null after an error was reported.
SyntaxNode* parse_statement(ParserState* state, SyntaxNode* tail);
