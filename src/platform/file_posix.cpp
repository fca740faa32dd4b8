#include "platform/file.h"

#include <new>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "base/cp932.h"
#include "platform/codepage.h"
#include "platform/memory.h"
#include "platform/native_path_posix.h"

namespace {

// Ticks between 1601-01-01 and 1970-01-01.
constexpr std::int64_t UNIX_EPOCH_TICKS = 116444736000000000LL;

std::int64_t ticks_of(std::int64_t seconds, std::int64_t nanoseconds) {
  return UNIX_EPOCH_TICKS + seconds * 10000000 + nanoseconds / 100;
}

bool fill_info(const std::string& native, FileInfo* info) {
  struct statx status {};
  if (statx(AT_FDCWD, native.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &status) != 0)
    return false;
  info->is_directory = S_ISDIR(status.stx_mode);
  // Directories have no size of their own, as Windows reports them.
  info->size = info->is_directory ? 0 : status.stx_size;
  // Attribute bits as Windows reports them for such a file.
  info->attributes = info->is_directory ? 0x10 : 0x20;
  if ((status.stx_mode & S_IWUSR) == 0) info->attributes |= 0x01;
  info->write_time = ticks_of(status.stx_mtime.tv_sec, status.stx_mtime.tv_nsec);
  info->access_time = ticks_of(status.stx_atime.tv_sec, status.stx_atime.tv_nsec);
  // Without a birth time the last write is the closest thing to a creation time.
  info->creation_time = (status.stx_mask & STATX_BTIME) != 0
                            ? ticks_of(status.stx_btime.tv_sec, status.stx_btime.tv_nsec)
                            : info->write_time;
  return true;
}

char fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Length of the character at `text`: 2 for a CP932 double-byte character, else 1.
std::size_t char_length(const char* text) {
  return is_lead_byte(static_cast<unsigned char>(text[0])) && text[1] != '\0' ? 2 : 1;
}

bool same_char(const char* a, const char* b) {
  if (char_length(a) != char_length(b)) return false;
  return char_length(a) == 1 ? fold(*a) == fold(*b) : a[0] == b[0] && a[1] == b[1];
}

// Windows wildcard match over CP932 names: "*" any run, "?" one character; "*.*" also matches
// names without a dot, as it does on Windows.
bool wildcard_match(const char* mask, const char* name) {
  if (std::strcmp(mask, "*.*") == 0) return true;
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*mask == '*') {
      star = mask++;
      resume = name;
    } else if (*mask == '?') {
      ++mask;
      name += char_length(name);
    } else if (*mask != '\0' && same_char(mask, name)) {
      mask += char_length(mask);
      name += char_length(name);
    } else if (star != nullptr) {
      mask = star + 1;
      resume += char_length(resume);
      name = resume;
    } else {
      return false;
    }
  }
  while (*mask == '*')
    ++mask;
  return *mask == '\0';
}

}  // namespace

struct FileSearch {
  DIR* directory;
  std::string native_directory;  // ends with "/" unless empty
  std::string mask;              // CP932
};

bool probe_file(const char* path, FileInfo* info) {
  *info = FileInfo{};
  return fill_info(native_path(path), info);
}

bool read_file_bytes(const char* path, char* buffer, std::uint32_t size) {
  int file = open(native_path(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  std::uint32_t done = 0;
  while (done < size) {
    ssize_t got = read(file, buffer + done, size - done);
    if (got <= 0) break;
    done += static_cast<std::uint32_t>(got);
  }
  close(file);
  return done == size;
}

FileSearch* find_first_file(const char* pattern, FileInfo* info) {
  // Split the CP932 pattern at its last separator, stepping over double-byte characters.
  const char* mask = pattern;
  for (const char* cursor = pattern; *cursor != '\0'; cursor += char_length(cursor)) {
    if (*cursor == '\\' || *cursor == '/') mask = cursor + 1;
  }
  std::string directory_part(pattern, static_cast<std::size_t>(mask - pattern));
  auto* search = new (std::nothrow) FileSearch{nullptr, native_path(directory_part.c_str()), mask};
  if (search == nullptr) return nullptr;
  search->directory =
      opendir(search->native_directory.empty() ? "." : search->native_directory.c_str());
  if (search->directory == nullptr || !find_next_file(search, info)) {
    find_close(&search);
    return nullptr;
  }
  return search;
}

bool find_next_file(FileSearch* search, FileInfo* info) {
  while (dirent* entry = readdir(search->directory)) {
    char* name = utf8_to_cp932(entry->d_name);
    if (name == nullptr) return false;
    bool usable =
        std::strlen(name) < sizeof info->name && wildcard_match(search->mask.c_str(), name);
    if (usable) {
      *info = FileInfo{};
      std::memcpy(info->name, name, std::strlen(name) + 1);
      usable = fill_info(search->native_directory + entry->d_name, info);
    }
    release(&name);
    if (usable) return true;
  }
  return false;
}

void find_close(FileSearch** search) {
  if (*search == nullptr) return;
  if ((*search)->directory != nullptr) closedir((*search)->directory);
  delete *search;
  *search = nullptr;
}
