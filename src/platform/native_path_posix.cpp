#include "platform/native_path_posix.h"

#include "platform/codepage.h"
#include "platform/memory.h"

std::string native_path(const char* windows_path) {
  char* decoded = cp932_to_utf8(windows_path);
  if (decoded == nullptr) return std::string();
  std::string path(decoded);
  release(&decoded);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}
