// Address text that needs nothing from the platform.
#include <cstdio>

#include "platform/socket.h"

void format_dotted_address(std::uint32_t address, char* text) {
  std::snprintf(text, 16, "%u.%u.%u.%u", static_cast<unsigned>(address >> 24),
                static_cast<unsigned>((address >> 16) & 0xFF),
                static_cast<unsigned>((address >> 8) & 0xFF),
                static_cast<unsigned>(address & 0xFF));
}
