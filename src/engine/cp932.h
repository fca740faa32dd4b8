// CP932 (Shift_JIS) byte classes. Lead bytes are CP932's whatever the system code page, so scripts
// behave the same on every system.
#pragma once

// True for the first byte of a two-byte character: 0x81-0x9F and 0xE0-0xFC.
constexpr bool is_lead_byte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
