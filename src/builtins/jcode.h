// Japanese code conversion (Shift_JIS, JIS, EUC-JP) and Base64: the byte converters and the
// built-ins that call them.
//
// Every converter reads exactly `count` bytes (0 bytes included) and writes at most the matching
// capacity into `out`; it returns the number of bytes written. Nothing is ever read past `count`:
// an escape sequence or a pair cut short by the end is handled as if the missing byte were "any
// other byte", and only the bytes that are there are emitted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/value.h"

enum CodeType : std::int32_t {
  CODE_NONE = 0,
  CODE_SHIFT_JIS = 1,
  CODE_JIS = 2,
  CODE_EUC = 3,
};

// Which encoding the bytes use, from the first deciding byte pair.
CodeType detect_code_type(const unsigned char* text, std::size_t count);

// Shift_JIS to JIS. The worst case alternates half-width katakana (5 bytes with the shift into
// kanji) and single bytes (4 with the shift out), plus the final shift out: 4.5 per byte + 3.5.
constexpr std::size_t sjis_to_jis_capacity(std::size_t count) {
  return 9 * count / 2 + 4;
}
std::size_t sjis_to_jis(const unsigned char* in, std::size_t count, unsigned char* out);
// JIS to Shift_JIS, Shift_JIS to EUC-JP, EUC-JP to Shift_JIS: never longer than the input.
std::size_t jis_to_sjis(const unsigned char* in, std::size_t count, unsigned char* out);
std::size_t sjis_to_euc(const unsigned char* in, std::size_t count, unsigned char* out);
std::size_t euc_to_sjis(const unsigned char* in, std::size_t count, unsigned char* out);

constexpr std::size_t base64_encode_capacity(std::size_t count) {
  return (count + 2) / 3 * 4;
}
std::size_t base64_encode(const unsigned char* in, std::size_t count, char* out);
// Decoding gives at most 3 bytes per 4 characters, so never more than the input.
std::size_t base64_decode(const char* in, std::size_t count, unsigned char* out);

// The built-ins, with the calling convention of every native function.
std::int32_t LUMO_CALL builtin_isleadchar(CallContext* context, ValueNode* arguments,
                                          ValueNode* result, char* message);
std::int32_t LUMO_CALL builtin_getcodetype(CallContext* context, ValueNode* arguments,
                                           ValueNode* result, char* message);
std::int32_t LUMO_CALL builtin_sjistojis(CallContext* context, ValueNode* arguments,
                                         ValueNode* result, char* message);
std::int32_t LUMO_CALL builtin_jistosjis(CallContext* context, ValueNode* arguments,
                                         ValueNode* result, char* message);
std::int32_t LUMO_CALL builtin_sjistoeuc(CallContext* context, ValueNode* arguments,
                                         ValueNode* result, char* message);
std::int32_t LUMO_CALL builtin_euctosjis(CallContext* context, ValueNode* arguments,
                                         ValueNode* result, char* message);
std::int32_t LUMO_CALL builtin_hashtosjis(CallContext* context, ValueNode* arguments,
                                          ValueNode* result, char* message);
std::int32_t LUMO_CALL builtin_base64decode(CallContext* context, ValueNode* arguments,
                                            ValueNode* result, char* message);
std::int32_t LUMO_CALL builtin_base64decodehash(CallContext* context, ValueNode* arguments,
                                                ValueNode* result, char* message);
std::int32_t LUMO_CALL builtin_base64encode(CallContext* context, ValueNode* arguments,
                                            ValueNode* result, char* message);
std::int32_t LUMO_CALL builtin_base64encodehash(CallContext* context, ValueNode* arguments,
                                                ValueNode* result, char* message);
