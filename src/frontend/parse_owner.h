// Whoever a parse runs for: where its errors go, whether its names are being bound, and who takes
// the function definitions and directives it meets. The front end knows nothing else of its
// owner; the engine fills one in for a call context (engine/context_parse.h).
#pragma once

#include <cstdint>

struct SyntaxNode;

struct ParseOwner {
  void* data;  // handed unchanged to every callback
  // Not 0 while a pattern's captures or a parameter's default are being bound: every name parsed
  // as an operand is then a declaration.
  std::int32_t bind_mode;
  // An error at `position` (inside the parsed text, or a text of its own); the parse is abandoned
  // after it.
  void (*report)(void* data, const char* message, const char* position);
  // A function definition, in the order of the text: its lower-case name (the caller keeps its own
  // copy) and the Function or Argmatch node that heads it. False when memory ran out; the parser
  // then reports "Alloc failed" at the current token and gives up.
  bool (*define_function)(void* data, const char* name, SyntaxNode* definition);
  // Carries out the directive whose text starts at `position` (just after "#"): the position just
  // after its ")", where scanning goes on, or null after the owner reported an error.
  const char* (*run_directive)(void* data, const char* position);
};
