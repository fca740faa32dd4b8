#include "frontend/text_helpers.h"

#include "base/cp932.h"
#include "platform/memory.h"

namespace {

unsigned char fold(char byte) {
  unsigned char c = static_cast<unsigned char>(byte);
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Steps one character: two bytes for a lead byte unless its second byte is the terminator.
const char* step_character(const char* p) {
  return (is_lead_byte(static_cast<unsigned char>(*p)) && p[1] != '\0') ? p + 2 : p + 1;
}

char closer_of(char opener) {
  switch (opener) {
    case '(':
      return ')';
    case '[':
      return ']';
    default:
      return '}';
  }
}

}  // namespace

int compare_ignoring_case(const char* a, const char* b) {
  return compare_ignoring_case_n(a, b, static_cast<std::size_t>(-1));
}

int compare_ignoring_case_n(const char* a, const char* b, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    int difference = fold(a[i]) - fold(b[i]);
    if (difference != 0 || a[i] == '\0') return difference;
  }
  return 0;
}

void lower_case_in_place(char* text) {
  for (; *text != '\0'; ++text)
    *text = static_cast<char>(fold(*text));
}

void copy_bounded(char* destination, const char* source, std::size_t size) {
  if (size == 0) return;
  std::size_t i = 0;
  for (; i + 1 < size && source[i] != '\0'; ++i)
    destination[i] = source[i];
  destination[i] = '\0';
}

char* copy_text(const char* start, std::size_t length) {
  char* copy = static_cast<char*>(alloc_block(length + 1));
  if (copy == nullptr) return nullptr;
  for (std::size_t i = 0; i < length; ++i)
    copy[i] = start[i];
  copy[length] = '\0';
  return copy;
}

const char* find_string_end(const char* quote) {
  const char* p = quote + 1;
  while (*p != '\0') {
    if (*p == '"') return p;
    if (*p == '\\') {
      if (p[1] == '\0') return nullptr;
      p += 2;
    } else {
      p = step_character(p);
    }
  }
  return nullptr;
}

const char* find_closing_bracket(const char* opener) {
  const char open = *opener;
  const char close = closer_of(open);
  int count = 1;
  const char* p = opener + 1;
  while (*p != '\0') {
    if (*p == open) {
      ++count;
    } else if (*p == close) {
      if (--count == 0) return p;
    } else if (*p == '"') {
      p = find_string_end(p);
      if (p == nullptr) return nullptr;
    } else if (p[0] == '/' && p[1] == '/') {
      while (*p != '\0' && *p != '\r' && *p != '\n')
        ++p;
      continue;
    }
    p = step_character(p);
  }
  return nullptr;
}
