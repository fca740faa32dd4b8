// Conversion between the CP932 bytes that scripts use and UTF-8 (terminal text, POSIX file names).
#pragma once

// New strings from alloc_block, or null when memory runs out. A byte sequence that has no
// counterpart in the other encoding becomes "?", so a conversion never fails on bad input.
char* cp932_to_utf8(const char* text);
char* utf8_to_cp932(const char* text);
