// Runs a stretch of plain number arithmetic marked by the parser without value-stack cells.
#pragma once

#include <cstdint>

struct CallContext;
struct SyntaxNode;
struct ValueStack;

// Returned when the stretch must run through the general evaluator instead (nothing changed).
constexpr std::int32_t SIMPLE_NOT_RUN = 100;  // apart from every RunResult

// Runs the stretch that starts at `first` (first->simple_length nodes): RUN_NORMAL with its one
// value pushed (or left out before a statement's end), RUN_FAILED after a reported failure, or
// SIMPLE_NOT_RUN. *last is set to the last node run.
std::int32_t run_simple_sequence(CallContext* context, SyntaxNode* first, ValueStack* stack,
                                 SyntaxNode** last);
