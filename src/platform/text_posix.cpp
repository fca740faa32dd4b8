// The order that Windows' default string comparison gives to the English and Japanese texts that
// scripts use, so that scripts sort the same on every system:
// - first by characters with letter case folded, where symbols come before digits, digits before
//   letters, and every two-byte or half-width kana character after all of those, in code order;
//   hyphens and apostrophes count only when everything else is equal ("co-op" sorts beside "coop");
// - then, at the first difference of case, lower case before upper case;
// - then by the hyphens and apostrophes, and finally byte by byte, so only equal texts compare
// equal.
#include "platform/text.h"

#include <cstdint>
#include <cstring>

#include "base/cp932.h"

namespace {

bool is_ignorable(unsigned char byte) {
  return byte == '-' || byte == '\'';
}

// Primary weight of the character at *cursor; advances the cursor.
std::uint32_t primary_weight(const unsigned char** cursor) {
  unsigned char byte = **cursor;
  if (is_lead_byte(byte) && (*cursor)[1] != 0) {
    std::uint32_t code = (static_cast<std::uint32_t>(byte) << 8) | (*cursor)[1];
    *cursor += 2;
    return 0x20000 + code;
  }
  ++*cursor;
  if (byte >= 'A' && byte <= 'Z') return 0x300 + (byte - 'A' + 'a');
  if (byte >= 'a' && byte <= 'z') return 0x300 + byte;
  if (byte >= '0' && byte <= '9') return 0x200 + byte;
  if (byte >= 0x80) return 0x10000 + byte;  // half-width kana and other single bytes
  return 0x100 + byte;                      // controls and symbols
}

int sign(long long difference) {
  return difference < 0 ? -1 : (difference > 0 ? 1 : 0);
}

int compare_primary(const unsigned char* a, const unsigned char* b) {
  for (;;) {
    while (is_ignorable(*a))
      ++a;
    while (is_ignorable(*b))
      ++b;
    if (*a == 0 || *b == 0) return sign(static_cast<long long>(*a != 0) - (*b != 0));
    std::uint32_t weight_a = primary_weight(&a);
    std::uint32_t weight_b = primary_weight(&b);
    if (weight_a != weight_b) return weight_a < weight_b ? -1 : 1;
  }
}

int compare_case(const unsigned char* a, const unsigned char* b) {
  for (; *a != 0 && *b != 0;) {
    while (is_ignorable(*a))
      ++a;
    while (is_ignorable(*b))
      ++b;
    if (*a == 0 || *b == 0) break;
    bool upper_a = *a >= 'A' && *a <= 'Z';
    bool upper_b = *b >= 'A' && *b <= 'Z';
    if (upper_a != upper_b) return upper_a ? 1 : -1;
    int step = is_lead_byte(*a) && a[1] != 0 ? 2 : 1;
    a += step;
    b += step;
  }
  return 0;
}

}  // namespace

int compare_text_locale(const char* a, const char* b) {
  auto* left = reinterpret_cast<const unsigned char*>(a);
  auto* right = reinterpret_cast<const unsigned char*>(b);
  if (int order = compare_primary(left, right); order != 0) return order;
  if (int order = compare_case(left, right); order != 0) return order;
  return sign(std::strcmp(a, b));
}
