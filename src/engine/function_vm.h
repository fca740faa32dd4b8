// Whole function bodies compiled once, on their first call, into an instruction array and run by a
// loop of their own, with the function's variables in resolved slots and numbers and literals
// unboxed on the stack. A body that uses anything the loop does not run takes the general
// evaluator, as a whole.
#pragma once

#include <cstdint>

#include "engine/value.h"

struct FunctionEntry;
struct Script;

// Runs the call in the compiled form when the function has one and the call fits it: true, with
// *result set (CALL_FAILED after a reported failure). False when nothing has run.
bool run_function_vm(Script* module, FunctionEntry* entry, ValueNode* arguments,
                     std::intptr_t host_word, ValueNode** result);

// Offers an event's dispatch to an argmatch function in its compiled form, with the event's
// arguments, the first of them as `subject`: its pattern is searched there (once), and when it
// matches the function runs. True, with *matched, and when it matched *code RUN_NORMAL, RUN_EXIT
// (it ended at an exit) or RUN_FAILED (after a reported failure) and *bound false when its
// binding failed (nothing ran). False when nothing has run, not even the search.
bool run_argmatch_vm(Script* module, FunctionEntry* entry, ValueNode* arguments,
                     const char* subject, std::intptr_t host_word, bool* matched,
                     std::int32_t* code, bool* bound);

void release_function_vm(FunctionEntry* entry);

// Runs the module's top-level code in its compiled form, in `frame` (the module's top-level frame),
// when it has one: true, with *ok false after a reported failure; the variables the run left are
// then the frame's chain, as a general run leaves them. False when nothing has run.
bool run_top_level_vm(Script* module, CallContext* frame, bool* ok);

// Frees the activation records the calling thread keeps for its next calls (release_thread_caches).
void release_compiled_activations();
