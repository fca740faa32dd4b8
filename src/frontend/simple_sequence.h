// Finds the stretches of a parsed node list that are plain number arithmetic on named variables
// and constants, so that the evaluator can run them without making a value-stack cell for each
// operand.
#pragma once

#include <cstdint>

struct SyntaxNode;

// The most operands such a stretch keeps at once, and the most postfix updates it holds.
constexpr std::int32_t kSimpleDepthLimit = 16;
constexpr std::int32_t kSimpleUpdateLimit = 8;

// Sets `simple_length` on the first node of every such stretch in the list and in all lists under
// it. A stretch leaves exactly one operand, takes nothing from below it, has an assignment only as
// its last operator (then only the postfix step may follow) and applies every postfix update it
// makes.
void mark_simple_sequences(SyntaxNode* list);
