// Dynamic libraries: native extensions loaded by scripts.
#pragma once

using LibraryHandle = void*;

// Loads a library by path; null when it cannot be loaded.
LibraryHandle load_library(const char* path);
// The address of an exported symbol, or null.
void* find_export(LibraryHandle library, const char* name);
// Unloads a library; null is ignored.
void free_library(LibraryHandle library);
