// How much memory the process holds, for tests and benchmarks that check memory stays bounded.
#pragma once

#include <cstddef>

// The process's resident set (working set on Windows) in bytes; 0 when it cannot be read.
std::size_t resident_memory_bytes();
