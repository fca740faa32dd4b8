// Base64 with the standard alphabet and "=" padding, without line breaks.
#include <array>

#include "builtins/jcode.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of every byte. Bytes outside the alphabet count as 0, so malformed input
// still decodes and never fails.
constexpr std::array<unsigned char, 256> make_sextets() {
  std::array<unsigned char, 256> sextets{};
  for (unsigned char value = 0; value < 64; ++value)
    sextets[static_cast<unsigned char>(kAlphabet[value])] = value;
  return sextets;
}
constexpr std::array<unsigned char, 256> kSextets = make_sextets();

constexpr bool is_skipped(char c) {
  return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

}  // namespace

std::size_t base64_encode(const unsigned char* in, std::size_t count, char* out) {
  char* cursor = out;
  std::size_t i = 0;
  for (; i + 3 <= count; i += 3) {
    std::uint32_t group = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    *cursor++ = kAlphabet[group >> 18];
    *cursor++ = kAlphabet[(group >> 12) & 63];
    *cursor++ = kAlphabet[(group >> 6) & 63];
    *cursor++ = kAlphabet[group & 63];
  }
  std::size_t rest = count - i;
  if (rest > 0) {
    std::uint32_t group = (in[i] << 16) | (rest == 2 ? in[i + 1] << 8 : 0);
    *cursor++ = kAlphabet[group >> 18];
    *cursor++ = kAlphabet[(group >> 12) & 63];
    *cursor++ = rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    *cursor++ = '=';
  }
  return static_cast<std::size_t>(cursor - out);
}

// Stops at the first "=" or the end, wherever it falls in a group of four: a group cut after
// two characters still gives one byte, after three two bytes.
std::size_t base64_decode(const char* in, std::size_t count, unsigned char* out) {
  unsigned char* cursor = out;
  unsigned char group[4];
  int taken = 0;
  for (std::size_t i = 0; i < count && in[i] != '='; ++i) {
    if (is_skipped(in[i])) continue;
    group[taken++] = kSextets[static_cast<unsigned char>(in[i])];
    if (taken == 4) {
      *cursor++ = static_cast<unsigned char>(group[0] << 2 | group[1] >> 4);
      *cursor++ = static_cast<unsigned char>(group[1] << 4 | group[2] >> 2);
      *cursor++ = static_cast<unsigned char>(group[2] << 6 | group[3]);
      taken = 0;
    }
  }
  if (taken >= 2) *cursor++ = static_cast<unsigned char>(group[0] << 2 | group[1] >> 4);
  if (taken == 3) *cursor++ = static_cast<unsigned char>(group[1] << 4 | group[2] >> 2);
  return static_cast<std::size_t>(cursor - out);
}
