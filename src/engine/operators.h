// The operators on values, and the plain literals that are read in place.
#pragma once

#include "base/syntax_node.h"
#include "engine/value.h"

// Any binary operator on two entries, as an expression runs it: the result's new cell, or null
// after a reported failure. The operands stay the caller's; a temporary's string may move into
// the result.
ValueNode* binary_result(CallContext* context, NodeKind kind, ValueNode* left, ValueNode* right);
// The Equal operator on two entries (a hash's elements compared in depth); false after a reported
// failure.
bool entries_equal(CallContext* context, ValueNode* left, ValueNode* right, bool* equal);
// A hash assigned: the target (a variable, an element, or a reference to one) takes a copy of the
// source's elements, which replaces its own; its scalar stays. False after "Alloc failed" is
// reported (the target keeps its old elements then).
bool assign_elements(CallContext* context, ValueNode* target, ValueNode* source);

// A string literal without escapes or «%expr%» parts: its text is its value.
bool is_plain_literal(const SyntaxNode* node);
// What a plain literal read in place by a built-in refers to: a cell with the literal's text, kept
// with the literal on the heap. Nothing writes to it: only built-ins that read their arguments see
// it. Made on first use by whichever thread comes first; null when memory runs out.
ValueNode* literal_constant(SyntaxNode* node);
// A reference to a plain literal's constant cell, for a built-in that only reads its arguments;
// null when memory runs out.
ValueNode* literal_reference(SyntaxNode* literal);
// A case label that is a plain literal or a number alone (`case "PING":`, `case 1:`) is compared
// with the switch's value in place; false after a reported failure.
bool is_literal_label(const SyntaxNode* label);
bool literal_label_equals(CallContext* context, const SyntaxNode* label, ValueNode* value,
                          bool* equal);
