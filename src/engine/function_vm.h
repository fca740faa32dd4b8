// Whole function bodies and top levels compiled once, on first use, into an instruction array and
// run by a loop of their own, with the function's variables in resolved slots and numbers and
// literals unboxed on the stack.
#pragma once

#include <cstdint>

#include "engine/value.h"

struct FunctionEntry;
struct Script;

// Runs the call in the function's compiled form: its result, or CALL_FAILED after a reported
// failure ("Alloc failed" when the form or the call's tables could not be made).
ValueNode* run_function_vm(Script* module, FunctionEntry* entry, ValueNode* arguments,
                           std::intptr_t host_word);

// Offers an event's dispatch to an argmatch function, with the event's arguments, the first of
// them as `subject` (null when memory for it ran out): its pattern is searched there (once), and
// when it matches the function runs. *matched, and when it matched *code RUN_NORMAL, RUN_EXIT (it
// ended at an exit) or RUN_FAILED (after a reported failure) and *bound false when its binding
// failed or its body is empty (nothing ran; the dispatch ends).
void run_argmatch_vm(Script* module, FunctionEntry* entry, ValueNode* arguments,
                     const char* subject, std::intptr_t host_word, bool* matched,
                     std::int32_t* code, bool* bound);

void release_function_vm(FunctionEntry* entry);

// Runs the module's top-level code in its compiled form, in `frame` (the module's top-level frame):
// false after a reported failure. The variables the run left are then the frame's chain.
bool run_top_level_vm(Script* module, CallContext* frame);

// Frees the activation records the calling thread keeps for its next calls (release_thread_caches).
void release_compiled_activations();
