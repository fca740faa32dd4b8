#include "platform/library.h"

#include <dlfcn.h>

LibraryHandle load_library(const char* path) {
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* find_export(LibraryHandle library, const char* name) {
  return library == nullptr ? nullptr : dlsym(library, name);
}

void free_library(LibraryHandle library) {
  if (library != nullptr) dlclose(library);
}
