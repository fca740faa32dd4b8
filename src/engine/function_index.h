// The table that finds a module's functions by name. Filled while the module is parsed, one slot
// per distinct name: the first definition of a name keeps it, as in the definition list. Read by
// many script threads at once; only written before any of them runs.
#pragma once

#include <cstdint>

struct FunctionEntry;
struct Script;

struct FunctionIndex {
  FunctionEntry** slots;   // owned; null until the first function is added
  std::uint32_t capacity;  // a power of two, or 0
  std::uint32_t count;
};

// Adds `entry` unless a function of its name is there already. False when memory ran out (the
// table is unchanged then).
bool index_function(Script* module, FunctionEntry* entry);
// The first function of the module with exactly this name (names are stored lower-case), or null.
FunctionEntry* find_function(const Script* module, const char* name);
// Empties the table and releases its memory.
void release_function_index(Script* module);
