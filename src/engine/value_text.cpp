// Strings and conversions between the two scalar kinds.
#include <cstring>

#include "base/cp932.h"
#include "engine/value.h"
#include "platform/memory.h"

char* alloc_string(std::size_t length) {
  if (length > MAX_STRING_LENGTH) return nullptr;
  return static_cast<char*>(alloc_block(length + 1));
}

char* dup_string(const char* text) {
  if (text == nullptr) return nullptr;
  std::size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(alloc_block(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

char* concat_strings(const char* a, const char* b) {
  if (b == nullptr) return dup_string(a);
  if (a == nullptr) return dup_string(b);
  std::size_t length_a = std::strlen(a);
  std::size_t length_b = std::strlen(b);
  char* joined = alloc_string(length_a + length_b);
  if (joined == nullptr) return nullptr;
  std::memcpy(joined, a, length_a);
  std::memcpy(joined + length_a, b, length_b + 1);
  return joined;
}

char* append_string(char* a, const char* b) {
  std::size_t length_a = std::strlen(a);
  std::size_t length_b = std::strlen(b);
  if (length_a + length_b < block_capacity(a) && length_a + length_b <= MAX_STRING_LENGTH) {
    std::memcpy(a + length_a, b, length_b + 1);
    return a;
  }
  char* joined = alloc_string(length_a + length_b);
  if (joined == nullptr) return nullptr;
  std::memcpy(joined, a, length_a);
  std::memcpy(joined + length_a, b, length_b + 1);
  release(&a);
  return joined;
}

// Callers pass end - start + 1 to copy the bytes from start up to, not including, end.
char* copy_span(const char* start, std::int32_t count) {
  if (start == nullptr) return nullptr;
  std::size_t wanted = count > 1 ? static_cast<std::size_t>(count) - 1 : 0;
  std::size_t length = 0;
  while (length < wanted && start[length] != '\0')
    ++length;
  char* copy = static_cast<char*>(alloc_block(length + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, start, length);
  copy[length] = '\0';
  return copy;
}

char* append_text(char* position, const char* text) {
  if (text != nullptr) {
    std::size_t length = std::strlen(text);
    std::memcpy(position, text, length);
    position += length;
  }
  *position = '\0';
  return position;
}

const char* format_number(std::int32_t number, char (&digits)[12]) {
  char* end = digits + sizeof digits;
  char* cursor = end;
  *--cursor = '\0';
  // Work on the magnitude as unsigned so that -2147483648 needs no special case.
  std::uint32_t magnitude =
      number < 0 ? 0u - static_cast<std::uint32_t>(number) : static_cast<std::uint32_t>(number);
  do {
    *--cursor = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (number < 0) *--cursor = '-';
  return cursor;
}

char* number_to_text(std::int32_t number) {
  char digits[12];
  return dup_string(format_number(number, digits));
}

char* text_of_value(const Value* value) {
  ScalarSnapshot scalar = read_scalar(value);
  if (scalar.failed) return nullptr;
  char* text;
  if (!scalar.is_string) {
    text = number_to_text(scalar.number);
  } else if (scalar.owned_text != nullptr) {
    text = scalar.owned_text;
    scalar.owned_text = nullptr;
  } else {
    text = dup_string(scalar.text);
  }
  return text;
}

static bool is_white_space(unsigned char byte) {
  return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

std::int32_t number_of_any_value(const Value* value) {
  ScalarSnapshot scalar = read_scalar(value);
  if (!scalar.is_string) return scalar.number;
  return number_of_text(scalar.text);
}

std::int32_t number_of_text(const char* text) {
  const unsigned char* cursor = reinterpret_cast<const unsigned char*>(text);
  if (cursor == nullptr) return 0;
  while (is_white_space(*cursor))
    ++cursor;
  bool negative = false;
  if (*cursor == '+' || *cursor == '-') negative = *cursor++ == '-';
  std::uint32_t number = 0;  // wraps modulo 2^32
  for (; *cursor >= '0' && *cursor <= '9'; ++cursor)
    number = number * 10 + (*cursor - '0');
  return static_cast<std::int32_t>(negative ? 0u - number : number);
}

static int hex_digit(unsigned char byte) {
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  return -1;
}

std::int32_t parse_hex(const char* text) {
  std::uint32_t number = 0;
  for (int digit; text != nullptr && (digit = hex_digit(static_cast<unsigned char>(*text))) >= 0;
       ++text) {
    number = number * 16 + static_cast<std::uint32_t>(digit);
  }
  return static_cast<std::int32_t>(number);
}

std::int32_t parse_octal(const char* text) {
  std::uint32_t number = 0;
  for (; text != nullptr && *text >= '0' && *text <= '7'; ++text)
    number = number * 8 + (*text - '0');
  return static_cast<std::int32_t>(number);
}

// One pass with a read and a write cursor: the same result as replacing each escape in place and
// moving the rest of the text left, without the quadratic cost.
void unescape_text(char* text) {
  if (text == nullptr) return;
  const char* read = text;
  char* write = text;
  while (*read != '\0') {
    unsigned char byte = static_cast<unsigned char>(*read);
    if (is_lead_byte(byte) && read[1] != '\0') {
      *write++ = *read++;
      *write++ = *read++;
      continue;
    }
    if (byte != '\\') {
      *write++ = *read++;
      continue;
    }
    char escape = read[1];
    int produced;
    const char* after;
    switch (escape) {
      case '"':
      case '\\':
        produced = escape;
        after = read + 2;
        break;
      case 'b':
        produced = 0x08;
        after = read + 2;
        break;
      case 'n':
        produced = 0x0A;
        after = read + 2;
        break;
      case 'r':
        produced = 0x0D;
        after = read + 2;
        break;
      case 't':
        produced = 0x09;
        after = read + 2;
        break;
      case 'x': {
        if (read[2] == '\0') {  // a trailing backslash-x disappears
          read += 2;
          continue;
        }
        produced = 0;
        after = read + 2;
        for (int taken = 0; taken < 2; ++taken) {
          int digit = hex_digit(static_cast<unsigned char>(*after));
          if (digit < 0) break;
          produced = produced * 16 + digit;
          ++after;
        }
        break;
      }
      default:
        if (escape >= '0' && escape <= '7') {
          produced = 0;
          after = read + 1;
          for (int taken = 0; taken < 3 && *after >= '0' && *after <= '7'; ++taken) {
            produced = produced * 8 + (*after++ - '0');
          }
          produced &= 0xFF;
          break;
        }
        // Any other byte: the backslash stays and scanning goes on with the next byte.
        *write++ = *read++;
        continue;
    }
    if (produced == 0) break;  // a produced NUL ends the text
    *write++ = static_cast<char>(produced);
    read = after;
  }
  *write = '\0';
}
