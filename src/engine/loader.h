// Script loading: a script file into a new module of a ScriptSet, wildcard imports, and native
// extension libraries. Paths are Windows paths of CP932 bytes of at most 255 bytes.
#pragma once

#include <cstdint>

struct Script;

// The longest path, terminator included.
constexpr std::int32_t PATH_BUFFER_SIZE = 256;

// Loads `file_name` from `directory` into `script_set` unless a module of that name and directory
// is loaded already. 1 when the module is present afterwards (also after a reported parse error),
// 0 when it could not be made or read (reported).
std::int32_t load_script_file(Script* script_set, const char* directory, const char* file_name);

// Loads every file (not directory) that `pattern`, taken relative to `directory`, matches. 1 when
// the search ran, 0 when the path is too long or nothing matches; nothing is reported.
std::int32_t import_scripts(Script* script_set, const char* directory, const char* pattern);

// Loads a native library for the ScriptSet of `script`: by name first, then from `directory`.
// 1 on success, 0 after "Alloc failed" or "Library load error" was reported; a failed load leaves
// an entry without a handle.
std::int32_t load_library(Script* script, const char* directory, const char* library_name);
