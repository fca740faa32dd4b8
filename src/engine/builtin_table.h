// The table of built-in functions that every script can call, and the native call operation shared
// by built-ins and extension libraries.
#pragma once

#include <cstdint>

#include "engine/value.h"

struct BuiltinRow {
  const char* name;  // "_sfunc_" followed by the script-visible name
  std::int32_t name_hash;
  NativeFunction entry;
};

constexpr int BUILTIN_COUNT = 107;
extern const BuiltinRow BuiltinTable[BUILTIN_COUNT];

// The entry point of the first row whose full name equals `full_name` (case-sensitive), or null.
NativeFunction find_builtin(const char* full_name);
// The row index of a full name, or -1.
int find_builtin_row(const char* full_name);

// Whether a native function only reads its arguments (it changes no chain through them).
bool only_reads_arguments(NativeFunction entry);

// Calls a native function with the calling convention; returns its result cell or CALL_FAILED after
// reporting the failure. Unless the function only reads its arguments (`reads_only`), indexes of
// this thread's chains are set aside afterwards.
ValueNode* call_native(CallContext* context, NativeFunction entry, const char* called_name,
                       ValueNode* arguments, bool reads_only = false);
// The same with a fresh result cell of the caller's (a number 0, no elements): true when the
// function succeeded; after a reported failure the cell may hold whatever the function left.
bool call_native_into(CallContext* context, NativeFunction entry, const char* called_name,
                      ValueNode* arguments, bool reads_only, ValueNode* result);

// The built-in `error`: shows a red line in the server view through the host.
std::int32_t LUMO_CALL builtin_error(CallContext* context, ValueNode* arguments, ValueNode* result,
                                     char* message);
