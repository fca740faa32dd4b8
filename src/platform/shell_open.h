// Starting a program or opening a document the way the desktop does, without waiting for it.
#pragma once

#include <cstdint>

// Opens `file` (a script path or an address) with its default action. `parameters` and
// `directory` may be null (not passed); `show` is the window show state where windows have one.
// True when the platform started it.
bool shell_open(const char* file, const char* parameters, const char* directory, std::int32_t show);
