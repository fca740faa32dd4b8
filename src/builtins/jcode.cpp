// Japanese code conversion between Shift_JIS (the text of scripts), JIS (ISO-2022-JP) and EUC-JP,
// code detection, and the built-ins of this family, the Base64 ones included.
#include "builtins/jcode.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "base/cp932.h"
#include "builtins/args.h"
#include "platform/memory.h"

namespace {

constexpr unsigned char ESC = 0x1B;
constexpr unsigned char SO = 0x0E;  // shift out: half-width katakana follow, as 7-bit bytes
constexpr unsigned char SI = 0x0F;  // shift in

constexpr bool is_trail_byte(unsigned byte) {
  return byte >= 0x40 && byte <= 0xFC && byte != 0x7F;
}
constexpr bool is_half_width_kana(unsigned byte) {
  return byte >= 0xA0 && byte <= 0xDF;
}
constexpr bool is_euc_byte(unsigned byte) {
  return byte >= 0xA1 && byte <= 0xFE;
}
constexpr bool is_jis_byte(unsigned byte) {
  return byte >= 0x21 && byte <= 0x7E;
}

struct BytePair {
  unsigned char first;
  unsigned char second;
};

// The JIS X 0208 row and cell bytes of a Shift_JIS pair. There is no range check: bytes outside
// the tables go through the same arithmetic, modulo 256.
constexpr BytePair jis_of_sjis(unsigned s1, unsigned s2) {
  unsigned j1 = s1 < 0xA0 ? 2 * (s1 - 0x70) - 1 : 2 * (s1 - 0xB0) - 1;
  unsigned j2 = s2 - 0x1F;
  if (s2 >= 0x9F) {
    j1 += 1;
    j2 = s2 - 0x7E;
  } else if (s2 >= 0x80) {
    j2 = s2 - 0x20;
  }
  return {static_cast<unsigned char>(j1), static_cast<unsigned char>(j2)};
}

constexpr BytePair sjis_of_jis(unsigned j1, unsigned j2) {
  unsigned s2 = (j1 & 1) != 0 ? (j2 < 0x60 ? j2 + 0x1F : j2 + 0x20) : j2 + 0x7E;
  unsigned s1 = j1 < 0x5F ? (j1 + 0xE1) / 2 : (j1 + 0x161) / 2;
  return {static_cast<unsigned char>(s1), static_cast<unsigned char>(s2)};
}

// The JIS X 0208 code of each half-width katakana byte 0xA0-0xDF.
constexpr std::array<std::uint16_t, 64> make_kana_table() {
  std::array<std::uint16_t, 64> table{};
  auto run = [&table](unsigned first, unsigned last, unsigned code, unsigned step) {
    for (unsigned byte = first; byte <= last; ++byte, code += step)
      table[byte - 0xA0] = static_cast<std::uint16_t>(code);
  };
  run(0xA0, 0xA0, 0x2121, 0);  // ideographic space
  run(0xA1, 0xA1, 0x2123, 0);  // punctuation
  run(0xA2, 0xA3, 0x2156, 1);
  run(0xA4, 0xA4, 0x2122, 0);
  run(0xA5, 0xA5, 0x2126, 0);
  run(0xA6, 0xA6, 0x2572, 0);  // wo
  run(0xA7, 0xAB, 0x2521, 2);  // small vowels
  run(0xAC, 0xAE, 0x2563, 2);  // small ya, yu, yo
  run(0xAF, 0xAF, 0x2543, 0);  // small tsu
  run(0xB0, 0xB0, 0x213C, 0);  // prolonged sound mark
  run(0xB1, 0xB5, 0x2522, 2);  // a i u e o
  run(0xB6, 0xC1, 0x252B, 2);  // ka .. chi
  run(0xC2, 0xC4, 0x2544, 2);  // tsu te to
  run(0xC5, 0xC9, 0x254A, 1);  // na .. no
  run(0xCA, 0xCE, 0x254F, 3);  // ha .. ho
  run(0xCF, 0xD3, 0x255E, 1);  // ma .. mo
  run(0xD4, 0xD6, 0x2564, 2);  // ya yu yo
  run(0xD7, 0xDB, 0x2569, 1);  // ra .. ro
  run(0xDC, 0xDC, 0x256F, 0);  // wa
  run(0xDD, 0xDD, 0x2573, 0);  // n
  run(0xDE, 0xDF, 0x212B, 1);  // voiced and semi-voiced sound marks
  return table;
}
constexpr std::array<std::uint16_t, 64> kKana = make_kana_table();

// The one full-width code of a half-width katakana byte followed by a sound mark, or 0 when the
// two do not combine.
constexpr unsigned combined_kana(unsigned byte, unsigned mark) {
  unsigned code = kKana[byte - 0xA0];
  bool voices = (byte >= 0xB6 && byte <= 0xC4) || (byte >= 0xCA && byte <= 0xCE);
  if (mark == 0xDE && byte == 0xB3) return 0x2574;  // vu
  if (mark == 0xDE && voices) return code + 1;
  if (mark == 0xDF && byte >= 0xCA && byte <= 0xCE) return code + 2;
  return 0;
}

unsigned char* put_escape(unsigned char* cursor, unsigned char first, unsigned char second) {
  *cursor++ = ESC;
  *cursor++ = first;
  *cursor++ = second;
  return cursor;
}

unsigned char* put_pair(unsigned char* cursor, BytePair pair) {
  *cursor++ = pair.first;
  *cursor++ = pair.second;
  return cursor;
}

}  // namespace

CodeType detect_code_type(const unsigned char* text, std::size_t count) {
  constexpr unsigned KANA = 1, SJIS = 2, EUC_KANA = 4, EUC = 8;  // the marks of a byte pair
  bool ambiguous = false;
  for (std::size_t i = 0; i < count;) {
    unsigned b0 = text[i];
    unsigned b1 = i + 1 < count ? text[i + 1] : 0;
    unsigned b2 = i + 2 < count ? text[i + 2] : 0;
    if (b0 == ESC && b1 == '$' && (b2 == 'B' || b2 == '@')) return CODE_JIS;
    unsigned marks = (is_half_width_kana(b0) ? KANA : 0) |
                     (is_lead_byte(b0) && is_trail_byte(b1) ? SJIS : 0) |
                     (b0 == 0x8E && is_half_width_kana(b1) ? EUC_KANA : 0) |
                     (is_euc_byte(b0) && b1 >= 0xA1 ? EUC : 0);
    if (marks == SJIS) return CODE_SHIFT_JIS;
    if (marks == EUC) return CODE_EUC;
    // Two half-width katakana or one EUC character: EUC-JP unless something decides otherwise.
    if (marks == (KANA | EUC)) ambiguous = true;
    i += marks == 0 ? 1 : 2;
  }
  return ambiguous ? CODE_EUC : CODE_NONE;
}

std::size_t sjis_to_jis(const unsigned char* in, std::size_t count, unsigned char* out) {
  unsigned char* cursor = out;
  bool double_byte = false;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned byte = in[i];
    // A lead byte that ends the text has no pair; it goes out as a single byte.
    bool pair = is_lead_byte(byte) && i + 1 < count;
    if (pair || is_half_width_kana(byte)) {
      if (!double_byte) cursor = put_escape(cursor, '$', 'B');
      double_byte = true;
      if (pair) {
        cursor = put_pair(cursor, jis_of_sjis(byte, in[i + 1]));
        ++i;
        continue;
      }
      unsigned code = i + 1 < count ? combined_kana(byte, in[i + 1]) : 0;
      if (code != 0)
        ++i;
      else
        code = kKana[byte - 0xA0];
      cursor = put_pair(
          cursor, {static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code & 0xFF)});
      continue;
    }
    if (double_byte) cursor = put_escape(cursor, '(', 'B');
    double_byte = false;
    *cursor++ = static_cast<unsigned char>(byte);
  }
  if (double_byte) cursor = put_escape(cursor, '(', 'B');
  return static_cast<std::size_t>(cursor - out);
}

std::size_t jis_to_sjis(const unsigned char* in, std::size_t count, unsigned char* out) {
  unsigned char* cursor = out;
  bool kanji = false;
  bool kana_g2 = false;
  std::size_t i = 0;
  while (i < count) {
    unsigned byte = in[i];
    if (byte == ESC && i + 1 < count) {
      // A missing third byte reads as 0, which is "any other byte" to every rule below.
      unsigned char second = in[i + 1];
      unsigned char third = i + 2 < count ? in[i + 2] : 0;
      std::size_t length = i + 2 < count ? 3 : 2;
      switch (second) {
        case '$':
          if (third == '@' || third == 'B') {
            kanji = true;
          } else {
            std::memcpy(cursor, in + i, length);
            cursor += length;
          }
          i += length;
          continue;
        case '(':
          kanji = false;
          if (third != 'B' && third != 'J' && third != 'H') {
            std::memcpy(cursor, in + i, length);
            cursor += length;
          }
          i += length;
          continue;
        case '*':  // other designations than these two are dropped whole
          if (third == 'I') kana_g2 = true;
          if (third == 'B') kana_g2 = false;
          i += length;
          continue;
        case 'K':
          kanji = true;
          i += 2;
          continue;
        case 'H':
          kanji = false;
          i += 2;
          continue;
        case 'N':
          if (kana_g2) {  // single shift: one half-width katakana
            if (length == 3) *cursor++ = static_cast<unsigned char>(third + 0x80);
            i += length;
            continue;
          }
          break;
        default:
          break;
      }
      *cursor++ = ESC;
      *cursor++ = second;
      i += 2;
    } else if (kanji && is_jis_byte(byte)) {
      // A JIS byte that ends the text has no pair and is copied.
      if (i + 1 == count) {
        *cursor++ = static_cast<unsigned char>(byte);
        ++i;
        continue;
      }
      unsigned next = in[i + 1];
      if (is_jis_byte(next)) {
        cursor = put_pair(cursor, sjis_of_jis(byte, next));
      } else {
        *cursor++ = static_cast<unsigned char>(byte);
        *cursor++ = static_cast<unsigned char>(next);
      }
      i += 2;
    } else if (byte == SO) {
      for (++i; i < count && in[i] != SI; ++i)
        *cursor++ = static_cast<unsigned char>(in[i] + 0x80);
      if (i < count) ++i;  // the SI itself is dropped
    } else {
      *cursor++ = static_cast<unsigned char>(byte);
      ++i;
    }
  }
  return static_cast<std::size_t>(cursor - out);
}

std::size_t sjis_to_euc(const unsigned char* in, std::size_t count, unsigned char* out) {
  unsigned char* cursor = out;
  for (std::size_t i = 0; i < count; ++i) {
    if (is_lead_byte(in[i]) && i + 1 < count) {
      BytePair jis = jis_of_sjis(in[i], in[i + 1]);
      cursor = put_pair(cursor, {static_cast<unsigned char>(jis.first + 0x80),
                                 static_cast<unsigned char>(jis.second + 0x80)});
      ++i;
    } else {
      *cursor++ = in[i];
    }
  }
  return static_cast<std::size_t>(cursor - out);
}

std::size_t euc_to_sjis(const unsigned char* in, std::size_t count, unsigned char* out) {
  unsigned char* cursor = out;
  for (std::size_t i = 0; i < count; ++i) {
    if (is_euc_byte(in[i]) && i + 1 < count && is_euc_byte(in[i + 1])) {
      cursor = put_pair(cursor, sjis_of_jis(in[i] - 0x80u, in[i + 1] - 0x80u));
      ++i;
    } else {
      *cursor++ = in[i];
    }
  }
  return static_cast<std::size_t>(cursor - out);
}

// ---- Built-ins ----

namespace {

using Converter = std::size_t (*)(const unsigned char* in, std::size_t count, unsigned char* out);

std::int32_t fail(char* message, const char* text) {
  std::snprintf(message, LUMO_MESSAGE_SIZE, "%s", text);
  return LUMO_STATUS_FAILED;
}

// Makes the result an exactly sized string of the first `count` bytes of `buffer` (which has room
// for `capacity` bytes, at least count + 1) and releases the buffer, or hands the buffer over
// when it is exactly the right size. False when memory runs out.
bool set_result_text(ValueNode* result, unsigned char* buffer, std::size_t count,
                     std::size_t capacity) {
  auto* text = count > MAX_STRING_LENGTH ? nullptr
               : count + 1 == capacity   ? reinterpret_cast<char*>(buffer)
                                         : alloc_string(count);
  if (text == nullptr) {
    release(&buffer);
    return false;
  }
  if (text != reinterpret_cast<char*>(buffer)) {
    std::memcpy(text, buffer, count);
    release(&buffer);
  }
  text[count] = '\0';
  result->value->data.text = text;
  result->value->is_string = 1;
  return true;
}

std::size_t same_size(std::size_t count) {
  return count;
}

// Converts `count` bytes into a buffer of the converter's worst-case size and makes the output
// the result string. False when memory runs out.
bool convert_into_result(const unsigned char* in, std::size_t count, ValueNode* result,
                         Converter convert, std::size_t (*capacity_for)(std::size_t) = same_size) {
  std::size_t capacity = capacity_for(count) + 1;
  auto* buffer = static_cast<unsigned char*>(alloc_block(capacity));
  return buffer != nullptr && set_result_text(result, buffer, convert(in, count, buffer), capacity);
}

// Converts the text of the first argument; `failure` is the message when memory runs out.
std::int32_t convert_text(ValueNode* arguments, ValueNode* result, char* message, Converter convert,
                          std::size_t (*capacity_for)(std::size_t), const char* failure) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  char* text = read_string_arg(arguments);
  bool done =
      text != nullptr && convert_into_result(reinterpret_cast<unsigned char*>(text),
                                             std::strlen(text), result, convert, capacity_for);
  release(&text);
  return done ? LUMO_STATUS_OK : fail(message, failure);
}

std::size_t copy_bytes(const unsigned char* in, std::size_t count, unsigned char* out) {
  std::memcpy(out, in, count);
  return count;
}

std::size_t encode_bytes(const unsigned char* in, std::size_t count, unsigned char* out) {
  return base64_encode(in, count, reinterpret_cast<char*>(out));
}

// The number of bytes before the first 0 byte, or `count` without one: bytes read as a string.
std::size_t bytes_before_zero(const unsigned char* bytes, std::size_t count) {
  const void* zero = std::memchr(bytes, 0, count);
  return zero != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - bytes)
                         : count;
}

// The decoded text ends at its first 0 byte.
std::size_t decode_text(const unsigned char* in, std::size_t count, unsigned char* out) {
  return bytes_before_zero(out, base64_decode(reinterpret_cast<const char*>(in), count, out));
}

}  // namespace

// Lead bytes are CP932's whatever the system code page, like every other text walker's.
std::int32_t LUMO_CALL builtin_isleadchar(CallContext*, ValueNode* arguments, ValueNode* result,
                                          char*) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  const Value* value = arguments->value;
  result->value->data.number =
      value->is_string && is_lead_byte(static_cast<unsigned char>(value->data.text[0])) ? 1 : 0;
  return LUMO_STATUS_OK;
}

std::int32_t LUMO_CALL builtin_getcodetype(CallContext*, ValueNode* arguments, ValueNode* result,
                                           char*) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  const Value* value = arguments->value;
  if (value->is_string) {
    const auto* text = reinterpret_cast<const unsigned char*>(value->data.text);
    result->value->data.number = detect_code_type(text, std::strlen(value->data.text));
  }
  return LUMO_STATUS_OK;
}

std::int32_t LUMO_CALL builtin_sjistojis(CallContext*, ValueNode* arguments, ValueNode* result,
                                         char* message) {
  return convert_text(arguments, result, message, sjis_to_jis, sjis_to_jis_capacity,
                      "SjisToJis: Alloc failed");
}

std::int32_t LUMO_CALL builtin_jistosjis(CallContext*, ValueNode* arguments, ValueNode* result,
                                         char* message) {
  return convert_text(arguments, result, message, jis_to_sjis, same_size,
                      "JisToSjis: Alloc failed");
}

std::int32_t LUMO_CALL builtin_sjistoeuc(CallContext*, ValueNode* arguments, ValueNode* result,
                                         char* message) {
  return convert_text(arguments, result, message, sjis_to_euc, same_size,
                      "EucToSjis: Alloc failed");
}

std::int32_t LUMO_CALL builtin_euctosjis(CallContext*, ValueNode* arguments, ValueNode* result,
                                         char* message) {
  return convert_text(arguments, result, message, euc_to_sjis, same_size,
                      "EucToSjis: Alloc failed");
}

// No message of its own: running out of memory fails the call with an empty message.
std::int32_t LUMO_CALL builtin_hashtosjis(CallContext*, ValueNode* arguments, ValueNode* result,
                                          char*) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int32_t total = 0;
  unsigned char* bytes = read_bytes_from_hash(arguments, &total);
  if (bytes == nullptr) return LUMO_STATUS_FAILED;
  std::size_t count = bytes_before_zero(bytes, static_cast<std::size_t>(total));
  CodeType type = detect_code_type(bytes, count);
  Converter convert = type == CODE_JIS ? jis_to_sjis : type == CODE_EUC ? euc_to_sjis : copy_bytes;
  bool done = convert_into_result(bytes, count, result, convert);
  release(&bytes);
  return done ? LUMO_STATUS_OK : LUMO_STATUS_FAILED;
}

std::int32_t LUMO_CALL builtin_base64decode(CallContext*, ValueNode* arguments, ValueNode* result,
                                            char* message) {
  return convert_text(arguments, result, message, decode_text, same_size,
                      "Base64Decode: Alloc failed");
}

std::int32_t LUMO_CALL builtin_base64decodehash(CallContext* context, ValueNode* arguments,
                                                ValueNode*, char* message) {
  constexpr const char* kFailure = "Base64Decode: Alloc failed";
  if (arguments == nullptr || arguments->next == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  char* text = read_string_arg(arguments);
  if (text == nullptr) return fail(message, kFailure);
  std::size_t count = std::strlen(text);
  auto* bytes = static_cast<unsigned char*>(alloc_block(count));
  bool done = bytes != nullptr;
  if (done) {
    std::size_t decoded = base64_decode(text, count, bytes);
    ValueNode* owner = arguments->next->value->owner;
    done = store_bytes_in_hash(context, owner, bytes, static_cast<std::int32_t>(decoded));
  }
  release(&bytes);
  release(&text);
  return done ? LUMO_STATUS_OK : fail(message, kFailure);
}

std::int32_t LUMO_CALL builtin_base64encode(CallContext*, ValueNode* arguments, ValueNode* result,
                                            char* message) {
  return convert_text(arguments, result, message, encode_bytes, base64_encode_capacity,
                      "Base64Encode: Alloc failed");
}

// No message of its own: running out of memory fails the call with an empty message.
std::int32_t LUMO_CALL builtin_base64encodehash(CallContext*, ValueNode* arguments,
                                                ValueNode* result, char*) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int32_t count = 0;
  unsigned char* bytes = read_bytes_from_hash(arguments, &count);
  bool done = bytes != nullptr && convert_into_result(bytes, static_cast<std::size_t>(count),
                                                      result, encode_bytes, base64_encode_capacity);
  release(&bytes);
  return done ? LUMO_STATUS_OK : LUMO_STATUS_FAILED;
}
