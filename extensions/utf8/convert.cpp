#include "convert.h"

#include <cstdint>

#include "cp932_table.h"

namespace utf8ext {
namespace {

constexpr unsigned char kReplacement = '?';
constexpr std::uint32_t kIllFormed = 0xFFFFFFFF;

// Counts the bytes, and stores them when there is somewhere to store them.
struct Output {
  unsigned char* bytes;
  std::size_t count = 0;

  void put(unsigned char byte) {
    if (bytes != nullptr) bytes[count] = byte;
    ++count;
  }
};

// Reads one character from the `left` (at least 1) bytes at `in`; returns how many bytes it took
// and sets `point`, or kIllFormed for the longest prefix that could have begun a character. The
// ranges of the second byte rule out overlong forms, surrogates and values above U+10FFFF.
std::size_t read_utf8(const unsigned char* in, std::size_t left, std::uint32_t* point) {
  unsigned char first = in[0];
  if (first < 0x80) {
    *point = first;
    return 1;
  }
  std::size_t length;
  std::uint32_t value;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2;
    value = first & 0x1Fu;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3;
    value = first & 0x0Fu;
    if (first == 0xE0) low = 0xA0;   // below U+0800: overlong
    if (first == 0xED) high = 0x9F;  // U+D800-U+DFFF: surrogates
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4;
    value = first & 0x07u;
    if (first == 0xF0) low = 0x90;   // below U+10000: overlong
    if (first == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    *point = kIllFormed;  // a continuation byte, C0/C1 (always overlong) or F5-FF
    return 1;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= left || in[i] < low || in[i] > high) {
      *point = kIllFormed;
      return i;
    }
    value = value << 6 | (in[i] & 0x3Fu);
    low = 0x80;
    high = 0xBF;
  }
  *point = value;
  return length;
}

// The CP932 code of a character beyond ASCII, or 0 when CP932 has none.
std::uint16_t find_code(std::uint32_t point) {
  std::size_t low = 0;
  std::size_t high = kUnicodeToCp932Count;
  while (low < high) {
    std::size_t middle = low + (high - low) / 2;
    if (kUnicodeToCp932[middle].code_point < point) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low < kUnicodeToCp932Count && kUnicodeToCp932[low].code_point == point)
    return kUnicodeToCp932[low].code;
  return 0;
}

void put_utf8(Output& out, std::uint32_t point) {
  if (point < 0x80) {
    out.put(static_cast<unsigned char>(point));
  } else if (point < 0x800) {
    out.put(static_cast<unsigned char>(0xC0 | point >> 6));
    out.put(static_cast<unsigned char>(0x80 | (point & 0x3F)));
  } else {  // the tables hold no character beyond U+FFFF
    out.put(static_cast<unsigned char>(0xE0 | point >> 12));
    out.put(static_cast<unsigned char>(0x80 | (point >> 6 & 0x3F)));
    out.put(static_cast<unsigned char>(0x80 | (point & 0x3F)));
  }
}

// The row of a lead byte in kCp932Pairs, or -1 for any other byte.
int lead_index(unsigned char byte) {
  if (byte >= 0x81 && byte <= 0x9F) return byte - 0x81;
  if (byte >= 0xE0 && byte <= 0xFC) return byte - 0xE0 + 0x1F;
  return -1;
}

bool is_trail(unsigned char byte) {
  return byte >= 0x40 && byte <= 0xFC && byte != 0x7F;
}

}  // namespace

std::size_t utf8_to_cp932(const unsigned char* in, std::size_t count, unsigned char* out) {
  Output output{out};
  std::size_t i = 0;
  if (count >= 3 && in[0] == 0xEF && in[1] == 0xBB && in[2] == 0xBF) i = 3;
  while (i < count) {
    std::uint32_t point;
    i += read_utf8(in + i, count - i, &point);
    if (point < 0x80) {
      output.put(static_cast<unsigned char>(point));
      continue;
    }
    std::uint16_t code = point == kIllFormed ? 0 : find_code(point);
    if (code == 0) {
      output.put(kReplacement);
    } else if (code <= 0xFF) {
      output.put(static_cast<unsigned char>(code));
    } else {
      output.put(static_cast<unsigned char>(code >> 8));
      output.put(static_cast<unsigned char>(code & 0xFF));
    }
  }
  return output.count;
}

std::size_t cp932_to_utf8(const unsigned char* in, std::size_t count, unsigned char* out) {
  Output output{out};
  std::size_t i = 0;
  while (i < count) {
    unsigned char byte = in[i];
    int lead = lead_index(byte);
    std::uint32_t point;
    if (lead < 0) {
      point = kCp932SingleBytes[byte];
      i += 1;
    } else if (i + 1 < count && is_trail(in[i + 1])) {
      point = kCp932Pairs[static_cast<std::size_t>(lead) * kCp932TrailCount + (in[i + 1] - 0x40u)];
      if (point == 0) point = 0xFFFF;
      i += 2;
    } else {
      point = 0xFFFF;  // the next byte, if any, is read again on its own
      i += 1;
    }
    if (point == 0xFFFF) {
      output.put(kReplacement);
    } else {
      put_utf8(output, point);
    }
  }
  return output.count;
}

}  // namespace utf8ext
