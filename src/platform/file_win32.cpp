#include "platform/file.h"

#include <new>

#include <windows.h>

#include <cstring>

#include "platform/memory.h"
#include "platform/wide_text.h"

namespace {

// Script paths are CP932 whatever the system code page: the W functions see the real characters.
std::wstring wide_path(const char* path) {
  return widen(path, 932);
}

std::int64_t ticks_of(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

void fill_info(const WIN32_FIND_DATAW& data, FileInfo* info, bool with_name) {
  *info = FileInfo{};
  info->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  info->attributes = data.dwFileAttributes;
  info->creation_time = ticks_of(data.ftCreationTime);
  info->access_time = ticks_of(data.ftLastAccessTime);
  info->write_time = ticks_of(data.ftLastWriteTime);
  if (with_name) {
    int size = WideCharToMultiByte(932, 0, data.cFileName, -1, info->name, sizeof info->name, "?",
                                   nullptr);
    if (size <= 0) info->name[0] = '\0';
  }
}

}  // namespace

struct FileSearch {
  HANDLE handle;
};

bool probe_file(const char* path, FileInfo* info) {
  WIN32_FIND_DATAW data;
  HANDLE handle = FindFirstFileW(wide_path(path).c_str(), &data);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FindClose(handle);
  fill_info(data, info, false);
  return true;
}

bool read_file_bytes(const char* path, char* buffer, std::uint32_t size) {
  HANDLE file =
      CreateFileW(wide_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::uint32_t done = 0;
  while (done < size) {
    DWORD got = 0;
    if (!ReadFile(file, buffer + done, size - done, &got, nullptr) || got == 0) break;
    done += got;
  }
  CloseHandle(file);
  return done == size;
}

FileSearch* find_first_file(const char* pattern, FileInfo* info) {
  WIN32_FIND_DATAW data;
  HANDLE handle = FindFirstFileW(wide_path(pattern).c_str(), &data);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  auto* search = new (std::nothrow) FileSearch{handle};
  if (search == nullptr) {
    FindClose(handle);
    return nullptr;
  }
  fill_info(data, info, true);
  return search;
}

bool find_next_file(FileSearch* search, FileInfo* info) {
  WIN32_FIND_DATAW data;
  if (!FindNextFileW(search->handle, &data)) return false;
  fill_info(data, info, true);
  return true;
}

void find_close(FileSearch** search) {
  if (*search == nullptr) return;
  FindClose((*search)->handle);
  delete *search;
  *search = nullptr;
}
