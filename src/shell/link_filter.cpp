#include "shell/link_filter.h"

#include <cstddef>
#include <initializer_list>

namespace {

bool starts_with_ignoring_case(const char* text, const char* prefix) {
  for (std::size_t i = 0; prefix[i] != '\0'; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;  // also ends at the text's NUL
  }
  return true;
}

}  // namespace

bool link_may_open(const char* text) {
  if (text == nullptr) return false;
  for (const char* scheme : {"http://", "https://", "ftp://", "mailto:"}) {
    if (starts_with_ignoring_case(text, scheme)) return true;
  }
  return false;
}
