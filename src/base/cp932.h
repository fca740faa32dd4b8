// CP932 (Shift_JIS) byte classes. Lead bytes are CP932's whatever the system code page, so scripts
// behave the same on every system.
#pragma once

#include <cstddef>

// True for the first byte of a two-byte character: 0x81-0x9F and 0xE0-0xFC.
constexpr bool is_lead_byte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The length of the folder part of a path: up to and including its last backslash, 0 without one.
// The second byte of a two-byte character may be 0x5C, which is no separator.
constexpr std::size_t folder_length(const char* path) {
  std::size_t length = 0;
  for (std::size_t i = 0; path[i] != '\0'; ++i) {
    if (path[i] == '\\') length = i + 1;
    if (is_lead_byte(static_cast<unsigned char>(path[i])) && path[i + 1] != '\0') ++i;
  }
  return length;
}
