// Whole-file and directory operations on script paths (CP932, backslashes), relative paths taken
// against the process's current directory. Each returns false when the platform refuses.
#pragma once

#include <cstddef>

bool create_directory(const char* path);
// The directory must be empty.
bool remove_directory(const char* path);
// The current directory as a CP932 path; false when it and its terminator do not fit in `size`.
bool get_current_directory(char* out, std::size_t size);
bool set_current_directory(const char* path);
// An existing target is overwritten; the source is never changed, also when both name one file.
bool copy_file(const char* source, const char* target);
// Fails when the target exists.
bool move_file(const char* source, const char* target);
bool delete_file(const char* path);
