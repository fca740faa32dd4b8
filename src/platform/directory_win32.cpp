#include <windows.h>

#include "platform/directory.h"
#include "platform/wide_text.h"

namespace {

std::wstring wide_path(const char* path) {
  return widen(path, 932);
}

}  // namespace

bool create_directory(const char* path) {
  return CreateDirectoryW(wide_path(path).c_str(), nullptr) != 0;
}

bool remove_directory(const char* path) {
  return RemoveDirectoryW(wide_path(path).c_str()) != 0;
}

bool get_current_directory(char* out, std::size_t size) {
  wchar_t wide[MAX_PATH + 1];
  DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, wide);
  if (length == 0 || length > MAX_PATH) return false;
  int bytes = WideCharToMultiByte(932, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0 || static_cast<std::size_t>(bytes) > size) return false;
  return WideCharToMultiByte(932, 0, wide, -1, out, bytes, nullptr, nullptr) == bytes;
}

bool set_current_directory(const char* path) {
  return SetCurrentDirectoryW(wide_path(path).c_str()) != 0;
}

bool copy_file(const char* source, const char* target) {
  return CopyFileW(wide_path(source).c_str(), wide_path(target).c_str(), FALSE) != 0;
}

bool move_file(const char* source, const char* target) {
  return MoveFileW(wide_path(source).c_str(), wide_path(target).c_str()) != 0;
}

bool delete_file(const char* path) {
  return DeleteFileW(wide_path(path).c_str()) != 0;
}
