// UTF-8 <-> CP932 byte conversion of the utf8 extension, on its own tables only, so that every
// build converts alike.
//
// Both converters read exactly `count` bytes (0 bytes included), never past them, and write into
// `out` when it is not null; they return the number of bytes written (or that would be written,
// with a null `out`, which lets a caller size the result exactly).
//
// Whatever cannot be converted becomes one "?": in UTF-8, each maximal ill-formed subsequence
// (a stray continuation byte, a sequence cut short, an overlong form, a surrogate, a value above
// U+10FFFF) and each character that CP932 lacks; in CP932, a lead byte without a valid trail byte
// (the byte after it is then read again on its own) and a lead/trail pair that is no character.
//
// CP932 decodes as Windows' code page 932 does (0x80, 0xA0 and 0xFD-0xFF included, the
// user-defined area as private use). Where several CP932 pairs decode to one character, encoding
// gives the pair Windows gives; a few JIS look-alikes (WAVE DASH, MINUS SIGN, YEN SIGN, ...) encode
// to the CP932 character a Windows user expects. The tables say which (make_cp932_table.py).
#pragma once

#include <cstddef>

namespace utf8ext {

// UTF-8 to CP932; never longer than the input. A byte order mark that begins the text is dropped.
std::size_t utf8_to_cp932(const unsigned char* in, std::size_t count, unsigned char* out);

// CP932 to UTF-8; at most three bytes per input byte.
std::size_t cp932_to_utf8(const unsigned char* in, std::size_t count, unsigned char* out);

}  // namespace utf8ext
