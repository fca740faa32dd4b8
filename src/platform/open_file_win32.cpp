#include <windows.h>

#include "platform/open_file.h"
#include "platform/wide_text.h"

struct ScriptFile {
  HANDLE handle;
};

ScriptFile* open_file(const char* path, OpenMode mode) {
  DWORD access = GENERIC_READ;
  DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
  DWORD disposition = OPEN_EXISTING;
  if (mode != OpenMode::Read) {
    access = GENERIC_READ | GENERIC_WRITE;
    sharing = FILE_SHARE_READ;
    disposition = mode == OpenMode::New ? CREATE_ALWAYS : OPEN_ALWAYS;
  }
  HANDLE handle = CreateFileW(widen(path, 932).c_str(), access, sharing, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return nullptr;
  return new ScriptFile{handle};
}

void close_file(ScriptFile** file) {
  if (*file == nullptr) return;
  CloseHandle((*file)->handle);
  delete *file;
  *file = nullptr;
}

bool file_size(ScriptFile* file, std::uint64_t* size) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(file->handle, &value)) return false;
  *size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

bool seek_file(ScriptFile* file, std::uint64_t distance, std::int32_t method,
               std::uint64_t* position) {
  if (method < 0 || method > 2) return false;
  LARGE_INTEGER move;
  move.QuadPart = static_cast<LONGLONG>(distance);
  LARGE_INTEGER moved;
  if (!SetFilePointerEx(file->handle, move, &moved, static_cast<DWORD>(method))) return false;
  *position = static_cast<std::uint64_t>(moved.QuadPart);
  return true;
}

bool file_position(ScriptFile* file, std::uint64_t* position) {
  LARGE_INTEGER zero{};
  LARGE_INTEGER here;
  if (!SetFilePointerEx(file->handle, zero, &here, FILE_CURRENT)) return false;
  *position = static_cast<std::uint64_t>(here.QuadPart);
  return true;
}

bool read_file(ScriptFile* file, void* buffer, std::uint32_t count, std::uint32_t* got) {
  DWORD read_now = 0;
  if (!ReadFile(file->handle, buffer, count, &read_now, nullptr)) return false;
  *got = read_now;
  return true;
}

bool write_file(ScriptFile* file, const void* data, std::uint32_t count) {
  DWORD written = 0;
  return WriteFile(file->handle, data, count, &written, nullptr) && written == count;
}
