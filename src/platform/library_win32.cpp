#include "platform/library.h"

#include <windows.h>

#include "platform/wide_text.h"

LibraryHandle load_library(const char* path) {
  return reinterpret_cast<LibraryHandle>(LoadLibraryW(widen(path, 932).c_str()));
}

void* find_export(LibraryHandle library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void free_library(LibraryHandle library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}
