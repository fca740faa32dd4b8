// Running a ScriptSet: the top-level code of its modules, events called by the host, and script
// threads (events started by the host and asynchronous calls written &name(...) in scripts).
#pragma once

#include <cstdint>

#include "engine/value.h"

struct Script;
struct SyntaxNode;

// Calls `name` in `module` on a new thread with a deep copy of the arguments (the caller keeps its
// own). Returns the thread identifier, -1 when no thread can be made, 0 when the start record
// or the copy of the arguments cannot be allocated; the caller reports those.
std::int32_t start_event_thread(Script* module, SyntaxNode* call_node, const char* name,
                                ValueNode* arguments, std::int32_t quiet, std::intptr_t host_word);

// The same, and `finished(cookie)` is called on the new thread once the call has returned (not when
// the thread cannot be made): how a host learns that an event it started has ended. An event that
// cannot be started is reported ("Alloc failed", with the event's name).
std::int32_t start_event_thread(Script* module, SyntaxNode* call_node, const char* name,
                                ValueNode* arguments, std::int32_t quiet, std::intptr_t host_word,
                                void (*finished)(void* cookie), void* cookie);

// Runs the top-level code of `first` and of every module after it; each module's top-level
// variables become its shared globals. Stops at the first module whose run fails; false then.
bool run_top_level(Script* first);

// Whether the host's event `name` is a script function of `module` or an export of its libraries;
// when it is neither, "Function not Found" is reported unless `quiet`. Events never reach a
// built-in: "recv", "send" and "connect" are also names of socket built-ins.
bool find_event(Script* module, const char* name, std::int32_t quiet);

// Calls an event function synchronously on the calling thread, in the first module of the
// ScriptSet. Returns the result cell (the caller releases it) or CALL_FAILED.
ValueNode* call_event(Script* script_set, const char* name, ValueNode* arguments,
                      std::int32_t quiet, std::intptr_t host_word);
