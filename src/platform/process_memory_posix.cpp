#include "platform/process_memory.h"

#include <unistd.h>

#include <cstdio>

std::size_t resident_memory_bytes() {
  // The second field of /proc/self/statm is the resident size in pages.
  std::FILE* file = std::fopen("/proc/self/statm", "r");
  if (file == nullptr) return 0;
  unsigned long size = 0;
  unsigned long resident = 0;
  int read = std::fscanf(file, "%lu %lu", &size, &resident);
  std::fclose(file);
  if (read != 2) return 0;
  long page = sysconf(_SC_PAGESIZE);
  return page > 0 ? static_cast<std::size_t>(resident) * static_cast<std::size_t>(page) : 0;
}
