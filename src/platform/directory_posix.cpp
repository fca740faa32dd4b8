#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/directory.h"
#include "platform/memory.h"
#include "platform/native_path_posix.h"

namespace {

// Copies the bytes of an open source into a new or emptied target; the target keeps the source's
// permission bits. `exclusive` refuses an existing target.
bool copy_contents(const std::string& source, const std::string& target, bool exclusive) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat status {};
  if (fstat(in, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(in);
    return false;
  }
  // Copying a file onto itself would empty it before it is read.
  struct stat existing {};
  if (stat(target.c_str(), &existing) == 0 && existing.st_dev == status.st_dev &&
      existing.st_ino == status.st_ino) {
    close(in);
    return false;
  }
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
  int out = open(target.c_str(), flags, status.st_mode & 07777);
  if (out < 0) {
    close(in);
    return false;
  }
  char buffer[65536];
  bool ok = true;
  for (;;) {
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    for (ssize_t done = 0; done < got && ok;) {
      ssize_t written = write(out, buffer + done, static_cast<std::size_t>(got - done));
      if (written < 0 && errno == EINTR) continue;
      ok = written > 0;
      if (ok) done += written;
    }
    if (!ok) break;
  }
  close(in);
  if (close(out) != 0) ok = false;
  return ok;
}

// An empty native path stands for a path that could not be converted.
bool usable(const std::string& native) {
  return !native.empty();
}

}  // namespace

bool create_directory(const char* path) {
  std::string native = native_path(path);
  return usable(native) && mkdir(native.c_str(), 0777) == 0;
}

bool remove_directory(const char* path) {
  std::string native = native_path(path);
  return usable(native) && rmdir(native.c_str()) == 0;
}

bool get_current_directory(char* out, std::size_t size) {
  char native[PATH_MAX];
  if (getcwd(native, sizeof native) == nullptr) return false;
  char* text = utf8_to_cp932(native);
  if (text == nullptr) return false;
  // Scripts see Windows separators.
  std::size_t length = std::strlen(text);
  bool fits = length < size;
  if (fits) {
    for (std::size_t i = 0; i <= length; ++i)
      out[i] = text[i] == '/' ? '\\' : text[i];
  }
  release(&text);
  return fits;
}

bool set_current_directory(const char* path) {
  std::string native = native_path(path);
  return usable(native) && chdir(native.c_str()) == 0;
}

bool copy_file(const char* source, const char* target) {
  std::string from = native_path(source);
  std::string to = native_path(target);
  return usable(from) && usable(to) && copy_contents(from, to, false);
}

bool move_file(const char* source, const char* target) {
  std::string from = native_path(source);
  std::string to = native_path(target);
  if (!usable(from) || !usable(to)) return false;
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EINVAL || errno == ENOSYS) {
    // A file system without the no-replace rename: test, then rename.
    struct stat existing {};
    if (lstat(to.c_str(), &existing) == 0) return false;
    if (rename(from.c_str(), to.c_str()) == 0) return true;
  }
  if (errno != EXDEV) return false;
  // Another file system: copy, then remove the source only when the copy is complete.
  if (!copy_contents(from, to, true)) {
    return false;
  }
  return unlink(from.c_str()) == 0;
}

bool delete_file(const char* path) {
  std::string native = native_path(path);
  return usable(native) && unlink(native.c_str()) == 0;
}
