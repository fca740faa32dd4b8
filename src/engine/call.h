// Function calls: name resolution with the call-site cache, user functions with parameter binding
// and `arg`, native functions, and the pattern dispatch of argmatch functions.
#pragma once

#include <cstdint>

#include "engine/value.h"

struct FunctionEntry;
struct Script;
struct SyntaxNode;

// Calls `name` with the argument chain (the caller keeps and releases it). Returns the result cell
// or CALL_FAILED; with `quiet`, an unknown name fails without a report.
ValueNode* call_function(CallContext* context, SyntaxNode* call_node, const char* name,
                         ValueNode* arguments, std::int32_t quiet);
// An asynchronous call `&name(...)`: the cell of the new thread's identifier, or null after
// "Alloc failed" is reported (no thread runs then). The caller keeps the arguments.
ValueNode* start_async_call(CallContext* context, SyntaxNode* node, ValueNode* arguments);
// Whether `name` is a function of the module itself or an export of one of its libraries, never a
// built-in. The host's events are found this way: "recv", "send" and "connect" are also built-ins.
bool is_script_function(Script* module, const char* name);
ValueNode* call_user_function(Script* module, FunctionEntry* entry, ValueNode* arguments,
                              std::intptr_t host_word);
// Runs every argmatch function of the module whose pattern matches the first argument: the number
// run, or -1. `stop_dispatch` (may be null) is set when a function ran `exit`.
std::int32_t dispatch_module(Script* module, ValueNode* arguments, std::int32_t* stop_dispatch,
                             std::intptr_t host_word);
std::int32_t dispatch_all(Script* script_set, ValueNode* arguments, std::intptr_t host_word);

// Binds a declared parameter to an argument: a reference parameter shares the argument's Value,
// any other takes a copy. False after a reported failure ("Alloc failed" placed at `position`).
bool bind_parameter(CallContext* frame, ValueNode* local, bool by_reference, ValueNode* argument,
                    const char* position);

// The node after the rest of this parameter (its default value): after the next top-level Comma,
// or the definition's Call node. Commas of calls inside a default value do not count.
SyntaxNode* next_parameter(SyntaxNode* node, SyntaxNode* call);
// Whether every parameter from `node` on (up to the definition's `call`) has a default, an Assign
// before its Comma or the Call node: null when all have, else the node where the check stopped
// (where "Argument error" is reported).
SyntaxNode* parameter_without_default(SyntaxNode* node, SyntaxNode* call);

// The user function a call node has been found to reach: a call of it may go straight to its
// compiled form with the caller's values. Null otherwise.
FunctionEntry* compiled_call_target(SyntaxNode* call_node);
// A call made straight to a compiled form is counted as call_function counts a call: false, with
// "Stack overflow" reported, past the limits. Each true is matched by leave_direct_call().
bool enter_direct_call(CallContext* context, const char* name);
void leave_direct_call();
// A call whose target the call node has been found to be a built-in that only reads its
// arguments, counted as call_function counts it, into the caller's fresh result cell (see
// call_native_into). False after a reported failure.
bool call_reader_into(CallContext* context, SyntaxNode* call_node, const char* name,
                      ValueNode* arguments, ValueNode* result);

// Calls deeper than this on one thread fail with "Stack overflow".
constexpr std::int32_t MAX_CALL_DEPTH = 10000;
// Bytes of stack the calls of one thread may take from its first call on; script and connection
// threads are made with room to spare.
constexpr std::uintptr_t CALL_STACK_BUDGET = 4u << 20;
// Whether `more` calls nested in the running one would pass either limit.
bool call_too_deep(std::int32_t more);
