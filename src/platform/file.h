// Files and directory searches, with paths in the form that scripts write: Windows paths of CP932
// bytes ("dir\sub\*.lum"). The platform turns them into its own paths.
#pragma once

#include <cstdint>

// What a probe or a directory search tells about one entry.
struct FileInfo {
  char name[260];  // the entry's own name (searches only), CP932
  bool is_directory;
  std::uint64_t size;
  std::uint32_t attributes;  // Windows attribute bits: 0x10 directory, 0x20 archive, 0x01 read-only
  // Ticks of 100 ns since 1601-01-01 (UTC), as the clock counts them.
  std::int64_t creation_time;
  std::int64_t access_time;
  std::int64_t write_time;
};

// Whether `path` exists; fills `info` (without a name) when it does.
bool probe_file(const char* path, FileInfo* info);
// Reads the first `size` bytes of the file into `buffer`; false when it cannot be opened or holds
// fewer bytes.
bool read_file_bytes(const char* path, char* buffer, std::uint32_t size);

// A directory search with the Windows wildcards: "*" any run of characters, "?" one character,
// letters compared without case. Entries come in the file system's order.
struct FileSearch;
// The first match of `pattern`, or null when nothing matches.
FileSearch* find_first_file(const char* pattern, FileInfo* info);
// The next match; false at the end.
bool find_next_file(FileSearch* search, FileInfo* info);
// Ends a search and clears the caller's pointer; null is ignored.
void find_close(FileSearch** search);

// Ends a search when it goes out of scope.
class FileSearchGuard {
 public:
  explicit FileSearchGuard(FileSearch* search) : search_(search) {}
  ~FileSearchGuard() { find_close(&search_); }
  FileSearchGuard(const FileSearchGuard&) = delete;
  FileSearchGuard& operator=(const FileSearchGuard&) = delete;

 private:
  FileSearch* search_;
};
