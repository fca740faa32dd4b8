#include "platform/library.h"

#include <dlfcn.h>

#include <string>

#include "platform/native_path_posix.h"

namespace {

bool ends_with_dll(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return tail == ".dll";
}

}  // namespace

// Scripts name Windows libraries; "x.dll" that does not load here is looked for as "x.so".
LibraryHandle load_library(const char* path) {
  std::string native = native_path(path);
  if (native.empty()) return nullptr;
  LibraryHandle library = dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr && ends_with_dll(native)) {
    native.replace(native.size() - 4, 4, ".so");
    library = dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  return library;
}

void* find_export(LibraryHandle library, const char* name) {
  return library == nullptr ? nullptr : dlsym(library, name);
}

void free_library(LibraryHandle library) {
  if (library != nullptr) dlclose(library);
}
