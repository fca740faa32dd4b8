#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/native_path_posix.h"
#include "platform/open_file.h"

struct ScriptFile {
  int descriptor;
};

ScriptFile* open_file(const char* path, OpenMode mode) {
  std::string native = native_path(path);
  if (native.empty()) return nullptr;
  bool writing = mode != OpenMode::Read;
  int flags = (writing ? O_RDWR | O_CREAT : O_RDONLY) | O_CLOEXEC;
  int descriptor = open(native.c_str(), flags, 0666);
  if (descriptor < 0) return nullptr;
  struct stat status {};
  bool usable = fstat(descriptor, &status) == 0 && !S_ISDIR(status.st_mode);
  // Only one writer at a time, readers alongside it: an exclusive lock on each writing open, so
  // a second writer fails before it can empty the file.
  if (usable && writing) usable = flock(descriptor, LOCK_EX | LOCK_NB) == 0;
  if (usable && mode == OpenMode::New) usable = ftruncate(descriptor, 0) == 0;
  if (!usable) {
    close(descriptor);
    return nullptr;
  }
  return new ScriptFile{descriptor};
}

void close_file(ScriptFile** file) {
  if (*file == nullptr) return;
  close((*file)->descriptor);
  delete *file;
  *file = nullptr;
}

bool file_size(ScriptFile* file, std::uint64_t* size) {
  // Only a disk file has a size, as on Windows; a device or a pipe has none.
  struct stat status {};
  if (fstat(file->descriptor, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  *size = static_cast<std::uint64_t>(status.st_size);
  return true;
}

bool seek_file(ScriptFile* file, std::uint64_t distance, std::int32_t method,
               std::uint64_t* position) {
  static constexpr int kWhence[3] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (method < 0 || method > 2 || distance > static_cast<std::uint64_t>(INT64_MAX)) return false;
  off_t moved = lseek(file->descriptor, static_cast<off_t>(distance), kWhence[method]);
  if (moved < 0) return false;
  *position = static_cast<std::uint64_t>(moved);
  return true;
}

bool file_position(ScriptFile* file, std::uint64_t* position) {
  off_t here = lseek(file->descriptor, 0, SEEK_CUR);
  if (here < 0) return false;
  *position = static_cast<std::uint64_t>(here);
  return true;
}

bool read_file(ScriptFile* file, void* buffer, std::uint32_t count, std::uint32_t* got) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    ssize_t read_now = read(file->descriptor, bytes + done, count - done);
    if (read_now < 0 && errno == EINTR) continue;
    if (read_now < 0) return false;
    if (read_now == 0) break;
    done += static_cast<std::uint32_t>(read_now);
  }
  *got = done;
  return true;
}

bool write_file(ScriptFile* file, const void* data, std::uint32_t count) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::uint32_t done = 0;
  while (done < count) {
    ssize_t written = write(file->descriptor, bytes + done, count - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::uint32_t>(written);
  }
  return true;
}
