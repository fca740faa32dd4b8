// Argument helpers shared by the built-ins, and the byte-hash layout (element i holds byte i).
#pragma once

#include <cstdint>

#include "engine/value.h"
#include "platform/clock.h"

// The argument at `index` (0 is the first) of an argument chain, or null when there are fewer.
inline const ValueNode* nth_argument(const ValueNode* arguments, int index) {
  for (; arguments != nullptr && index > 0; --index)
    arguments = arguments->next;
  return arguments;
}

// Result helpers. An owned string goes into the result; null (memory ran out) fails with
// "NAME: Alloc failed".
std::int32_t alloc_failed(char* message, const char* name);
std::int32_t return_text(ValueNode* result, char* text, char* message, const char* name);
std::int32_t return_number(ValueNode* result, std::int32_t number);

// null gives 0; otherwise the number, or the decimal reading of the text.
std::int32_t read_int_arg(const ValueNode* argument);
// A new string: null gives ""; otherwise a copy of the text, or a number's decimal text.
// Null only when memory runs out.
char* read_string_arg(const ValueNode* argument);

// Writes byte i as the number of element i of the owner's hash, reusing the first elements and
// appending where the chain is shorter; elements past `count` stay. A count of 0 sets element 0 to
// 0. Runs under the ScriptSet lock when the owner is shared. False when a cell cannot be made.
bool store_bytes_in_hash(CallContext* context, ValueNode* owner, const unsigned char* bytes,
                         std::int32_t count);
// A new buffer with byte i = the low 8 bits of element i's number, or the first byte of its string
// (0 for an empty string); *count receives the number of elements. Null when memory runs out.
unsigned char* read_bytes_from_hash(const ValueNode* argument, std::int32_t* count);

// Hangs the time hash (the eight keyed numbers "year" … "milliseconds") on the result and marks it
// a hash. False when memory runs out (the result is left without elements).
bool time_hash_from_system_time(const SystemTime& time, ValueNode* result);
// Reads the eight keyed fields of a time hash, in any order; other elements are ignored, a later
// duplicate key wins, missing fields are 0, values are cut to 16 bits.
SystemTime system_time_from_time_hash(const ValueNode* argument);
