// Files opened by scripts: byte-level reading, writing and positioning. Paths are script paths
// (CP932, backslashes).
#pragma once

#include <cstdint>

enum class OpenMode {
  // Read only; others may read and write; the file must exist.
  Read,
  // Read and write; others may only read; an existing file keeps its contents, a missing one is
  // made.
  Write,
  // As Write, but an existing file is emptied (only when the open is allowed).
  New,
};

struct ScriptFile;

// Null when the platform refuses: a missing file for Read, a directory, a file that another
// Write or New open holds when this one is Write or New, a bad path.
ScriptFile* open_file(const char* path, OpenMode mode);
// Closes the file and clears the caller's pointer; null is ignored.
void close_file(ScriptFile** file);

bool file_size(ScriptFile* file, std::uint64_t* size);
// Moves the position by `distance` from the start (method 0), the current position (1) or the
// end (2); stores the new position. False for another method or a refused move.
bool seek_file(ScriptFile* file, std::uint64_t distance, std::int32_t method,
               std::uint64_t* position);
// The current position; false when the platform cannot tell.
bool file_position(ScriptFile* file, std::uint64_t* position);
// Reads up to `count` bytes from the current position; *got is 0 at the end of the file.
bool read_file(ScriptFile* file, void* buffer, std::uint32_t count, std::uint32_t* got);
// Writes all `count` bytes at the current position.
bool write_file(ScriptFile* file, const void* data, std::uint32_t count);
