// Finds the stretches of a parsed node list that are plain number arithmetic on named variables
// and constants, so that the evaluator can run them without making a value-stack cell for each
// operand.
#pragma once

#include <cstdint>

struct SyntaxNode;

// The most operands such a stretch keeps at once, and the most postfix updates it holds.
constexpr std::int32_t kSimpleDepthLimit = 16;
constexpr std::int32_t kSimpleUpdateLimit = 8;
// The most distinct names a simple loop uses.
constexpr std::int32_t kSimpleLoopNames = 16;

// Sets `simple_length` on the first node of every such stretch in the list and in all lists under
// it. A stretch leaves exactly one operand, takes nothing from below it, has an assignment only as
// its last operator (then only the postfix step may follow) and applies every postfix update it
// makes.
//
// Also marks the simple loops: while and for loops whose condition is one such stretch, whose body
// (in braces or not) is only statements that are each one stretch, and whose step is one stretch or
// nothing. Their LoopTop and Names get `simple_slot` (see syntax_node.h).
void mark_simple_sequences(SyntaxNode* list);

// The node after the stretch that starts at `first`.
SyntaxNode* after_stretch(SyntaxNode* first);
// The statements of a loop's body: the list in its braces, or the body itself.
SyntaxNode* loop_statements(SyntaxNode* loop);
