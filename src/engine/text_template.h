// A string literal with «%expr%» parts taken apart once, for the compiled form: the pieces of text
// between the parts, and each part's code, parsed and settled in the function's table.
#pragma once

#include <cstdint>

struct NameTable;
struct SyntaxNode;

namespace compiled_body {

// Literals with up to this many parts are joined from their values as they stand on the stack;
// those with more have each part made text as it runs.
constexpr std::int32_t kInlineTextParts = 8;

struct TextTemplate {
  std::int32_t part_count;
  std::int32_t capacity;  // of offsets and lengths (one more than parts); parts has one fewer
  char* pieces;           // part_count + 1 pieces, each ended by a NUL, in order
  std::int32_t* offsets;
  std::int32_t* lengths;
  SyntaxNode** parts;  // each part's node list (owned)
  // A literal without parts (only escapes or "%%"): a literal node of its finished text, with the
  // literal's pattern (borrowed).
  SyntaxNode* plain;
  // When a part does not parse: the text from that part's "%" on, escapes processed (the detail
  // each run reports). `parts` then holds the parts before it, and the literal is never made.
  char* broken;
};

enum class TemplateMade { Made, NoMemory };

// Takes the literal apart: its escapes read, "%%" a percent sign, each «%expr%» part parsed, up to
// a part that does not parse (see `broken`). `binding`: its parts are parsed as in the binding mode
// (a parameter's default), where names are declarations.
TemplateMade make_text_template(const SyntaxNode* literal, const NameTable* table, bool binding,
                                TextTemplate** made);
void free_text_template(TextTemplate* text);

}  // namespace compiled_body
