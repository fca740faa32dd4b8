// POSIX only: a script's Windows path (CP932, backslashes) as a native path (UTF-8, slashes).
#pragma once

#include <string>

// The conversion decodes first, so a CP932 trail byte 0x5C never becomes a separator.
std::string native_path(const char* windows_path);
