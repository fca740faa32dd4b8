// Runs a stretch of plain number arithmetic marked by the parser without value-stack cells.
#pragma once

#include <cstdint>

struct CallContext;
struct ValueNode;
struct SyntaxNode;
struct ValueStack;

// Returned when the stretch must run through the general evaluator instead (nothing changed).
constexpr std::int32_t SIMPLE_NOT_RUN = 100;  // apart from every RunResult

// Runs the stretch that starts at `first` (first->simple_length nodes): RUN_NORMAL with its one
// value pushed (or left out before a statement's end), RUN_FAILED after a reported failure, or
// SIMPLE_NOT_RUN. *last is set to the last node run. A value that a SkipIfTrue node takes next is
// not pushed: the test is made here, and *last is that node, or the node it skips.
std::int32_t run_simple_sequence(CallContext* context, SyntaxNode* first, ValueStack* stack,
                                 SyntaxNode** last);

// The variable a Name node of a stretch reads (a leading "&" aside), or null when there is none.
ValueNode* find_stretch_name(CallContext* context, const SyntaxNode* name);

// Runs the simple loop whose LoopTop is *node (see simple_sequence.h) pass after pass while every
// stretch in it computes plain numbers, with each name looked up once. When the loop ends, *node is
// its LoopEnd. When a stretch must run through the general evaluator, *node is where the general
// run resumes (the pass goes on there, and its back jump may bring the loop back here); the rest
// of a body is run here; then *handed_over is set to the LoopTop. Returns RUN_NORMAL, or the code
// of a failure or stop.
std::int32_t run_simple_loop(CallContext* context, SyntaxNode** node, ValueNode* result,
                             std::int32_t* break_counter, SyntaxNode** handed_over);
