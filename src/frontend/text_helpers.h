// Byte-string helpers shared by the front end and the engine: ASCII-only case folding, bounded
// copies, and the string and bracket scanners that the lexer and the directive reader agree on.
// Every scanner steps over CP932 double-byte characters and stops at the terminating NUL.
#pragma once

#include <cstddef>

// Space, tab, CR or LF: the bytes that separate tokens.
inline bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Compares two whole strings, folding only "A"-"Z"; the difference of the first differing folded
// bytes, 0 when equal.
int compare_ignoring_case(const char* a, const char* b);
// The same over at most the first `count` bytes.
int compare_ignoring_case_n(const char* a, const char* b, std::size_t count);
// Every byte in "A"-"Z" becomes its lower-case letter, also a second byte of a double-byte
// character, so that names stored where they are defined and where they are used agree.
void lower_case_in_place(char* text);
// Copies at most size-1 bytes and terminates; nothing when size is 0.
void copy_bounded(char* destination, const char* source, std::size_t size);
// A new exactly sized, terminated copy of `length` bytes; null when memory runs out.
char* copy_text(const char* start, std::size_t length);

// From an opening double quote: its closing quote, or null when the text ends first. A backslash
// takes the next byte into the string whatever it is.
const char* find_string_end(const char* quote);
// From "(", "[" or "{": its partner, counting only brackets of the same type and stepping over
// string literals and "//" comments; null when the text ends first.
const char* find_closing_bracket(const char* opener);
