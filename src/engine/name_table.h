// The names a function's code uses, each with a slot number: a frame keeps its variables of those
// names in a slot array beside its chain, so that a name in the code finds its variable by number
// instead of walking the chains. The chain stays what every other lookup reads; the slots only
// mirror it.
#pragma once

#include <cstdint>

struct Script;

struct NameTable {
  std::int32_t count;  // names, numbered 0 to count - 1
  std::uint32_t mask;  // the index's capacity - 1 (a power of two)
  const char** names;  // borrowed from the nodes (without a leading "&"), or owned_names
  // Names only a literal's «%expr%» parts or a pattern's capture targets use: the code parsed from
  // them at run time finds slots for them as well.
  char** owned_names;
  std::int32_t owned_count;
  std::int32_t* index;   // name number + 1 by strong hash, 0 where free
  NameTable* next;       // the module's tables, for release
  const Script* module;  // whose code the table covers
};

// Gives the module's top level and each of its definitions a table, and every Name and DeclareName
// node its table and slot. Code without a table (memory ran out) looks names up by the chains.
void assign_name_tables(Script* module);
// The slot of `name` in the table, or -1.
std::int32_t find_name_slot(const NameTable* table, const char* name);
void release_name_tables(Script* module);
