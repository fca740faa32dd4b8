// The statement parser: turns a whole script text into one linear node list in which control flow
// is already resolved into Jump, SkipIfTrue, Loop and marker nodes. Function definitions are
// registered in the owner's module and directives are carried out while parsing.
#pragma once

#include <cstdint>

#include "base/syntax_node.h"
#include "frontend/lexer.h"

struct CallContext;
struct FunctionEntry;
struct Script;

// Parses `text` on behalf of `owner` (whose script receives definitions and directives) starting at
// statement depth `depth` (0 for a script file). The head of the node list, or null for a text
// without statements; also null after an error, when the partial list and the whole function chain
// of the owner's script have been freed. An owner without a script parses nothing.
SyntaxNode* parse_script_text(CallContext* owner, const char* text, std::int32_t depth);

// Parses one statement after `tail`: the new tail, or null after an error was reported.
SyntaxNode* parse_statement(ParserState* state, SyntaxNode* tail);

// Frees the module's function entries and its table of them, leaving it without functions.
void free_function_entries(Script* module);
