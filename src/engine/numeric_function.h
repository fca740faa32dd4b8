// User functions that only compute numbers from their parameters: no variable but a parameter, no
// assignment, no string, and calls only to functions of the same kind. Such a call has no effect
// but its result, so it runs as compiled operations on plain numbers; when anything goes otherwise
// (a division by zero, a stop, a deep recursion, a callee of another kind) the whole call is simply
// run again by the general evaluator, which then does and reports exactly what it always does.
#pragma once

#include <cstdint>

#include "engine/value.h"

struct FunctionEntry;
struct Script;

enum class NumericCall : std::int32_t {
  Done,        // *result holds the function's value
  NotNumeric,  // the function or its arguments are of another kind: nothing ran
  Failed,      // something must be seen through the general evaluator: run the call again there
};

// Runs a call of `entry` of `module` with the arguments as a numeric function when it is one.
NumericCall run_numeric_call(Script* module, FunctionEntry* entry, ValueNode* arguments,
                             std::int32_t* result);

// Whether calls of `entry` first try its numeric form (made on first use).
bool has_numeric_form(Script* module, FunctionEntry* entry);

// Makes calls of the entry always take the general way (for comparisons).
void keep_general(FunctionEntry* entry);

// Frees the compiled form kept on the entry.
void release_numeric_function(FunctionEntry* entry);
