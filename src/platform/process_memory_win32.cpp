#include "platform/process_memory.h"

#include <windows.h>

#include <psapi.h>

std::size_t resident_memory_bytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
  return counters.WorkingSetSize;
}
