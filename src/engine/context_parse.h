// Parsing on behalf of a call context: the engine's side of the front end's ParseOwner. Errors are
// reported through the context, names declare while it binds, definitions join its module's
// function list and index, and directives are carried out for its module.
#pragma once

#include <cstdint>

struct CallContext;
struct NameTable;
struct Script;
struct SyntaxNode;

// Parses `text` on behalf of `owner` (whose script receives definitions and directives) starting at
// statement depth `depth` (0 for a script file). The head of the node list, or null for a text
// without statements; also null after an error, when the partial list and the whole function chain
// of the owner's script have been freed. An owner without a script parses nothing.
SyntaxNode* parse_script_text(CallContext* owner, const char* text, std::int32_t depth);

// One operand with optional indexing, the whole text and nothing else (the embedded expressions of
// string literals), on behalf of `owner` (may be null). Null when it fails or tokens remain;
// trailing tokens are not reported here.
SyntaxNode* parse_expression_text(CallContext* owner, const char* text);

// The "%" that starts a literal's next «%expr%» part at or after `cursor` (a lead byte takes the
// byte after it; "%%" is a percent sign), or the text's end.
const char* find_embedded_part(const char* cursor);
// The part of a literal (an «%expr%» part, or a capture target) whose "%" is at `lead`: the text
// after it up to the next "%" (or the end), parsed as parse_expression_text parses it. Null when
// it does not parse, or memory ran out (*no_memory).
SyntaxNode* parse_embedded_part(CallContext* owner, const char* lead, bool* no_memory);
// The same, parsed as in the binding mode (its names are declarations), with nothing reported.
SyntaxNode* parse_binding_part(const char* lead, bool* no_memory);

// An expression parsed from a private copy of its text: its nodes are placed at `position` (the
// literal or pattern in the module text), where its errors are reported, and its names that the
// table has take their slots there, as the names of the code do.
void settle_parsed_nodes(SyntaxNode* list, const char* position, const NameTable* names);

// Frees the module's function entries and its table of them, leaving it without functions.
void free_function_entries(Script* module);
