// A simple loop whose names are all plain local numbers, run as operations on the numbers' own
// storage: in such a loop every value is a number and nothing but this thread can change them.
#pragma once

#include <cstdint>

struct CallContext;
struct SyntaxNode;

// The parts of a simple loop (see simple_sequence.h).
struct LoopShape {
  SyntaxNode* top;         // LoopTop
  SyntaxNode* condition;   // its stretch
  SyntaxNode* loop;        // the Loop node
  SyntaxNode* statements;  // of the body
  bool in_braces;          // the body is a block with a frame of its own
  SyntaxNode* exit;        // the Jump to LoopEnd; its target ends the loop
  SyntaxNode* step;        // its stretch, or null
};
LoopShape loop_shape(SyntaxNode* top);

enum class CompiledRun : std::int32_t {
  NotCompiled,  // a name is missing, shared or holds a string now: nothing has run
  Ended,        // the condition became false
  Stopped,      // a stop was requested
  HandedOver,   // the stretch in *handed_over must run through the general evaluator (unchanged)
};

// Runs passes of the simple loop as compiled operations while that is possible.
CompiledRun run_compiled_loop(CallContext* context, const LoopShape& shape,
                              SyntaxNode** handed_over);
